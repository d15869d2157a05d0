#pragma once
// One connection's callbacks, in order, one at a time.
//
// The connection's I/O strand pushes every received message; the worker
// hands them to the receive callback in arrival order on the server's
// runners (see RunnerPool: normally the thread that read the message, with
// no hand-off) and, once told that the connection has ended, drops the
// messages still waiting and runs the client-action callback exactly once,
// after the message it is handling then. A callback that blocks stalls only
// its own connection: the strand goes on reading, so the end of the
// connection is seen at once and the messages queued behind are dropped.
//
// The queue is bounded: when push reports it full, the session stops reading
// (TCP back-pressure reaches the peer) and the worker asks for reading to
// resume once the queue has drained to half.
#include <atomic>
#include <boost/asio/io_context.hpp>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace sockhub {

class SharedState;

class ConnectionWorker : public std::enable_shared_from_this<ConnectionWorker> {
 public:
  // `slot` is the connection's place in the server's connection bound; the
  // worker keeps it until its last callback has run.
  ConnectionWorker(SharedState& state, boost::asio::io_context& ioc, int32_t connectionId, int32_t clientPort,
                   std::shared_ptr<void> slot);
  ConnectionWorker(const ConnectionWorker&) = delete;
  ConnectionWorker& operator=(const ConnectionWorker&) = delete;

  // Queues one message. False when the queue is now full: the caller stops
  // reading until the worker calls SharedState::resumeRead for it.
  bool push(std::string text);

  // The connection has ended: messages not yet handed over are dropped and
  // no more will come. Idempotent; any thread.
  void finish();

  // For a server that has stopped its runners: ends the connection and runs
  // the client-action callback here unless it has run already.
  void endHere();

  // True once the last callback has run.
  bool done() const { return done_.load(std::memory_order_acquire); }

 private:
  // Runs on a runner: the next message's callback, or the end.
  void drain();
  void runEnd();
  void scheduleLocked();

  SharedState& state_;
  boost::asio::io_context& ioc_;
  const int32_t connectionId_;
  const int32_t clientPort_;

  std::mutex mutex_;
  std::deque<std::string> queue_;  // guarded by mutex_
  size_t queuedBytes_ = 0;         // guarded by mutex_
  bool finished_ = false;          // guarded by mutex_
  bool readerPaused_ = false;      // guarded by mutex_
  bool scheduled_ = false;         // guarded by mutex_: a drain is posted or running
  bool endClaimed_ = false;        // guarded by mutex_: the end callback is taken by one thread

  std::shared_ptr<void> slot_;  // released after the end callback
  std::atomic<bool> done_{false};
};

}  // namespace sockhub
