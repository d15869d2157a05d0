// The SDK as a client of a device that says whatever the fuzzer says: a
// loopback listener plays the device, and the fuzzer's bytes are what it
// sends on the connections the SDK opens, after which it closes its sending
// side. The SDK logs in, then runs a record query, a live stream or a
// history stream, and closes everything.
//
// Input: byte 0 chooses the story (record query, live, history); bytes 1-2
// (u16, little-endian) are how many of the following bytes go to the
// command connection; the rest go to the media connection.
//
// Nothing here waits for a time-out: the device always ends what it sends,
// so every read of the SDK ends with the data or the end of the stream.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <span>
#include <thread>
#include <vector>

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/Socket.h"

namespace {

struct Device {
  devlink::Socket listener;
  uint16_t port = 0;
  int wake[2] = {-1, -1};  // a byte on wake[1] tells serve() the story is over
};

Device& device() {
  static Device* d = [] {
    auto* made = new Device;
    devlink::Socket::listenOn("127.0.0.1", 0, made->listener, made->port);
    if (::pipe2(made->wake, O_CLOEXEC | O_NONBLOCK) != 0) made->listener.close();
    DLSDK_StartUp();
    // The device always ends what it sends, so no read should wait this
    // long; short enough that one that does cannot stall the run.
    DLSDK_SetAttribute(DLSDK_ATTR_COMMAND_TIMEOUT_MS, 500);
    return made;
  }();
  return *d;
}

// A connection the SDK gave up on before it was accepted belongs to an
// earlier input: dropped before the next story starts, so that this input's
// bytes go where they belong.
void dropStaleConnections() {
  for (;;) {
    pollfd p{device().listener.fd(), POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return;
    if (!device().listener.accept().valid()) return;
  }
}

void serve(std::span<const std::span<const uint8_t>> parts) {
  std::vector<devlink::Socket> open;
  size_t next = 0;
  for (;;) {
    pollfd p[2] = {{device().wake[0], POLLIN, 0}, {device().listener.fd(), POLLIN, 0}};
    // Once every part is out, only the end of the story is awaited.
    if (::poll(p, next < parts.size() ? 2 : 1, -1) < 0 && errno != EINTR) return;
    if (p[0].revents & POLLIN) {
      uint8_t byte;
      while (::read(device().wake[0], &byte, 1) == 1) {
      }
      return;
    }
    if (!(p[1].revents & POLLIN)) continue;
    devlink::Socket s = device().listener.accept();
    if (!s.valid()) return;
    s.sendAll(parts[next].data(), parts[next].size(), 1000);
    ::shutdown(s.fd(), SHUT_WR);
    open.push_back(std::move(s));
    ++next;
  }
}

int countFrame(int32_t, const DLSDK_MediaFrame* frame, void* context) {
  auto* bytes = static_cast<std::atomic<uint64_t>*>(context);
  if (frame && frame->data) bytes->fetch_add(frame->length);
  return 1;
}

void noteEnd(int32_t, int32_t, void* context) { static_cast<std::atomic<bool>*>(context)->store(true); }

// Waits (briefly) until the stream has read everything the device sent.
void drain(int32_t stream, std::atomic<bool>& ended) {
  if (DLSDK_StreamEndCB(stream, noteEnd, &ended) != DLSDK_OK) return;  // over already
  for (int i = 0; i < 500 && !ended.load(); ++i) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

void story(int kind, uint16_t port) {
  DLSDK_LoginInfo info{};
  std::strcpy(info.address, "127.0.0.1");
  info.commandPort = port;
  std::strcpy(info.user, "admin");
  std::strcpy(info.password, "admin");
  int32_t login = -1;
  if (DLSDK_UserLogin(&login, &info) != DLSDK_OK) return;
  std::atomic<uint64_t> bytes{0};
  std::atomic<bool> ended{false};
  if (kind == 0) {
    DLSDK_RecordQueryRequest q{};
    q.reserved1 = 1;
    q.typeMask = 63;
    std::memcpy(q.begin, "20240506000000", 15);
    std::memcpy(q.end, "20240506235959", 15);
    int32_t query = -1;
    if (DLSDK_HistoryStreamMultiTypeQueryConnect(&query, login, &q) == DLSDK_OK) {
      DLSDK_RecordQueryItem item;
      for (int i = 0; i <= 2048 && DLSDK_HistoryStreamMultiTypeQueryNext(query, &item) == DLSDK_OK; ++i) {
      }
      DLSDK_HistoryStreamQueryDisconnect(query);
    }
  } else if (kind == 1) {
    DLSDK_LiveStreamRequest r{0, 1, DLSDK_STREAM_THIRD, port, {}};
    int32_t stream = -1;
    if (DLSDK_RealStreamConnect(&stream, login, &r) == DLSDK_OK) {
      DLSDK_StreamMediaCB(stream, countFrame, &bytes);
      drain(stream, ended);
      DLSDK_RealStreamDisconnect(stream);
    }
  } else {
    DLSDK_HistoryStreamRequest r{};
    r.reserved1 = 1;
    r.start = DLSDK_Time{2024, 5, 6, 10, 0, 0};
    r.end = DLSDK_Time{2024, 5, 6, 11, 0, 0};
    r.typeMask = 63;
    r.reserved3 = 1;
    r.mediaPort = port;
    int32_t stream = -1;
    if (DLSDK_HistoryStreamMultiTypeCreate(&stream, login, &r) == DLSDK_OK) {
      DLSDK_StreamMediaCB(stream, countFrame, &bytes);
      DLSDK_StreamMediaControl(stream, 1);
      drain(stream, ended);
      DLSDK_HistoryStreamDestroy(stream);
    }
  }
  DLSDK_UserLogout(login);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  Device& d = device();
  if (!d.listener.valid()) return 0;
  const int kind = data[0] % 3;
  const size_t commandBytes = std::min<size_t>(data[1] | (data[2] << 8), size - 3);
  const std::span<const uint8_t> parts[2] = {{data + 3, commandBytes},
                                             {data + 3 + commandBytes, size - 3 - commandBytes}};
  dropStaleConnections();
  std::thread dev([&] { serve(parts); });
  story(kind, d.port);
  const uint8_t over = 1;
  while (::write(d.wake[1], &over, 1) < 0 && errno == EINTR) {
  }
  dev.join();
  return 0;
}
