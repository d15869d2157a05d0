// The shared drawing threads: every job posted runs to its end, a job that
// reposts itself never runs on two workers at once, and stopping (also from
// inside a job) ends the workers without losing what was queued.
#include "platform/devlink/DrawPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

bool waitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Reposts itself until it has run `slices` times, as a stream with more
// frames waiting does; notes two workers inside it at once. A job with
// `stopsPool` stops the pool from its first slice.
class CountingJob : public devlink::DrawPool::Job, public std::enable_shared_from_this<CountingJob> {
 public:
  CountingJob(devlink::DrawPool& pool, int slices, bool stopsPool = false)
      : pool_(pool), slices_(slices), stopsPool_(stopsPool) {}
  void runSlice() override {
    if (inside_.fetch_add(1) != 0) overlapped_ = true;
    if (stopsPool_ && runs_.load() == 0) pool_.stop();
    std::this_thread::yield();
    inside_.fetch_sub(1);
    if (runs_.fetch_add(1) + 1 < slices_) pool_.post(shared_from_this());
  }
  std::atomic<int> runs_{0};
  std::atomic<bool> overlapped_{false};

 private:
  devlink::DrawPool& pool_;
  const int slices_;
  const bool stopsPool_;
  std::atomic<int> inside_{0};
};

TEST(DrawPoolTest, JobsRunToTheirEndOneWorkerAtATimeAcrossStops) {
  devlink::DrawPool pool(3);
  std::vector<std::shared_ptr<CountingJob>> jobs;
  for (int i = 0; i < 36; ++i) jobs.push_back(std::make_shared<CountingJob>(pool, 50));
  for (auto& job : jobs) pool.post(job);
  EXPECT_EQ(pool.running(), 3);
  // A stop lets what is queued (and reposted meanwhile) finish first.
  pool.stop();
  EXPECT_EQ(pool.running(), 0);
  for (auto& job : jobs) {
    EXPECT_EQ(job->runs_.load(), 50);
    EXPECT_FALSE(job->overlapped_.load());
  }
  // A later post starts the workers again; a job that stops the pool from
  // a worker does not wait for itself and still runs to its end.
  auto stopper = std::make_shared<CountingJob>(pool, 5, true);
  pool.post(stopper);
  ASSERT_TRUE(waitFor([&] { return stopper->runs_.load() == 5; }));
  auto after = std::make_shared<CountingJob>(pool, 3);
  pool.post(after);
  ASSERT_TRUE(waitFor([&] { return after->runs_.load() == 3; }));
  pool.stop();
}

}  // namespace
