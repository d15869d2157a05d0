#pragma once
// The answer to one request: the request's type and id, the given result
// code and body, sent within a time limit so that a client that does not
// read cannot hold its connection thread. A hostile device sends it late or
// one byte at a time.
#include <chrono>
#include <cstdint>
#include <span>
#include <thread>
#include <vector>

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/Socket.h"
#include "platform/devlink/WireFormat.h"
#include "tools/devsim/HostileMode.h"

namespace devsim {

class RequestReply {
 public:
  static constexpr int kReplyTimeoutMs = 5000;

  // Pause between the bytes of a trickled reply.
  static constexpr int kTrickleGapMs = 2;

  RequestReply(devlink::Socket& socket, const devlink::wire::Message& request, HostileMode hostile = HostileMode::kNone)
      : socket_(socket), request_(request), hostile_(hostile) {}

  // False when the reply could not be sent: the connection is over.
  bool send(int result, std::span<const uint8_t> body = {}) {
    if (hostile_ == HostileMode::kSlowReplies) std::this_thread::sleep_for(std::chrono::milliseconds(kSlowReplyMs));
    if (hostile_ == HostileMode::kTrickle) {
      const std::vector<uint8_t> m = devlink::wire::buildMessage(request_.header.type, static_cast<uint16_t>(result),
                                                                 request_.header.requestId, body);
      for (const uint8_t& byte : m) {
        if (socket_.sendAll(&byte, 1, kReplyTimeoutMs) != DLSDK_OK) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kTrickleGapMs));
      }
      return true;
    }
    return socket_.sendMessage(request_.header.type, static_cast<uint16_t>(result), request_.header.requestId, body,
                               kReplyTimeoutMs) == DLSDK_OK;
  }

 private:
  devlink::Socket& socket_;
  const devlink::wire::Message& request_;
  const HostileMode hostile_;
};

}  // namespace devsim
