#include "platform/sockhub/RunnerPool.h"

#include <gtest/gtest.h>

#include <boost/asio/post.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "tests/support/Settle.h"

namespace sockhub {
namespace {
using namespace std::chrono_literals;

// A gate that blocked callbacks wait at until the test opens it.
class Gate {
 public:
  void wait() {
    std::unique_lock lock(mutex_);
    open_.wait(lock, [&] { return opened_; });
  }
  void open() {
    {
      std::lock_guard lock(mutex_);
      opened_ = true;
    }
    open_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable open_;
  bool opened_ = false;
};

// Callbacks that block keep the rest of the context served, for any number
// of them at once, and the pool needs no more threads than blocked callbacks
// plus the free runner and the monitor.
TEST(RunnerPool, BlockedCallbacksLeaveTheOthersServedAndThePoolStaysBounded) {
  for (const int blocked : {1, 3, 8}) {
    boost::asio::io_context ioc;
    RunnerPool pool(ioc);
    ASSERT_TRUE(pool.start());
    Gate gate;
    std::atomic<int> inside{0};
    for (int i = 0; i < blocked; ++i) {
      boost::asio::post(ioc, [&] {
        RunnerPool::CallbackScope scope;
        EXPECT_TRUE(RunnerPool::inCallback());
        ++inside;
        gate.wait();
      });
    }
    ASSERT_TRUE(kstest::eventually([&] { return inside.load() == blocked; }, 10s)) << blocked;
    // Work posted behind the blocked callbacks still runs.
    std::atomic<int> served{0};
    for (int i = 0; i < 100; ++i) boost::asio::post(ioc, [&] { ++served; });
    EXPECT_TRUE(kstest::eventually([&] { return served.load() == 100; }, 10s)) << blocked;
    EXPECT_LE(pool.threadCount(), static_cast<size_t>(blocked) + 2) << blocked;
    EXPECT_FALSE(RunnerPool::inCallback());
    gate.open();
    ioc.stop();
    pool.join();
  }
}

}  // namespace
}  // namespace sockhub
