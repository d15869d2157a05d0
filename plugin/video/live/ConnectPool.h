#pragma once
// The threads that connect live streams away from the user-interface
// thread: a queue of jobs and at most kWorkers threads taking them, so a
// dock of 36 cells connects its streams side by side while a device that
// never answers holds at most the threads its own jobs took (the cells of a
// device wait for one login, each on its thread, until it answers or times
// out).
//
// One pool serves the process. Its threads start with the first jobs that
// find no idle thread and then wait for more; they are never joined, so a
// job must hold (shared) everything it touches and nothing of a window.
//
// Threads: submit() from any thread; jobs run on the pool's threads. The
// queue and the thread counts are guarded by mutex_.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace ksplugs {

class ConnectPool {
 public:
  static constexpr int kWorkers = 16;

  // The process's pool (made on first use, never destroyed).
  static ConnectPool& shared();

  // Queues `job` for the next free thread. A job's exception ends the job
  // only.
  void submit(std::function<void()> job);

 private:
  ConnectPool() = default;
  void workerLoop();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;  // guarded by mutex_
  int workers_ = 0;                         // guarded by mutex_: threads started
  int idle_ = 0;                            // guarded by mutex_: threads waiting for a job
};

}  // namespace ksplugs
