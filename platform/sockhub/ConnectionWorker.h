#pragma once
// The thread that runs one connection's callbacks.
//
// Each WebSocket connection gets its own worker so that a callback that
// blocks (a dock created on the user-interface thread, a slow speech request)
// stalls only its own connection. The connection's I/O strand pushes every
// received message; the worker hands them to the receive callback in arrival
// order and, once told that the connection has ended, drops the messages
// still waiting and runs the client-action callback exactly once, after the
// message it is handling then.
//
// The queue is bounded: when push reports it full, the session stops reading
// (TCP back-pressure reaches the peer) and the worker asks for reading to
// resume once the queue has drained to half.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace sockhub {

class SharedState;

class ConnectionWorker {
 public:
  // `slot` is the connection's place in the server's connection bound; the
  // worker keeps it until its thread ends.
  ConnectionWorker(SharedState& state, int32_t connectionId, int32_t clientPort,
                   std::shared_ptr<void> slot);
  ~ConnectionWorker();
  ConnectionWorker(const ConnectionWorker&) = delete;
  ConnectionWorker& operator=(const ConnectionWorker&) = delete;

  // Starts the thread; false when the system has no thread to give.
  bool start();

  // Queues one message. False when the queue is now full: the caller stops
  // reading until the worker calls SharedState::resumeRead for it.
  bool push(std::string text);

  // The connection has ended: messages not yet handed over are dropped and
  // no more will come. Idempotent; any thread.
  void finish();

  // True once the thread has run its last callback.
  bool done() const { return done_.load(std::memory_order_acquire); }
  void join();

  // True on any worker thread: Stop refuses to run there (it would join
  // itself).
  static bool onWorkerThread();

 private:
  void run();

  SharedState& state_;
  const int32_t connectionId_;
  const int32_t clientPort_;

  std::mutex mutex_;
  std::condition_variable wake_;       // signalled on push and finish
  std::deque<std::string> queue_;      // guarded by mutex_
  size_t queuedBytes_ = 0;             // guarded by mutex_
  bool finished_ = false;              // guarded by mutex_
  bool readerPaused_ = false;          // guarded by mutex_

  std::shared_ptr<void> slot_;         // released by the thread as it ends
  std::atomic<bool> done_{false};
  std::thread thread_;                 // started once; joined by join()
};

}  // namespace sockhub
