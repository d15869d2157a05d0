#pragma once
// Ends the test process when a test runs past its time limit, naming the
// test, so that a deadlock fails at once instead of stalling the run.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace kstest {

class Watchdog {
 public:
  explicit Watchdog(std::chrono::milliseconds limit, std::string what = "test");
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable disarmed_;
  bool done_ = false;  // guarded by mutex_
  std::thread thread_;
};

}  // namespace kstest
