#pragma once
// The path of every event of the library to the shell: raise() rewrites the
// device's stream codes into the page's codes and calls the shell's callback
// synchronously on the calling thread. Without a callback the event is
// dropped.
//
// Threads: cells raise events from their UI thread while the shell may
// replace the callback from another; lock_ guards the (callback, user) pair.
// The callback itself runs without the lock, so it may call back into the
// library.
#include <mutex>

#include "plugin/api/ksplugs.h"

namespace ksplugs {

class NotifyDispatcher {
 public:
  NotifyDispatcher() = default;
  NotifyDispatcher(const NotifyDispatcher&) = delete;
  NotifyDispatcher& operator=(const NotifyDispatcher&) = delete;

  // A null callback drops every later event.
  void setCallback(NotifyCallback callback, void* user);
  // `event` is the caller's record; the rewrite is applied to it in place.
  void raise(NotifyEvent& event) const;

 private:
  mutable std::mutex lock_;
  NotifyCallback callback_ = nullptr;  // guarded by lock_
  void* user_ = nullptr;               // guarded by lock_
};

}  // namespace ksplugs
