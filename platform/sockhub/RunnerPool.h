#pragma once
// The threads that run the server's I/O context, sockets and callbacks alike.
//
// One runner normally serves every socket and also runs each connection's
// callbacks, so a request and its reply cost no thread hand-off: the message
// is read, handled and its reply written by the same thread. A callback may
// block (a dock created on the user-interface thread, a device that is slow
// to answer), and the other connections must go on meanwhile. A monitor
// looks every tick; when every runner has been inside a callback since the
// previous tick without one of them finishing, it calls in one more runner.
// A runner leaving its callback while another runner is free goes back to
// the bench and waits there to be called in again, so the pool shrinks back
// to one active runner once the blocking is over. Callbacks that do not block
// but keep the runners busy (slow ones back to back) call one in too: when
// runners spent most of two ticks in callbacks, reads would otherwise wait
// behind them, and a connection's end must be seen while its queued messages
// can still be dropped.
//
// The number of runners is bounded by the number of callbacks that can run
// at once (one per connection) plus one.
#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace sockhub {

class RunnerPool {
 public:
  // How long all runners may sit in callbacks before another is called in:
  // between one and two ticks.
  static constexpr std::chrono::milliseconds kTick{2};

  explicit RunnerPool(boost::asio::io_context& ioc);
  ~RunnerPool();
  RunnerPool(const RunnerPool&) = delete;
  RunnerPool& operator=(const RunnerPool&) = delete;

  // Starts the first runner and the monitor; false when the system has no
  // thread to give (nothing is left running then).
  bool start();
  // After the I/O context was stopped: waits for the callbacks in progress
  // and joins every thread. Idempotent.
  void join();

  // Threads started so far (runners and the monitor), for tests.
  size_t threadCount() const;

  // Marks the calling thread as running a connection's callback for its
  // lifetime. On a runner it also counts the runner as busy.
  class CallbackScope {
   public:
    CallbackScope();
    ~CallbackScope();
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;

   private:
    RunnerPool* pool_;
    std::chrono::steady_clock::time_point begin_;
  };
  // True inside a CallbackScope on this thread.
  static bool inCallback();

 private:
  void runnerMain();
  void runUntilRetired();
  void monitorMain();
  // Wakes a benched runner or starts a new one. Under mutex_.
  void callInRunnerLocked();

  boost::asio::io_context& ioc_;
  std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> work_;  // start/join only

  mutable std::mutex mutex_;
  std::condition_variable benchWake_;    // a runner is wanted, or stopping
  std::condition_variable monitorWake_;  // a callback began while the monitor slept, or stopping
  std::vector<std::thread> threads_;     // guarded by mutex_; joined by join()
  int wanted_ = 0;                       // guarded by mutex_: calls-in not yet taken by a benched runner
  int benched_ = 0;                      // guarded by mutex_
  bool stopping_ = false;                // guarded by mutex_

  // Read without the lock on every handler and callback.
  std::atomic<int> active_{0};         // runners inside the I/O context; changed under mutex_
  std::atomic<int> busy_{0};           // runners inside a callback
  std::atomic<uint64_t> started_{0};   // callbacks begun on runners
  std::atomic<uint64_t> finished_{0};  // callbacks ended on runners
  std::atomic<uint64_t> busyNanos_{0};  // time runners spent in ended callbacks
  std::atomic<bool> monitorAsleep_{false};
  // When the monitor last called a runner in (steady clock, ns): runners
  // stay for a while after it, so a steady load does not call one in and
  // send it back at every tick.
  std::atomic<int64_t> lastCallInNanos_{0};
};

}  // namespace sockhub
