#pragma once
// Test helpers for the window layer: a fixture with the headless desktop
// installed and a watchdog that fails a hung test instead of letting it hang.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/ui/backends/HeadlessDesktop.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowSystem.h"

namespace ui::test {

// Ends the process with a message when not disarmed in time: a deadlock in a
// threaded test then fails fast and says where.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit, const char* what = "test")
      : thread_([this, limit, what] {
          std::unique_lock lock(mutex_);
          if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "watchdog: %s did not finish in %lld s\n", what,
                         static_cast<long long>(limit.count()));
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto backend = std::make_unique<HeadlessDesktop>();
    desktop_ = backend.get();
    ASSERT_TRUE(WindowSystem::install(std::move(backend)));
  }
  void TearDown() override {
    pumpPendingMessages();
    WindowSystem::uninstall();
  }
  // Pumps this thread's messages until cond holds (at most 5 s).
  bool pumpUntil(const std::function<bool()>& cond) {
    return pumpMessagesUntil(cond, std::chrono::seconds(5));
  }

  HeadlessDesktop* desktop_ = nullptr;
  Watchdog watchdog_{std::chrono::seconds(30)};
};

}  // namespace ui::test
