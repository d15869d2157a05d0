#include "tools/devsim/MediaConnection.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>
#include <string>

#include "tools/devsim/HistorySource.h"
#include "tools/devsim/LiveSource.h"
#include "tools/devsim/RequestReply.h"

namespace devsim {

namespace wire = devlink::wire;

void MediaConnection::serve(devlink::Socket& socket) {
  wire::MessageReader reader;
  wire::Message open;
  if (socket.readMessage(reader, open, DeviceState::kHelloTimeoutMs) != DLSDK_OK) return;
  const HostileMode hostile = device_.options().hostile;
  RequestReply reply(socket, open, hostile);

  std::unique_ptr<MediaSource> source;
  int rc = DLSDK_OK;
  switch (open.header.type) {
    case wire::kLiveOpen:
      rc = LiveSource::open(device_, open.body, &source);
      break;
    case wire::kHistoryOpen:
      rc = HistorySource::open(device_, open.body, &source);
      break;
    default:
      rc = DLSDK_ERR_NOT_AVAILABLE;
      break;
  }
  if (rc != DLSDK_OK) {
    reply.send(rc);
    return;
  }
  if (!device_.reserveStream()) {
    reply.send(DLSDK_ERR_CONNECTION_LIMIT);
    return;
  }
  struct StreamRelease {
    DeviceState& device;
    ~StreamRelease() { device.releaseStream(); }
  } release{device_};
  const std::shared_ptr<const EncodedLoop> loop = device_.loopFor(source->channel(), source->streamType());
  if (!loop) {
    reply.send(DLSDK_ERR_FAILED);
    return;
  }
  const uint8_t audioFormat = device_.options().audioFormat;
  const wire::StreamInfo info{static_cast<uint16_t>(loop->width), static_cast<uint16_t>(loop->height), loop->format,
                              audioFormat, EncodedLoop::kFrameRate};
  if (!reply.send(DLSDK_OK, wire::encode(info))) return;
  device_.log(std::string(source->name()) + " stream channel " + std::to_string(source->channel()) + " type " +
              std::to_string(source->streamType()));

  socket.setNonBlocking();
  StreamOutput out(device_, *loop, source->channel(), source->streamType());
  source->start(loop);
  pump(socket, reader, *source, out);
}

void MediaConnection::pump(devlink::Socket& socket, wire::MessageReader& reader, MediaSource& source,
                           StreamOutput& out) {
  uint8_t chunk[wire::MessageReader::kMaxFeed];
  wire::Message m;
  const HostileMode hostile = device_.options().hostile;
  bool asFastAsRead = false;  // a history stream started for a download
  while (!stopping_) {
    source.produce(MediaSource::Clock::now(), out);
    if (!out.flush(socket.fd())) return;
    if (out.framesAdded() >= static_cast<uint32_t>(kFramesBeforeHostile)) {
      if (hostile == HostileMode::kStallStream) return stall(socket);
      if (hostile == HostileMode::kCloseStream && out.size() == 0) return;
      if (hostile == HostileMode::kCloseDownload && asFastAsRead && out.size() == 0) return;
    }

    const int timeout = source.pollTimeout(out.size());
    pollfd p{socket.fd(), static_cast<short>(POLLIN | (out.size() > 0 ? POLLOUT : 0)), 0};
    const int n = ::poll(&p, 1, timeout);
    if (n < 0 && errno != EINTR) return;
    if (n <= 0) continue;
    if (p.revents & (POLLERR | POLLNVAL)) return;
    if (!(p.revents & (POLLIN | POLLHUP))) continue;
    const ssize_t got = ::recv(socket.fd(), chunk, sizeof chunk, MSG_DONTWAIT);
    if (got == 0) return;
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return;
    }
    if (!reader.feed(std::span<const uint8_t>(chunk, static_cast<size_t>(got)))) return;
    for (;;) {
      const wire::ParseStatus st = reader.next(m);
      if (st == wire::ParseStatus::kNeedMore) break;
      if (st == wire::ParseStatus::kBad || m.header.type != wire::kControl) return;
      wire::ControlRequest c;
      if (!wire::decode(m.body, c)) {
        out.addReply(wire::kControl, DLSDK_ERR_INVALID_PARAMETER, m.header.requestId);
        out.flush(socket.fd());
        return;
      }
      if (c.op == wire::kStart && c.arg == 1) asFastAsRead = true;
      const int result = source.control(c);
      out.addReply(wire::kControl, static_cast<uint16_t>(result), m.header.requestId);
    }
  }
}

void MediaConnection::stall(devlink::Socket& socket) {
  uint8_t chunk[4096];
  while (!stopping_) {
    pollfd p{socket.fd(), POLLIN, 0};
    const int n = ::poll(&p, 1, 100);
    if (n < 0 && errno != EINTR) return;
    if (n <= 0) continue;
    const ssize_t got = ::recv(socket.fd(), chunk, sizeof chunk, MSG_DONTWAIT);
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) return;
  }
}

}  // namespace devsim
