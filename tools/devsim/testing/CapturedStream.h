#pragma once
// What a StreamOutput sends, seen from the client's end: the output is
// flushed into one end of a socket pair and the other end is parsed back
// into replies and frames. Also a tiny picture loop whose access units are
// recognisable by their bytes, so media sources are tested without an
// encoder or a network.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/devlink/WireFormat.h"
#include "tools/devsim/EncodedLoop.h"
#include "tools/devsim/StreamOutput.h"

namespace devsim::testing {

struct CapturedMessage {
  devlink::wire::MessageHeader header;
  devlink::wire::FrameHeader frame;  // for frames only
  std::vector<uint8_t> payload;      // a frame's payload
};

class CapturedStream {
 public:
  CapturedStream() {
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0);
  }
  ~CapturedStream() {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  CapturedStream(const CapturedStream&) = delete;
  CapturedStream& operator=(const CapturedStream&) = delete;

  // Sends what `out` holds and answers every message that arrived since the
  // last call. The socket pair's buffer bounds one call to a few hundred
  // kilobytes.
  std::vector<CapturedMessage> take(StreamOutput& out) {
    EXPECT_TRUE(out.flush(fds_[0]));
    std::vector<CapturedMessage> messages;
    uint8_t chunk[65536];
    for (;;) {
      const ssize_t n = ::recv(fds_[1], chunk, sizeof chunk, MSG_DONTWAIT);
      if (n <= 0) break;
      EXPECT_TRUE(reader_.feed(std::span<const uint8_t>(chunk, static_cast<size_t>(n))));
    }
    devlink::wire::Message m;
    while (reader_.next(m) == devlink::wire::ParseStatus::kOk) {
      CapturedMessage c{m.header, {}, {}};
      if (m.header.type == devlink::wire::kFrame) {
        EXPECT_TRUE(devlink::wire::parseFrame(m.body, c.frame));
        c.payload.assign(m.body.begin() + devlink::wire::kFrameHeaderSize, m.body.end());
      }
      messages.push_back(std::move(c));
    }
    return messages;
  }

  // A loop of `seconds` seconds of 25 pictures; picture i is `size` bytes of
  // the value i % 256.
  static std::shared_ptr<const EncodedLoop> loop(int seconds, size_t size = 4) {
    auto loop = std::make_shared<EncodedLoop>();
    loop->width = 352;
    loop->height = 288;
    loop->format = devlink::wire::kH264;
    for (int i = 0; i < seconds * EncodedLoop::kFrameRate; ++i) {
      loop->frames.emplace_back(size, static_cast<uint8_t>(i % 256));
    }
    return loop;
  }

 private:
  int fds_[2] = {-1, -1};
  devlink::wire::MessageReader reader_;
};

}  // namespace devsim::testing
