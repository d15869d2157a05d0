#pragma once
// The message queue of one thread and its pump (internal to the window
// system).
//
// Every thread that owns windows, or sends to a window of another thread,
// has one. Other threads push sent records and posted items; only the owning
// thread takes them out, in its pump, and hands each to a MessageDispatcher
// (the window system) to run. A thread blocked in a cross-thread send waits
// on its own queue, which wakes both for the reply and for records that
// other threads send to it, so a send back never deadlocks.
//
// Threads: the push, timer, paint and quit calls work from any thread; the
// pump calls (run, pumpUntil, pumpPending, and the waiting half of
// sendAndWait) only on the owning thread. mutex_ guards every field below it.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/ui/Types.h"

namespace ui {

class ThreadQueue;

// A message (or a closure) sent to another thread; it lives on the sender's
// stack until the reply arrives.
struct SendRecord {
  HWND hwnd = 0;
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::function<LRESULT()> task;  // run instead of a message when set
  LRESULT result = 0;

 private:
  friend class ThreadQueue;
  bool done = false;  // guarded by sender->mutex_
  bool ran = false;   // guarded by sender->mutex_
  std::shared_ptr<ThreadQueue> sender;
};

struct PostedItem {
  HWND hwnd = 0;
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  std::function<void()> task;  // a closure for hwnd's thread instead of a message
};

// Runs what a queue's pump takes out, on the queue's thread, with no queue
// lock held.
class MessageDispatcher {
 public:
  virtual ~MessageDispatcher() = default;
  // A sent message or task; the answer goes back to the sender.
  virtual LRESULT runSent(const SendRecord& record) = 0;
  virtual void runPosted(PostedItem& item) = 0;
  virtual void runTimer(HWND hwnd, uint32_t id) = 0;
  virtual void runPaint(HWND hwnd) = 0;
};

class ThreadQueue {
 public:
  // The calling thread's queue, made on first use.
  static std::shared_ptr<ThreadQueue> current();
  // The calling thread's queue, or null when it has none yet.
  static ThreadQueue* currentIfAny();

  // Any thread. False when the owning thread has ended.
  bool pushPosted(PostedItem item);
  // Queues record for target's thread and waits on the calling thread's
  // queue for the reply, serving records sent to this thread meanwhile.
  // False when target's thread has ended before it ran the record.
  static bool sendAndWait(ThreadQueue& target, SendRecord& record, MessageDispatcher& dispatcher);

  void setTimer(HWND hwnd, uint32_t id, std::chrono::milliseconds interval);
  bool killTimer(HWND hwnd, uint32_t id);
  void requestPaint(HWND hwnd);
  // Drops posted items, timers and paint requests of a window being destroyed.
  void forgetWindow(HWND hwnd);
  void postQuit(int code);

  // The pump; owning thread only. run() handles messages until postQuit and
  // answers its code; pumpUntil() until done() holds or the time runs out
  // (answering done()); pumpPending() what is ready now.
  int run(MessageDispatcher& dispatcher);
  bool pumpUntil(MessageDispatcher& dispatcher, const std::function<bool()>& done, std::chrono::milliseconds timeout);
  void pumpPending(MessageDispatcher& dispatcher);

  // Ends the queue: later pushes fail, waiting senders are released without
  // a run. Called when the owning thread exits.
  void shutdown();

  // Sent records waiting to be served: tells whether a sender is parked on
  // this queue (used by tests that must act once a send has arrived).
  size_t sentWaiting();

 private:
  struct TimerEntry {
    HWND hwnd = 0;
    uint32_t id = 0;
    std::chrono::milliseconds interval{0};
    std::chrono::steady_clock::time_point due;
  };
  enum class Step { Ran, Idle, Quit, Timeout };

  bool pushSent(SendRecord* record);
  Step pumpOne(MessageDispatcher& dispatcher, bool honourQuit, bool wait,
               std::optional<std::chrono::steady_clock::time_point> deadline);
  static void serve(MessageDispatcher& dispatcher, SendRecord* record);
  // Marks a record done and wakes its sender; ran tells whether it was run.
  static void complete(SendRecord* record, LRESULT result, bool ran);

  std::mutex mutex_;
  std::condition_variable cv_;  // any change below
  // Guarded by mutex_.
  std::deque<SendRecord*> sent_;
  std::deque<PostedItem> posted_;
  std::vector<TimerEntry> timers_;
  std::deque<HWND> paint_;
  bool quit_ = false;
  int quitCode_ = 0;
  bool alive_ = true;
};

}  // namespace ui
