#include "platform/ui/ThreadQueue.h"

#include <algorithm>

#include "platform/ui/WindowSystem.h"

namespace ui {

namespace {

// When a thread exits, its remaining windows are destroyed (on this thread,
// with their messages) and its queue ends, so that senders waiting on it are
// released instead of blocking forever.
struct QueueHolder {
  std::shared_ptr<ThreadQueue> queue;
  ~QueueHolder() {
    if (!queue) return;
    if (WindowSystem* ws = WindowSystem::current()) ws->destroyThreadWindows();
    queue->shutdown();
  }
};

thread_local QueueHolder tQueue;

}  // namespace

std::shared_ptr<ThreadQueue> ThreadQueue::current() {
  if (!tQueue.queue) tQueue.queue = std::make_shared<ThreadQueue>();
  return tQueue.queue;
}

ThreadQueue* ThreadQueue::currentIfAny() { return tQueue.queue.get(); }

bool ThreadQueue::pushSent(SendRecord* record) {
  {
    std::lock_guard lock(mutex_);
    if (!alive_) return false;
    sent_.push_back(record);
  }
  cv_.notify_all();
  return true;
}

size_t ThreadQueue::sentWaiting() {
  std::lock_guard lock(mutex_);
  return sent_.size();
}

bool ThreadQueue::pushPosted(PostedItem item) {
  {
    std::lock_guard lock(mutex_);
    if (!alive_) return false;
    posted_.push_back(std::move(item));
  }
  cv_.notify_all();
  return true;
}

void ThreadQueue::complete(SendRecord* record, LRESULT result, bool ran) {
  // The record lives on the sender's stack: once done is set under the
  // sender's lock it may vanish, so keep the queue alive through a copy.
  std::shared_ptr<ThreadQueue> sender = record->sender;
  {
    std::lock_guard lock(sender->mutex_);
    record->result = result;
    record->ran = ran;
    record->done = true;
  }
  sender->cv_.notify_all();
}

void ThreadQueue::serve(MessageDispatcher& dispatcher, SendRecord* record) {
  complete(record, dispatcher.runSent(*record), true);
}

bool ThreadQueue::sendAndWait(ThreadQueue& target, SendRecord& record, MessageDispatcher& dispatcher) {
  std::shared_ptr<ThreadQueue> self = current();
  record.sender = self;
  if (!target.pushSent(&record)) return false;
  std::unique_lock lock(self->mutex_);
  while (!record.done) {
    if (!self->sent_.empty()) {
      // Another thread sends to this thread's windows while it waits (the
      // handler of our own send calling back): serve it, or both block.
      SendRecord* incoming = self->sent_.front();
      self->sent_.pop_front();
      lock.unlock();
      serve(dispatcher, incoming);
      lock.lock();
      continue;
    }
    self->cv_.wait(lock);
  }
  return record.ran;
}

void ThreadQueue::setTimer(HWND hwnd, uint32_t id, std::chrono::milliseconds interval) {
  {
    std::lock_guard lock(mutex_);
    auto due = std::chrono::steady_clock::now() + interval;
    auto it =
        std::find_if(timers_.begin(), timers_.end(), [&](const TimerEntry& t) { return t.hwnd == hwnd && t.id == id; });
    if (it != timers_.end()) {
      it->interval = interval;
      it->due = due;
    } else {
      timers_.push_back({hwnd, id, interval, due});
    }
  }
  cv_.notify_all();
}

bool ThreadQueue::killTimer(HWND hwnd, uint32_t id) {
  std::lock_guard lock(mutex_);
  auto it =
      std::find_if(timers_.begin(), timers_.end(), [&](const TimerEntry& t) { return t.hwnd == hwnd && t.id == id; });
  if (it == timers_.end()) return false;
  timers_.erase(it);
  return true;
}

void ThreadQueue::requestPaint(HWND hwnd) {
  {
    std::lock_guard lock(mutex_);
    if (std::find(paint_.begin(), paint_.end(), hwnd) != paint_.end()) return;
    paint_.push_back(hwnd);
  }
  cv_.notify_all();
}

void ThreadQueue::forgetWindow(HWND hwnd) {
  std::deque<PostedItem> dropped;  // destroyed outside the lock: closures may hold anything
  {
    std::lock_guard lock(mutex_);
    for (auto it = posted_.begin(); it != posted_.end();) {
      if (it->hwnd == hwnd) {
        dropped.push_back(std::move(*it));
        it = posted_.erase(it);
      } else {
        ++it;
      }
    }
    std::erase_if(timers_, [&](const TimerEntry& t) { return t.hwnd == hwnd; });
    std::erase(paint_, hwnd);
  }
}

void ThreadQueue::postQuit(int code) {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    quitCode_ = code;
  }
  cv_.notify_all();
}

void ThreadQueue::shutdown() {
  std::deque<SendRecord*> pending;
  std::deque<PostedItem> dropped;
  {
    std::lock_guard lock(mutex_);
    alive_ = false;
    pending.swap(sent_);
    dropped.swap(posted_);
    timers_.clear();
    paint_.clear();
  }
  for (SendRecord* r : pending) complete(r, 0, false);
}

// ---------------------------------------------------------------- pump

ThreadQueue::Step ThreadQueue::pumpOne(MessageDispatcher& dispatcher, bool honourQuit, bool wait,
                                       std::optional<std::chrono::steady_clock::time_point> deadline) {
  std::unique_lock lock(mutex_);
  for (;;) {
    // Sent records first, then posted items, then due timers, then paints:
    // a paint sees every change queued before it.
    if (!sent_.empty()) {
      SendRecord* record = sent_.front();
      sent_.pop_front();
      lock.unlock();
      serve(dispatcher, record);
      return Step::Ran;
    }
    if (!posted_.empty()) {
      PostedItem item = std::move(posted_.front());
      posted_.pop_front();
      lock.unlock();
      dispatcher.runPosted(item);
      return Step::Ran;
    }
    if (honourQuit && quit_) return Step::Quit;
    auto now = std::chrono::steady_clock::now();
    TimerEntry* next = nullptr;
    for (auto& t : timers_) {
      if (!next || t.due < next->due) next = &t;
    }
    if (next && next->due <= now) {
      // Due timers do not pile up: a late timer fires once and restarts.
      HWND hwnd = next->hwnd;
      uint32_t id = next->id;
      next->due = now + next->interval;
      lock.unlock();
      dispatcher.runTimer(hwnd, id);
      return Step::Ran;
    }
    if (!paint_.empty()) {
      HWND hwnd = paint_.front();
      paint_.pop_front();
      lock.unlock();
      dispatcher.runPaint(hwnd);
      return Step::Ran;
    }
    if (!wait) return Step::Idle;
    if (deadline && now >= *deadline) return Step::Timeout;
    auto until = deadline;
    if (next && (!until || next->due < *until)) until = next->due;
    if (until) {
      cv_.wait_until(lock, *until);
    } else {
      cv_.wait(lock);
    }
  }
}

int ThreadQueue::run(MessageDispatcher& dispatcher) {
  for (;;) {
    if (pumpOne(dispatcher, true, true, std::nullopt) == Step::Quit) {
      std::lock_guard lock(mutex_);
      quit_ = false;
      return quitCode_;
    }
  }
}

bool ThreadQueue::pumpUntil(MessageDispatcher& dispatcher, const std::function<bool()>& done,
                            std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return done();
    // Wake now and then: done() may turn true through another thread that
    // does not post to this one.
    auto slice = std::min(deadline, now + std::chrono::milliseconds(5));
    pumpOne(dispatcher, false, true, slice);
  }
  return true;
}

void ThreadQueue::pumpPending(MessageDispatcher& dispatcher) {
  while (pumpOne(dispatcher, false, false, std::nullopt) == Step::Ran) {
  }
}

}  // namespace ui
