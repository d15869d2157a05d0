#pragma once
// The answer of a cell's open that connects away from the window's thread:
// the cell completes it on its thread when the connection is drawn, failed,
// or was given up (the cell closed or destroyed); the command thread that
// asked waits for it without holding the window's thread.
//
// Threads: complete() on the cell's thread, wait() on any other; both under
// mutex_.
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "plugin/api/ksplugs.h"

namespace ksplugs {

class OpenWaiter {
 public:
  // The first answer counts; later ones are ignored.
  void complete(int result) {
    {
      std::lock_guard lock(mutex_);
      if (done_) return;
      done_ = true;
      result_ = result;
    }
    cv_.notify_all();
  }

  // The answer, or 1014 when none came within `limit` (a cell whose thread
  // no longer runs).
  int wait(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, limit, [this] { return done_; })) return KS_E_SDK_TIMEOUT;
    return result_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;  // guarded by mutex_
  int result_ = 0;     // guarded by mutex_
};

}  // namespace ksplugs
