#pragma once
// Login and logout on a command connection. The session opened by a login
// lives as long as its command connection: this handler closes it when the
// connection ends, whether by logout or not.
#include <cstdint>
#include <optional>

#include "platform/devlink/WireFormat.h"
#include "tools/devsim/DeviceState.h"
#include "tools/devsim/RequestReply.h"

namespace devsim {

class SessionHandler {
 public:
  explicit SessionHandler(DeviceState& device) : device_(device) {}
  ~SessionHandler();
  SessionHandler(const SessionHandler&) = delete;
  SessionHandler& operator=(const SessionHandler&) = delete;

  // Checks the account and opens a session. True when the session is open
  // and the client has its token; false (after answering why, when it
  // could) otherwise.
  bool login(RequestReply& reply, const devlink::wire::Message& request);
  void logout(RequestReply& reply);

  // The account may watch live video only.
  bool liveOnly() const { return liveOnly_; }

 private:
  DeviceState& device_;
  std::optional<uint32_t> sessionId_;
  bool liveOnly_ = false;
};

}  // namespace devsim
