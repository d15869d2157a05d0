#pragma once
// The answer to one request: the request's type and id, the given result
// code and body, sent within a time limit so that a client that does not
// read cannot hold its connection thread.
#include <cstdint>
#include <span>

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/Socket.h"
#include "platform/devlink/WireFormat.h"

namespace devsim {

class RequestReply {
 public:
  static constexpr int kReplyTimeoutMs = 5000;

  RequestReply(devlink::Socket& socket, const devlink::wire::Message& request) : socket_(socket), request_(request) {}

  // False when the reply could not be sent: the connection is over.
  bool send(int result, std::span<const uint8_t> body = {}) {
    return socket_.sendMessage(request_.header.type, static_cast<uint16_t>(result), request_.header.requestId, body,
                               kReplyTimeoutMs) == DLSDK_OK;
  }

 private:
  devlink::Socket& socket_;
  const devlink::wire::Message& request_;
};

}  // namespace devsim
