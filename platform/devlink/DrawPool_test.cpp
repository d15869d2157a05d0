// The shared drawing threads: every job posted runs, a job never runs on
// two workers at once however often it is reposted, and stopping (also from
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

// Waits for `done` with a deadline instead of a fixed sleep.
template <typename F>
bool waitFor(F done, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Reposts itself until it has run `slices` times, as a stream with more
// frames waiting does, and notes when two workers ran it at once.
class CountingJob : public devlink::DrawPool::Job, public std::enable_shared_from_this<CountingJob> {
 public:
  CountingJob(devlink::DrawPool& pool, int slices) : pool_(pool), slices_(slices) {}
  void runSlice() override {
    if (inside_.fetch_add(1) != 0) overlapped_ = true;
    std::this_thread::yield();
    inside_.fetch_sub(1);
    if (runs_.fetch_add(1) + 1 < slices_) pool_.post(shared_from_this());
  }
  int runs() const { return runs_.load(); }
  bool overlapped() const { return overlapped_.load(); }

 private:
  devlink::DrawPool& pool_;
  const int slices_;
  std::atomic<int> runs_{0};
  std::atomic<int> inside_{0};
  std::atomic<bool> overlapped_{false};
};

class FunctionJob : public devlink::DrawPool::Job {
 public:
  explicit FunctionJob(std::function<void()> fn) : fn_(std::move(fn)) {}
  void runSlice() override { fn_(); }

 private:
  std::function<void()> fn_;
};

TEST(DrawPoolTest, ManyRepostingJobsAllRunToTheEndOneWorkerAtATime) {
  devlink::DrawPool pool(3);
  std::vector<std::shared_ptr<CountingJob>> jobs;
  for (int i = 0; i < 36; ++i) jobs.push_back(std::make_shared<CountingJob>(pool, 50));
  for (auto& job : jobs) pool.post(job);
  EXPECT_EQ(pool.running(), 3);
  ASSERT_TRUE(waitFor([&] {
    for (auto& job : jobs)
      if (job->runs() < 50) return false;
    return true;
  }));
  for (auto& job : jobs) {
    EXPECT_EQ(job->runs(), 50);
    EXPECT_FALSE(job->overlapped());
  }
}

TEST(DrawPoolTest, StopEndsTheWorkersAndALaterPostStartsThemAgain) {
  devlink::DrawPool pool(2);
  auto first = std::make_shared<CountingJob>(pool, 5);
  pool.post(first);
  pool.stop();
  // What was queued ran before the workers ended.
  EXPECT_EQ(first->runs(), 5);
  EXPECT_EQ(pool.running(), 0);
  auto second = std::make_shared<CountingJob>(pool, 3);
  pool.post(second);
  EXPECT_EQ(pool.running(), 2);
  ASSERT_TRUE(waitFor([&] { return second->runs() == 3; }));

  // A job that stops the pool from a worker does not wait for itself; the
  // pool still takes work afterwards.
  std::atomic<bool> stopped{false};
  pool.post(std::make_shared<FunctionJob>([&] {
    pool.stop();
    stopped = true;
  }));
  ASSERT_TRUE(waitFor([&] { return stopped.load(); }));
  auto third = std::make_shared<CountingJob>(pool, 2);
  pool.post(third);
  ASSERT_TRUE(waitFor([&] { return third->runs() == 2; }));
  pool.stop();
}

}  // namespace
