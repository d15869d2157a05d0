#include "platform/devlink/DrawPool.h"

#include <algorithm>

namespace devlink {

DrawPool& DrawPool::instance() {
  // Two per core: a worker waits for the desktop in every present (the X
  // server's round trip), and its twin keeps the core busy meanwhile.
  static DrawPool pool(2 * static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
  return pool;
}

DrawPool::DrawPool(int threads) : threads_(std::max(1, threads)) {}

DrawPool::~DrawPool() { stop(); }

void DrawPool::startWorkersLocked() {
  const uint64_t generation = generation_;
  for (int i = 0; i < threads_; ++i) workers_.emplace_back([this, generation] { work(generation); });
}

void DrawPool::post(std::shared_ptr<Job> job) {
  if (!job) return;
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(job));
  // While a stop waits, the ending workers run what is posted.
  if (workers_.empty() && stopping_ == 0) startWorkersLocked();
  cv_.notify_one();
}

void DrawPool::stop() {
  std::vector<std::thread> ending;
  {
    std::lock_guard lock(mutex_);
    ++generation_;
    ++stopping_;
    ending.swap(workers_);
    for (std::thread& t : retired_) ending.push_back(std::move(t));
    retired_.clear();
    cv_.notify_all();
  }
  for (std::thread& t : ending) {
    if (t.get_id() == std::this_thread::get_id()) {
      std::lock_guard lock(mutex_);
      retired_.push_back(std::move(t));
    } else {
      t.join();
    }
  }
  std::lock_guard lock(mutex_);
  --stopping_;
  // Posted after the ending workers left (or by the one that called this).
  if (!queue_.empty() && workers_.empty() && stopping_ == 0) startWorkersLocked();
}

int DrawPool::running() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(workers_.size());
}

void DrawPool::work(uint64_t generation) {
  std::unique_lock lock(mutex_);
  for (;;) {
    cv_.wait(lock, [&] { return generation_ != generation || !queue_.empty(); });
    // An ended generation still runs what is queued, then leaves.
    if (queue_.empty()) return;
    std::shared_ptr<Job> job = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    job->runSlice();
    job.reset();
    lock.lock();
  }
}

}  // namespace devlink
