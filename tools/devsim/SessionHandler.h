#pragma once
// Login and logout on a command connection. A login is two requests: the
// client's opening (its user name and nonce), answered with this
// connection's challenge, and its proof, answered with the session token.
// The challenge is good for one proof only. The session opened by a login
// lives as long as its command connection: this handler closes it when the
// connection ends, whether by logout or not.
#include <cstddef>
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

  // Answers the opening request with a fresh challenge. False (after
  // answering why) for a malformed request, another version or an unknown
  // user: the connection is then over.
  bool challenge(RequestReply& reply, const devlink::wire::Message& request);
  // Checks the proof against the challenge and opens a session. True when
  // the session is open and the client has its token; false (after
  // answering why, when it could) otherwise.
  bool login(RequestReply& reply, const devlink::wire::Message& request);
  void logout(RequestReply& reply);

  // The account may watch live video only.
  bool liveOnly() const { return liveOnly_; }

 private:
  DeviceState& device_;
  // The account named by the opening request and the challenge sent for it;
  // the challenge is dropped once a proof was checked against it.
  size_t accountIndex_ = 0;
  std::optional<devlink::wire::LoginChallengeRequest> opening_;
  devlink::wire::LoginChallenge challenge_;
  std::optional<uint32_t> sessionId_;
  bool liveOnly_ = false;
};

}  // namespace devsim
