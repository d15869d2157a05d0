#include "tests/support/Watchdog.h"

#include <cstdio>
#include <cstdlib>

namespace kstest {

Watchdog::Watchdog(std::chrono::milliseconds limit, std::string what) {
  thread_ = std::thread([this, limit, what = std::move(what)] {
    std::unique_lock lock(mutex_);
    if (!disarmed_.wait_for(lock, limit, [&] { return done_; })) {
      std::fprintf(stderr, "watchdog: %s still running after %lld ms, aborting\n", what.c_str(),
                   static_cast<long long>(limit.count()));
      std::fflush(stderr);
      std::abort();
    }
  });
}

Watchdog::~Watchdog() {
  {
    std::lock_guard lock(mutex_);
    done_ = true;
  }
  disarmed_.notify_all();
  thread_.join();
}

}  // namespace kstest
