#include "platform/sockhub/ConnectionWorker.h"

#include <boost/asio/post.hpp>

#include "platform/sockhub/RunnerPool.h"
#include "platform/sockhub/SharedState.h"

namespace sockhub {

ConnectionWorker::ConnectionWorker(SharedState& state, boost::asio::io_context& ioc, int32_t connectionId,
                                   int32_t clientPort, std::shared_ptr<void> slot)
    : state_(state), ioc_(ioc), connectionId_(connectionId), clientPort_(clientPort), slot_(std::move(slot)) {}

void ConnectionWorker::scheduleLocked() {
  if (scheduled_) return;
  scheduled_ = true;
  // Posted from the runner that read the message, it runs on that runner as
  // soon as the read handler returns: no other thread is woken.
  boost::asio::post(ioc_, [self = shared_from_this()] { self->drain(); });
}

bool ConnectionWorker::push(std::string text) {
  const ServerOptions& limits = state_.options();
  std::lock_guard lock(mutex_);
  if (finished_) return true;
  queuedBytes_ += text.size();
  queue_.push_back(std::move(text));
  scheduleLocked();
  if (queue_.size() >= limits.maxQueuedMessages || queuedBytes_ >= limits.maxQueuedBytes) {
    readerPaused_ = true;
    return false;
  }
  return true;
}

void ConnectionWorker::finish() {
  std::lock_guard lock(mutex_);
  if (finished_) return;
  finished_ = true;
  // Nobody is left to read their replies: the work is given up, not done.
  queue_.clear();
  queuedBytes_ = 0;
  scheduleLocked();
}

void ConnectionWorker::drain() {
  const ServerOptions& limits = state_.options();
  std::string text;
  bool resume = false;
  bool ending = false;
  {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) {
      scheduled_ = false;
      // Nothing left to hand over: the end, once, if the connection ended.
      if (!finished_ || endClaimed_) return;
      endClaimed_ = true;
      ending = true;
    } else {
      text = std::move(queue_.front());
      queue_.pop_front();
      queuedBytes_ -= text.size();
      if (readerPaused_ && queue_.size() <= limits.maxQueuedMessages / 2 && queuedBytes_ <= limits.maxQueuedBytes / 2) {
        readerPaused_ = false;
        resume = true;
      }
    }
  }
  if (ending) {
    runEnd();
    return;
  }
  if (resume) state_.resumeRead(connectionId_);
  {
    RunnerPool::CallbackScope scope;
    // Messages that arrive before anyone listens are held here; Stop
    // releases the wait and they are dropped.
    if (SockHubReceiveFn receive = state_.waitForReceiver()) {
      try {
        receive(connectionId_, clientPort_, text.c_str());
      } catch (...) {
        // A callback's exception must not reach the runner.
      }
    }
  }
  // One message per turn: the other connections' reads and messages get
  // their turn before this connection's next one.
  std::lock_guard lock(mutex_);
  scheduled_ = false;
  if (!queue_.empty() || finished_) scheduleLocked();
}

void ConnectionWorker::endHere() {
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
    queue_.clear();
    queuedBytes_ = 0;
    if (endClaimed_) return;
    endClaimed_ = true;
  }
  runEnd();
}

void ConnectionWorker::runEnd() {
  if (SockHubClientActionFn onEnd = state_.clientAction()) {
    RunnerPool::CallbackScope scope;
    try {
      onEnd(connectionId_);
    } catch (...) {
    }
  }
  slot_.reset();
  done_.store(true, std::memory_order_release);
}

}  // namespace sockhub
