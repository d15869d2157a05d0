#pragma once
// The message queue of one thread (internal to the window system).
//
// Every thread that owns windows, or sends to a window of another thread,
// has one. Other threads push sent records and posted items under mutex_;
// only the owning thread takes them out. A thread blocked in a cross-thread
// send waits on its own cv_, which wakes both for the reply and for records
// that other threads send to it, so a send back never deadlocks.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ui/Types.h"

namespace ui {

class ThreadQueue;

// A message (or a closure) sent to another thread; it lives on the sender's
// stack until done is set.
struct SendRecord {
  HWND hwnd = 0;
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::function<LRESULT()> task;  // run instead of a message when set
  LRESULT result = 0;
  bool done = false;  // guarded by sender->mutex_
  std::shared_ptr<ThreadQueue> sender;
};

struct PostedItem {
  HWND hwnd = 0;
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::function<void()> task;  // a closure for hwnd's thread instead of a message
};

struct TimerEntry {
  HWND hwnd = 0;
  uint32_t id = 0;
  std::chrono::milliseconds interval{0};
  std::chrono::steady_clock::time_point due;
};

class ThreadQueue {
 public:
  // The calling thread's queue, made on first use.
  static std::shared_ptr<ThreadQueue> current();
  // The calling thread's queue, or null when it has none yet.
  static ThreadQueue* currentIfAny();

  std::thread::id thread() const { return thread_; }

  // Any thread. False when the owning thread has ended.
  bool pushSent(SendRecord* record);
  bool pushPosted(PostedItem item);
  // Marks a record done and wakes its sender.
  static void complete(SendRecord* record, LRESULT result);
  void setTimer(HWND hwnd, uint32_t id, std::chrono::milliseconds interval);
  bool killTimer(HWND hwnd, uint32_t id);
  void requestPaint(HWND hwnd);
  // Drops posted items, timers and paint requests of a window being destroyed.
  void forgetWindow(HWND hwnd);
  void postQuit(int code);
  void wake();

  // Ends the queue: later pushes fail, waiting senders get 0. Called when the
  // owning thread exits.
  void shutdown();

  std::mutex mutex_;
  std::condition_variable cv_;
  // Guarded by mutex_.
  std::deque<SendRecord*> sent_;
  std::deque<PostedItem> posted_;
  std::vector<TimerEntry> timers_;
  std::deque<HWND> paint_;
  bool quit_ = false;
  int quitCode_ = 0;
  bool alive_ = true;

 private:
  std::thread::id thread_ = std::this_thread::get_id();
};

}  // namespace ui
