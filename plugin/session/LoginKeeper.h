#pragma once
// The login of one device, shared between the device's session and the
// work that connects its live streams away from the user-interface thread.
// That work may still run when the session goes away, so it holds the
// keeper, never the session; the last holder logs out.
//
// A login that fails is not tried again by callers that were already
// waiting for it: each caller names the attempt count it saw when its work
// was queued, and an attempt finished since then answers for it. So 36 cells
// of a device that cannot be reached cost one login time-out, not 36.
//
// Threads: any. handle_ and the attempt count are atomic so they can be
// read without the lock (the user-interface thread reads the count when it
// queues a connect and must not wait for a login under way); they and the
// last failure change only under mutex_.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace WebPlug_NCL {

class LoginKeeper {
 public:
  struct Account {
    std::string address;
    uint32_t commandPort = 0;
    std::string user;
    std::string password;
  };

  explicit LoginKeeper(Account account) : account_(std::move(account)) {}
  ~LoginKeeper();
  LoginKeeper(const LoginKeeper&) = delete;
  LoginKeeper& operator=(const LoginKeeper&) = delete;

  // Logs in unless logged in already. Answers 0 or the mapped SDK code; a
  // failure without a specific code answers 3007 (login failed).
  int login();
  // As login(), but when a login attempt after `seenAttempts` failed
  // already, answers that attempt's code without trying again.
  int loginSince(uint64_t seenAttempts);
  // The login `stale` stopped working (the device restarted, its
  // connection dropped): replaced by a new login, unless another caller
  // replaced it already. Answers like login().
  int renew(int32_t stale);
  // Logs out when logged in.
  void logout();

  int32_t handle() const { return handle_.load(std::memory_order_acquire); }
  uint64_t attempts() const { return attempts_.load(std::memory_order_acquire); }

 private:
  int loginLocked();

  const Account account_;  // never changed
  mutable std::mutex mutex_;
  std::atomic<int32_t> handle_{-1};    // changed only under mutex_
  std::atomic<uint64_t> attempts_{0};  // changed only under mutex_: finished login attempts
  int lastFailure_ = 0;                // guarded by mutex_: the code of the last attempt, 0 when it succeeded
};

}  // namespace WebPlug_NCL
