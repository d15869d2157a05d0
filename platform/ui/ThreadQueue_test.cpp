#include "platform/ui/ThreadQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/testing/UiTestSupport.h"

namespace ui {
namespace {

using namespace std::chrono_literals;
using test::Watchdog;

// Records what the pump hands out, in order.
class Recorder : public MessageDispatcher {
 public:
  std::vector<std::string> log;
  std::function<LRESULT(const SendRecord&)> onSent;

  LRESULT runSent(const SendRecord& r) override {
    log.push_back("sent " + std::to_string(r.msg));
    return onSent ? onSent(r) : r.wParam * 2;
  }
  void runPosted(PostedItem& item) override {
    if (item.task) {
      item.task();
      return;
    }
    log.push_back("posted " + std::to_string(item.msg));
  }
  void runTimer(HWND hwnd, uint32_t id) override {
    log.push_back("timer " + std::to_string(hwnd) + "/" + std::to_string(id));
  }
  void runPaint(HWND hwnd) override { log.push_back("paint " + std::to_string(hwnd)); }
};

// A thread with its own queue, running its pump until quit.
class PumpThread {
 public:
  PumpThread() {
    thread_ = std::thread([this] {
      queue_ = ThreadQueue::current();
      ready_ = true;
      queue_->run(recorder);
    });
    while (!ready_) std::this_thread::sleep_for(1ms);
  }
  ~PumpThread() {
    queue_->postQuit(0);
    thread_.join();
  }
  ThreadQueue& queue() { return *queue_; }
  Recorder recorder;

 private:
  std::shared_ptr<ThreadQueue> queue_;
  std::atomic<bool> ready_{false};
  std::thread thread_;
};

TEST(ThreadQueueTest, PaintsComeAfterPostedItemsAndMergePerWindow) {
  auto q = ThreadQueue::current();
  Recorder r;
  q->requestPaint(7);
  q->requestPaint(8);
  q->requestPaint(7);
  q->pushPosted({7, 100, 0, 0, {}});
  q->pushPosted({8, 101, 0, 0, {}});
  q->pumpPending(r);
  EXPECT_EQ(r.log, (std::vector<std::string>{"posted 100", "posted 101", "paint 7", "paint 8"}));
}

TEST(ThreadQueueTest, RunAnswersTheQuitCodeAfterWhatCameBefore) {
  auto q = ThreadQueue::current();
  Recorder r;
  q->pushPosted({1, 5, 0, 0, {}});
  q->postQuit(3);
  EXPECT_EQ(q->run(r), 3);
  EXPECT_EQ(r.log, (std::vector<std::string>{"posted 5"}));
  // The quit is used up: the next run waits for a new one.
  q->pushPosted({1, 0, 0, 0, [&] { q->postQuit(4); }});
  EXPECT_EQ(q->run(r), 4);
}

TEST(ThreadQueueTest, TimersFireWhenDueAndForgetWindowDropsEverything) {
  Watchdog dog(10s);
  auto q = ThreadQueue::current();
  Recorder r;
  q->setTimer(1, 9, 20ms);
  q->setTimer(2, 9, 20ms);
  EXPECT_TRUE(q->pumpUntil(
      r, [&] { return r.log.size() >= 2; }, 2s));
  EXPECT_TRUE(q->killTimer(2, 9));
  EXPECT_FALSE(q->killTimer(2, 9));
  q->pushPosted({1, 50, 0, 0, {}});
  q->requestPaint(1);
  q->forgetWindow(1);
  r.log.clear();
  EXPECT_FALSE(q->pumpUntil(
      r, [&] { return !r.log.empty(); }, 60ms));
}

TEST(ThreadQueueTest, SendAndWaitAnswersTheResultFromTheOtherThread) {
  Watchdog dog(10s);
  PumpThread other;
  Recorder self;
  SendRecord record;
  record.msg = 42;
  record.wParam = 21;
  EXPECT_TRUE(ThreadQueue::sendAndWait(other.queue(), record, self));
  EXPECT_EQ(record.result, 42);
}

TEST(ThreadQueueTest, AWaitingSenderServesSendsToItself) {
  Watchdog dog(10s);
  PumpThread other;
  auto mine = ThreadQueue::current();
  Recorder self;
  // The other thread's handler sends back to us while we wait for it.
  other.recorder.onSent = [&](const SendRecord&) -> LRESULT {
    SendRecord back;
    back.msg = 7;
    back.wParam = 5;
    Recorder unused;
    ThreadQueue::sendAndWait(*mine, back, unused);
    return back.result + 1;
  };
  SendRecord record;
  record.msg = 1;
  EXPECT_TRUE(ThreadQueue::sendAndWait(other.queue(), record, self));
  EXPECT_EQ(record.result, 11);
  EXPECT_EQ(self.log, (std::vector<std::string>{"sent 7"}));
}

TEST(ThreadQueueTest, AnEndedQueueRefusesWorkAndReleasesWaitingSenders) {
  Watchdog dog(10s);
  std::shared_ptr<ThreadQueue> target;
  std::atomic<bool> blocked{false};
  std::atomic<bool> release{false};
  std::thread owner([&] {
    target = ThreadQueue::current();
    blocked = true;
    while (!release) std::this_thread::sleep_for(1ms);
    // The thread ends without pumping: its queue shuts down.
  });
  while (!blocked) std::this_thread::sleep_for(1ms);
  std::atomic<bool> answered{false};
  bool ran = true;
  std::thread sender([&] {
    SendRecord record;
    Recorder r;
    ran = ThreadQueue::sendAndWait(*target, record, r);
    answered = true;
  });
  // The send has reached the queue and waits there, unanswered.
  while (target->sentWaiting() == 0) std::this_thread::sleep_for(1ms);
  EXPECT_FALSE(answered);
  release = true;
  owner.join();
  sender.join();
  EXPECT_FALSE(ran);
  EXPECT_FALSE(target->pushPosted({1, 1, 0, 0, {}}));
  SendRecord late;
  Recorder r;
  EXPECT_FALSE(ThreadQueue::sendAndWait(*target, late, r));
}

}  // namespace
}  // namespace ui
