#include "tools/devsim/SessionTable.h"

#include <random>

#include "platform/devlink/DevLinkSdk.h"

namespace devsim {

std::optional<devlink::wire::SessionToken> SessionTable::open(const std::string& user, bool liveOnly) {
  std::lock_guard lock(mutex_);
  if (static_cast<int>(sessions_.size()) >= maxSessions_) return std::nullopt;
  static thread_local std::mt19937_64 random{std::random_device{}()};
  const uint32_t id = nextId_++;
  const uint64_t key = random();
  sessions_[id] = Session{user, liveOnly, key};
  return devlink::wire::SessionToken{id, key};
}

void SessionTable::close(uint32_t sessionId) {
  std::lock_guard lock(mutex_);
  sessions_.erase(sessionId);
}

int SessionTable::check(const devlink::wire::SessionToken& token, bool needsFullRights) const {
  std::lock_guard lock(mutex_);
  const auto it = sessions_.find(token.sessionId);
  if (it == sessions_.end() || it->second.key != token.key) return DLSDK_ERR_SESSION;
  if (needsFullRights && it->second.liveOnly) return DLSDK_ERR_NO_PERMISSION;
  return DLSDK_OK;
}

int SessionTable::size() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(sessions_.size());
}

}  // namespace devsim
