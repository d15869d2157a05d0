#include "platform/sockhub/RunnerPool.h"

#include <system_error>

namespace sockhub {
namespace {
// The pool whose runner this thread is (null on any other thread).
thread_local RunnerPool* tRunnerOf = nullptr;
thread_local int tCallbackDepth = 0;

// Ticks without a callback begun before the monitor sleeps until the next
// one begins: an idle server has no timer waking it.
constexpr int kQuietTicks = 25;
// Share of the runners' time spent in callbacks over a tick from which the
// runners count as overloaded.
constexpr double kOverloaded = 0.7;
// How long a called-in runner stays at least.
constexpr std::chrono::milliseconds kStay{100};

int64_t nowNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

RunnerPool::RunnerPool(boost::asio::io_context& ioc) : ioc_(ioc) {}

RunnerPool::~RunnerPool() { join(); }

bool RunnerPool::start() {
  std::lock_guard lock(mutex_);
  work_.emplace(ioc_.get_executor());
  stopping_ = false;
  wanted_ = 1;
  try {
    threads_.emplace_back([this] { runnerMain(); });
    threads_.emplace_back([this] { monitorMain(); });
    return true;
  } catch (const std::system_error&) {
    // Whatever started leaves at once.
    stopping_ = true;
    work_.reset();
    ioc_.stop();
    benchWake_.notify_all();
    return false;
  }
}

void RunnerPool::join() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    work_.reset();
  }
  benchWake_.notify_all();
  monitorWake_.notify_all();
  // Runners called in while earlier ones were being joined are joined too.
  while (true) {
    {
      std::lock_guard lock(mutex_);
      threads.swap(threads_);
    }
    if (threads.empty()) break;
    for (std::thread& t : threads)
      if (t.joinable()) t.join();
    threads.clear();
  }
}

size_t RunnerPool::threadCount() const {
  std::lock_guard lock(mutex_);
  return threads_.size();
}

void RunnerPool::runnerMain() {
  tRunnerOf = this;
  std::unique_lock lock(mutex_);
  while (true) {
    ++benched_;
    benchWake_.wait(lock, [&] { return wanted_ > 0 || stopping_; });
    --benched_;
    if (stopping_) return;
    --wanted_;
    active_.fetch_add(1);
    lock.unlock();
    runUntilRetired();
    lock.lock();
    active_.fetch_sub(1);
    if (ioc_.stopped()) return;
  }
}

void RunnerPool::runUntilRetired() {
  while (!ioc_.stopped()) {
    try {
      ioc_.run_one();
    } catch (...) {
      // A handler that throws (only on exhausted memory) must not end the
      // thread that serves the connections.
    }
    // A runner called in for a blocked callback leaves again once another
    // runner is free; decided under the lock so that two runners finishing
    // together do not both leave.
    if (active_.load(std::memory_order_relaxed) > 1 &&
        nowNanos() - lastCallInNanos_.load(std::memory_order_relaxed) >=
            std::chrono::nanoseconds(kStay).count()) {
      std::lock_guard lock(mutex_);
      if (active_.load() - busy_.load() > 1) return;
    }
  }
}

void RunnerPool::monitorMain() {
  std::unique_lock lock(mutex_);
  uint64_t lastStarted = started_.load();
  uint64_t lastFinished = finished_.load();
  uint64_t lastBusyNanos = busyNanos_.load();
  int64_t lastTick = nowNanos();
  bool stuckBefore = false;
  bool overloadedBefore = false;
  int quietTicks = 0;
  while (!stopping_) {
    if (quietTicks >= kQuietTicks) {
      monitorAsleep_.store(true);
      monitorWake_.wait(lock, [&] { return stopping_ || busy_.load() > 0; });
      monitorAsleep_.store(false);
      quietTicks = 0;
      stuckBefore = overloadedBefore = false;
      lastStarted = started_.load();
      lastFinished = finished_.load();
      lastBusyNanos = busyNanos_.load();
      lastTick = nowNanos();
      continue;
    }
    monitorWake_.wait_for(lock, kTick, [&] { return stopping_; });
    if (stopping_) break;
    const int64_t tick = nowNanos();
    const uint64_t started = started_.load();
    const uint64_t finished = finished_.load();
    const uint64_t busyNanos = busyNanos_.load();
    const int busy = busy_.load();
    const int active = active_.load();
    // Every runner inside a callback that has not ended since the last tick.
    const bool stuck = busy > 0 && busy >= active && finished == lastFinished;
    // Or the runners spent most of the tick in callbacks.
    const bool overloaded = active > 0 && tick > lastTick &&
                            static_cast<double>(busyNanos - lastBusyNanos) >=
                                kOverloaded * static_cast<double>(tick - lastTick) * active;
    if (!ioc_.stopped() && ((stuck && stuckBefore) || (overloaded && overloadedBefore))) {
      callInRunnerLocked();
      lastCallInNanos_.store(tick);
      stuckBefore = overloadedBefore = false;
    } else {
      stuckBefore = stuck;
      overloadedBefore = overloaded;
    }
    quietTicks = (started == lastStarted && busy == 0) ? quietTicks + 1 : 0;
    lastStarted = started;
    lastFinished = finished;
    lastBusyNanos = busyNanos;
    lastTick = tick;
  }
}

void RunnerPool::callInRunnerLocked() {
  ++wanted_;
  if (benched_ >= wanted_) {
    benchWake_.notify_one();
    return;
  }
  try {
    threads_.emplace_back([this] { runnerMain(); });
  } catch (const std::system_error&) {
    // No thread now; the next tick tries again.
    --wanted_;
  }
}

RunnerPool::CallbackScope::CallbackScope() : pool_(tRunnerOf) {
  ++tCallbackDepth;
  if (pool_ == nullptr) return;
  begin_ = std::chrono::steady_clock::now();
  pool_->busy_.fetch_add(1);
  pool_->started_.fetch_add(1, std::memory_order_relaxed);
  // The monitor sleeps while nothing happens; the first callback after a
  // quiet spell wakes it (the flag is read after busy_ was raised, and the
  // monitor checks busy_ after setting the flag: one of them sees the other).
  if (pool_->monitorAsleep_.load()) {
    std::lock_guard lock(pool_->mutex_);
    pool_->monitorWake_.notify_one();
  }
}

RunnerPool::CallbackScope::~CallbackScope() {
  --tCallbackDepth;
  if (pool_ == nullptr) return;
  const auto spent = std::chrono::steady_clock::now() - begin_;
  pool_->busyNanos_.fetch_add(static_cast<uint64_t>(std::chrono::nanoseconds(spent).count()),
                              std::memory_order_relaxed);
  pool_->finished_.fetch_add(1, std::memory_order_relaxed);
  pool_->busy_.fetch_sub(1);
}

bool RunnerPool::inCallback() { return tCallbackDepth > 0; }

}  // namespace sockhub
