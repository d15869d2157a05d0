#include "plugin/video/live/ConnectPool.h"

#include <thread>
#include <utility>

namespace ksplugs {

ConnectPool& ConnectPool::shared() {
  // Never destroyed: its threads may be inside a connect when the process
  // ends, and a job holds what it needs by itself.
  static ConnectPool* pool = new ConnectPool();
  return *pool;
}

void ConnectPool::submit(std::function<void()> job) {
  bool startThread = false;
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    if (idle_ < static_cast<int>(jobs_.size()) && workers_ < kWorkers) {
      ++workers_;
      startThread = true;
    }
  }
  if (startThread) {
    try {
      std::thread([this] { workerLoop(); }).detach();
    } catch (...) {
      // Without a new thread the job waits for one of the running ones.
      std::lock_guard lock(mutex_);
      --workers_;
    }
  }
  wake_.notify_one();
}

void ConnectPool::workerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idle_;
    wake_.wait(lock, [this] { return !jobs_.empty(); });
    --idle_;
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    try {
      job();
    } catch (...) {
    }
    job = nullptr;  // what the job held goes before the next wait
    lock.lock();
  }
}

}  // namespace ksplugs
