#pragma once
// The per-message state that the dispatcher hands to a command handler.
#include <cstdint>
#include <string>

namespace kestrova {

struct RequestContext {
  uint32_t msgId = 0;        // the request's "msgId" when it is an unsigned integer
  int32_t clientPort = 0;    // the peer's TCP port (the browser's end)
  int32_t connectionId = 0;  // the WebSocket connection that sent the message
  std::string extError;      // optional detail that the standard reply carries
};

}  // namespace kestrova
