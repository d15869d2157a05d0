#pragma once
// The drawing threads that every live stream's renderer shares: two per
// core, started at the first job and ended by stop() (DLSDK_CleanUp) or with
// the library. A grid of 36 streams then runs on two threads instead of 36,
// each of which would hold its own stack, its own decoder threads and its
// share of the scheduler's switches; the pool keeps the cores busy with
// whole pictures instead.
//
// A job is run by one worker at a time: its owner posts it only while it is
// neither queued nor running, and reposts it after a run when more work is
// waiting. Jobs run in the order posted, each for a short slice, so one busy
// stream cannot starve the others.
//
// Threads: every method may be called from any thread; mutex_ guards the
// queue and the workers. A job's run() is called with no lock held.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace devlink {

class DrawPool {
 public:
  class Job {
   public:
    virtual ~Job() = default;
    // One slice of the owner's work, on a worker thread.
    virtual void runSlice() = 0;
  };

  // The process's pool, sized to the machine's cores.
  static DrawPool& instance();

  explicit DrawPool(int threads);
  ~DrawPool();
  DrawPool(const DrawPool&) = delete;
  DrawPool& operator=(const DrawPool&) = delete;

  // Queues a slice of `job`; starts the workers when none run.
  void post(std::shared_ptr<Job> job);
  // Runs what is queued, then ends and joins the workers. A worker that
  // calls it ends after its job and is joined by the next stop (or the
  // pool's end). A later post starts new workers.
  void stop();
  int threads() const { return threads_; }
  // Workers running now (tests).
  int running() const;

 private:
  void work(uint64_t generation);
  void startWorkersLocked();

  const int threads_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<Job>> queue_;  // guarded by mutex_
  std::vector<std::thread> workers_;        // guarded by mutex_
  std::vector<std::thread> retired_;        // guarded by mutex_: stopped from inside, not joined yet
  uint64_t generation_ = 0;                 // guarded by mutex_: workers of an older one end
  int stopping_ = 0;                        // guarded by mutex_: stop() calls joining workers
};

}  // namespace devlink
