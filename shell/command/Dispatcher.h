#pragma once
// The command dispatcher: one received message in, one reply out.
//
// It parses the envelope, matches "Fountion" (without regard to case)
// against the ten command names in order, runs that handler to completion
// and writes the standard reply unless the handler wrote its own. It keeps
// nothing between messages and holds no lock: it runs on the WebSocket
// server's threads, many at once, each with its own context and reply.
#include <json/value.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "shell/command/CommandEnv.h"
#include "shell/command/RequestContext.h"

namespace kestrova {

class Dispatcher {
 public:
  explicit Dispatcher(CommandEnv env) : env_(std::move(env)) {}

  // `text` null with `clientPort` 0 is the connection-gone path: the library
  // destroys every live device of that connection and no reply is built.
  // Otherwise `reply` receives the complete reply text (the standard reply
  // with 1003 when the reply cannot be written) and `msgId`, when given,
  // the request's "msgId" (0 without one). Answers the result.
  int dispatch(const char* text, size_t length, int32_t connectionId, int32_t clientPort, std::string& reply,
               uint32_t* msgId = nullptr);

  // The standard reply that stands in for one that cannot be written or
  // sent: {"code": 1003, "msgId": n}. Builds no JSON document, so it does
  // not fail where the reply it replaces did (short of memory for a few
  // dozen bytes, when it throws std::bad_alloc).
  static std::string unsendableReply(uint32_t msgId);
  // {"code": code, "msgId": n} in the styled writer's layout.
  static std::string standardReply(int code, uint32_t msgId);

  // The command names in the order they are compared.
  static constexpr std::string_view kCommandNames[] = {
      "createDev", "destroy", "live", "snapshot", "record",
      "recordQuery", "playback", "download", "settings", "globalCtrl",
  };

  CommandEnv& env() { return env_; }

 private:
  int runHandler(size_t index, RequestContext& context, const Json::Value& request, std::string& reply);

  CommandEnv env_;  // set at construction; read-only afterwards
};

}  // namespace kestrova
