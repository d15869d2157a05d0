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

bool ThreadQueue::pushPosted(PostedItem item) {
  {
    std::lock_guard lock(mutex_);
    if (!alive_) return false;
    posted_.push_back(std::move(item));
  }
  cv_.notify_all();
  return true;
}

void ThreadQueue::complete(SendRecord* record, LRESULT result) {
  // The record lives on the sender's stack: once done is set under the
  // sender's lock it may vanish, so keep the queue alive through a copy.
  std::shared_ptr<ThreadQueue> sender = record->sender;
  {
    std::lock_guard lock(sender->mutex_);
    record->result = result;
    record->done = true;
  }
  sender->cv_.notify_all();
}

void ThreadQueue::setTimer(HWND hwnd, uint32_t id, std::chrono::milliseconds interval) {
  {
    std::lock_guard lock(mutex_);
    auto due = std::chrono::steady_clock::now() + interval;
    for (auto& t : timers_) {
      if (t.hwnd == hwnd && t.id == id) {
        t.interval = interval;
        t.due = due;
        cv_.notify_all();
        return;
      }
    }
    timers_.push_back({hwnd, id, interval, due});
  }
  cv_.notify_all();
}

bool ThreadQueue::killTimer(HWND hwnd, uint32_t id) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(timers_.begin(), timers_.end(),
                         [&](const TimerEntry& t) { return t.hwnd == hwnd && t.id == id; });
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

void ThreadQueue::wake() { cv_.notify_all(); }

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
  for (SendRecord* r : pending) complete(r, 0);
}

}  // namespace ui
