// Malformed and hostile input on both sides of the DevLink protocol: a fake
// device that answers the SDK with broken messages, and a raw client that
// sends broken messages to the simulator. Each side answers with a code and
// closes the connection; nothing else is affected.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/Socket.h"
#include "platform/devlink/WireFormat.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using namespace std::chrono_literals;
namespace wire = devlink::wire;

// Serves each accepted connection with a script, one after another.
class FakeDevice {
 public:
  explicit FakeDevice(std::function<void(devlink::Socket&)> script) : script_(std::move(script)) {
    EXPECT_TRUE(devlink::Socket::listenOn("127.0.0.1", 0, listener_, port_));
    thread_ = std::thread([this] {
      for (;;) {
        devlink::Socket s = listener_.accept();
        if (!s.valid()) return;
        script_(s);
      }
    });
  }
  ~FakeDevice() {
    listener_.shutdownBoth();
    thread_.join();
  }
  uint16_t port() const { return port_; }

 private:
  std::function<void(devlink::Socket&)> script_;
  devlink::Socket listener_;
  uint16_t port_ = 0;
  std::thread thread_;
};

// Reads one request and answers it with raw bytes.
std::function<void(devlink::Socket&)> answerWith(std::vector<uint8_t> bytes) {
  return [bytes](devlink::Socket& s) {
    wire::MessageReader reader;
    wire::Message m;
    if (s.readMessage(reader, m, 2000) != 0) return;
    s.sendAll(bytes.data(), bytes.size(), 2000);
    std::this_thread::sleep_for(50ms);
  };
}

std::vector<uint8_t> header(uint16_t type, uint16_t result, uint32_t id, uint32_t length) {
  std::vector<uint8_t> h(wire::kMessageHeaderSize);
  wire::encodeHeader(h.data(), wire::MessageHeader{type, result, id, length});
  return h;
}

class HostileTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { av_log_set_level(AV_LOG_QUIET); }
  void SetUp() override {
    DLSDK_StartUp();
    DLSDK_SetAttribute(DLSDK_ATTR_COMMAND_TIMEOUT_MS, 1000);
  }
  void TearDown() override { DLSDK_CleanUp(); }

  static int loginAt(uint16_t port, int32_t& handle) {
    DLSDK_LoginInfo info{};
    std::strcpy(info.address, "127.0.0.1");
    info.commandPort = port;
    std::strcpy(info.user, "admin");
    std::strcpy(info.password, "admin");
    return DLSDK_UserLogin(&handle, &info);
  }
};

TEST_F(HostileTest, SdkRefusesMalformedReplies) {
  struct Case {
    const char* name;
    std::vector<uint8_t> reply;
    int expected;
  };
  std::vector<uint8_t> badMagic = header(wire::kLogin, 0, 1, 0);
  badMagic[0] ^= 0xFF;
  std::vector<uint8_t> shortBody = header(wire::kLogin, 0, 1, 3);
  shortBody.insert(shortBody.end(), {1, 2, 3});
  std::vector<uint8_t> halfHeader = header(wire::kLogin, 0, 1, 0);
  halfHeader.resize(7);
  const std::vector<Case> cases{
      {"bad magic", badMagic, DLSDK_ERR_PROTOCOL},
      {"huge length", header(wire::kLogin, 0, 1, 0xFFFFFFFF), DLSDK_ERR_PROTOCOL},
      {"unknown type", header(0x7777, 0, 1, 0), DLSDK_ERR_PROTOCOL},
      {"reply to another request", header(wire::kLogin, 0, 99, 0), DLSDK_ERR_PROTOCOL},
      {"body of the wrong size", shortBody, DLSDK_ERR_PROTOCOL},
      {"promised body never comes", header(wire::kLogin, 0, 1, 1000), DLSDK_ERR_CONNECT},
      {"half a header", halfHeader, DLSDK_ERR_CONNECT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDevice device(answerWith(c.reply));
    int32_t h = 0;
    EXPECT_EQ(loginAt(device.port(), h), c.expected);
    EXPECT_EQ(h, -1);
  }
}

TEST_F(HostileTest, ABrokenFrameEndsOnlyItsStream) {
  // A device whose login works and whose media port sends one good frame,
  // then a frame whose header claims more payload than it carries.
  FakeDevice command([](devlink::Socket& s) {
    wire::MessageReader reader;
    wire::Message m;
    while (s.readMessage(reader, m, 3000) == 0) {
      std::vector<uint8_t> body;
      if (m.header.type == wire::kLogin) body = wire::encode(wire::LoginReply{{1, 2}, 1});
      s.sendMessage(m.header.type, 0, m.header.requestId, body, 1000);
    }
  });
  FakeDevice media([](devlink::Socket& s) {
    wire::MessageReader reader;
    wire::Message m;
    if (s.readMessage(reader, m, 3000) != 0) return;
    s.sendMessage(m.header.type, 0, m.header.requestId, wire::encode(wire::StreamInfo{352, 288, 2, 0, 25}), 1000);
    std::vector<uint8_t> frame(wire::kFrameHeaderSize + 4, 0);
    wire::FrameHeader h;
    h.kind = wire::kKeyFrame;
    h.format = wire::kH264;
    h.payloadLength = 4;
    wire::encodeFrameHeader(frame.data(), h);
    s.sendMessage(wire::kFrame, 0, 0, frame, 1000);
    h.payloadLength = 400;  // a lie
    wire::encodeFrameHeader(frame.data(), h);
    s.sendMessage(wire::kFrame, 0, 0, frame, 1000);
    std::this_thread::sleep_for(300ms);
  });
  int32_t login = -1, stream = -1;
  ASSERT_EQ(loginAt(command.port(), login), DLSDK_OK);
  DLSDK_LiveStreamRequest r{0, 1, DLSDK_STREAM_THIRD, media.port(), {}};
  ASSERT_EQ(DLSDK_RealStreamConnect(&stream, login, &r), DLSDK_OK);
  std::atomic<int> frames{0};
  ASSERT_EQ(DLSDK_StreamMediaCB(stream, [](int32_t, const DLSDK_MediaFrame*, void* c) -> int {
              ++*static_cast<std::atomic<int>*>(c);
              return 1;
            }, &frames), DLSDK_OK);
  // Waits until the stream is known to have ended: a control then fails.
  int rc = DLSDK_OK;
  for (int i = 0; i < 200 && rc == DLSDK_OK; ++i) {
    std::this_thread::sleep_for(10ms);
    rc = DLSDK_StreamMediaControl(stream, 1);
  }
  EXPECT_EQ(rc, DLSDK_ERR_CONNECT);
  EXPECT_LE(frames.load(), 1);
  EXPECT_EQ(DLSDK_RealStreamDisconnect(stream), DLSDK_OK);
  // The login is untouched.
  EXPECT_EQ(DLSDK_ForceIFrame(login, 0), DLSDK_OK);
  EXPECT_EQ(DLSDK_UserLogout(login), DLSDK_OK);
}

// Sends raw bytes to a port of the simulator and answers the reply header
// (type 0 when the connection closed without a reply) and whether the
// simulator closed the connection afterwards.
struct RawResult {
  uint16_t replyType = 0;
  uint16_t result = 0;
  bool closed = false;
};
RawResult sendRaw(uint16_t port, const std::vector<uint8_t>& bytes) {
  RawResult out;
  devlink::Socket s;
  if (devlink::Socket::connectTo("127.0.0.1", port, 1000, 0, 0, s) != 0) return out;
  s.sendAll(bytes.data(), bytes.size(), 1000);
  wire::MessageReader reader;
  wire::Message m;
  const int rc = s.readMessage(reader, m, 3000);
  if (rc == 0) {
    out.replyType = m.header.type;
    out.result = m.header.result;
  }
  out.closed = rc == DLSDK_ERR_CONNECT || s.readMessage(reader, m, 3000) == DLSDK_ERR_CONNECT;
  return out;
}

TEST_F(HostileTest, SimulatorClosesConnectionsThatSendGarbage) {
  devsim::DevSimOptions o;
  o.commandPort = 0;
  o.mediaPort = 0;
  o.loopSeconds = 1;
  devsim::DevSimServer server(o);
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;

  std::vector<uint8_t> garbage(100, 0xA5);
  for (uint16_t port : {server.commandPort(), server.mediaPort()}) {
    SCOPED_TRACE(port);
    RawResult r = sendRaw(port, garbage);
    EXPECT_EQ(r.replyType, 0);
    EXPECT_TRUE(r.closed);
    r = sendRaw(port, header(wire::kLogin, 0, 1, 0xFFFFFFF0));
    EXPECT_TRUE(r.closed);
    r = sendRaw(port, header(wire::kFrame, 0, 1, 0));
    EXPECT_TRUE(r.closed);
  }
  // A well-framed login with a body of the wrong size: refused with a code.
  std::vector<uint8_t> shortLogin = header(wire::kLogin, 0, 5, 10);
  shortLogin.resize(shortLogin.size() + 10, 'a');
  RawResult r = sendRaw(server.commandPort(), shortLogin);
  EXPECT_EQ(r.replyType, wire::kLogin);
  EXPECT_EQ(r.result, DLSDK_ERR_INVALID_PARAMETER);
  EXPECT_TRUE(r.closed);
  // A media request with a token the simulator never issued.
  const auto live = wire::encode(wire::LiveOpenRequest{{42, 42}, 0, DLSDK_STREAM_THIRD});
  std::vector<uint8_t> forged = header(wire::kLiveOpen, 0, 1, static_cast<uint32_t>(live.size()));
  forged.insert(forged.end(), live.begin(), live.end());
  r = sendRaw(server.mediaPort(), forged);
  EXPECT_EQ(r.result, DLSDK_ERR_SESSION);
  EXPECT_TRUE(r.closed);

  // The simulator still serves well-behaved clients.
  int32_t login = -1, stream = -1, other = -1;
  ASSERT_EQ(loginAt(server.commandPort(), login), DLSDK_OK);
  DLSDK_LiveStreamRequest req{0, 1, DLSDK_STREAM_THIRD, server.mediaPort(), {}};
  ASSERT_EQ(DLSDK_RealStreamConnect(&stream, login, &req), DLSDK_OK);
  ASSERT_EQ(DLSDK_RealStreamConnect(&other, login, &req), DLSDK_OK);
  EXPECT_EQ(DLSDK_StreamMediaControl(stream, 2), DLSDK_OK);
  EXPECT_EQ(DLSDK_StreamMediaControl(other, 1), DLSDK_OK);
  EXPECT_EQ(server.streamCount(), 2);
  server.stop();
}

}  // namespace
