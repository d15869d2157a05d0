#include "platform/sockhub/ConnectionWorker.h"

#include <system_error>

#include "platform/sockhub/SharedState.h"

namespace sockhub {
namespace {
thread_local bool tOnWorkerThread = false;
}  // namespace

ConnectionWorker::ConnectionWorker(SharedState& state, int32_t connectionId, int32_t clientPort,
                                   std::shared_ptr<void> slot)
    : state_(state), connectionId_(connectionId), clientPort_(clientPort), slot_(std::move(slot)) {}

ConnectionWorker::~ConnectionWorker() { join(); }

bool ConnectionWorker::start() {
  try {
    thread_ = std::thread([this] { run(); });
    return true;
  } catch (const std::system_error&) {
    done_.store(true, std::memory_order_release);
    return false;
  }
}

bool ConnectionWorker::push(std::string text) {
  const ServerOptions& limits = state_.options();
  bool room = true;
  {
    std::lock_guard lock(mutex_);
    if (finished_) return true;
    queuedBytes_ += text.size();
    queue_.push_back(std::move(text));
    if (queue_.size() >= limits.maxQueuedMessages || queuedBytes_ >= limits.maxQueuedBytes) {
      readerPaused_ = true;
      room = false;
    }
  }
  wake_.notify_one();
  return room;
}

void ConnectionWorker::finish() {
  {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    finished_ = true;
    // Nobody is left to read their replies: the work is given up, not done.
    queue_.clear();
    queuedBytes_ = 0;
  }
  wake_.notify_one();
}

void ConnectionWorker::join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool ConnectionWorker::onWorkerThread() { return tOnWorkerThread; }

void ConnectionWorker::run() {
  tOnWorkerThread = true;
  const ServerOptions& limits = state_.options();
  while (true) {
    std::string text;
    bool resume = false;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return !queue_.empty() || finished_; });
      if (queue_.empty()) break;  // finished
      text = std::move(queue_.front());
      queue_.pop_front();
      queuedBytes_ -= text.size();
      if (readerPaused_ && queue_.size() <= limits.maxQueuedMessages / 2 &&
          queuedBytes_ <= limits.maxQueuedBytes / 2) {
        readerPaused_ = false;
        resume = true;
      }
    }
    if (resume) state_.resumeRead(connectionId_);
    // Messages that arrive before anyone listens are held here; Stop
    // releases the wait and they are dropped.
    if (SockHubReceiveFn receive = state_.waitForReceiver()) {
      try {
        receive(connectionId_, clientPort_, text.c_str());
      } catch (...) {
        // A callback's exception must not end the connection's thread.
      }
    }
  }
  if (SockHubClientActionFn onEnd = state_.clientAction()) {
    try {
      onEnd(connectionId_);
    } catch (...) {
    }
  }
  slot_.reset();
  done_.store(true, std::memory_order_release);
}

}  // namespace sockhub
