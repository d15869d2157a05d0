#pragma once
// The sessions the device has handed out: one per logged-in command
// connection, named by the token that media and talk connections present.
// Any connection thread may call any method; one mutex guards the table.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/devlink/WireFormat.h"

namespace devsim {

class SessionTable {
 public:
  explicit SessionTable(int maxSessions) : maxSessions_(maxSessions) {}

  // Opens a session with a fresh random key. Nothing when the device
  // already holds its maximum of sessions.
  std::optional<devlink::wire::SessionToken> open(const std::string& user, bool liveOnly);
  void close(uint32_t sessionId);
  // DLSDK_OK when the token names an open session (with full rights, when
  // asked for), else the code to answer.
  int check(const devlink::wire::SessionToken& token, bool needsFullRights) const;
  int size() const;

 private:
  struct Session {
    std::string user;
    bool liveOnly = false;
    uint64_t key = 0;
  };

  const int maxSessions_;
  mutable std::mutex mutex_;
  std::map<uint32_t, Session> sessions_;  // guarded by mutex_
  uint32_t nextId_ = 1;                   // guarded by mutex_
};

}  // namespace devsim
