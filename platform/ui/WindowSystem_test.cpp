#include "platform/ui/WindowSystem.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/ui/ThreadQueue.h"
#include "platform/ui/Window.h"
#include "platform/ui/testing/UiTestSupport.h"

namespace ui {
namespace {

using test::HeadlessTest;
using test::Watchdog;
using namespace std::chrono_literals;

constexpr UINT kMsgPing = WM_USER + 1;
constexpr UINT kMsgEcho = WM_USER + 2;
constexpr UINT kMsgCreateDock = WM_USER + 0x77;

// The UI side: answers a ping by sending back to the caller's window.
class UiWindow : public Window {
 public:
  std::atomic<int> pings{0};
  std::atomic<int> busyMicros{0};
  std::thread::id thread;
  bool wrongThread = false;
  LRESULT handleMessage(UINT msg, WPARAM w, LPARAM l) override {
    if (std::this_thread::get_id() != thread) wrongThread = true;
    if (msg == kMsgPing) {
      ++pings;
      if (busyMicros) std::this_thread::sleep_for(std::chrono::microseconds(busyMicros.load()));
      // The caller's window answers on the caller's thread, which is blocked
      // in its own send to us.
      return ui::sendMessage(static_cast<HWND>(w), kMsgEcho, 0, l) + 1;
    }
    if (msg == WM_DESTROY) ui::postQuitMessage(7);
    return defaultHandle(msg, w, l);
  }
};

class EchoWindow : public Window {
 public:
  std::thread::id thread;
  bool wrongThread = false;
  LRESULT handleMessage(UINT msg, WPARAM w, LPARAM l) override {
    if (msg == kMsgEcho) {
      if (std::this_thread::get_id() != thread) wrongThread = true;
      return l * 2;
    }
    return defaultHandle(msg, w, l);
  }
};

using ThreadingTest = HeadlessTest;

TEST_F(ThreadingTest, EightThreadsSendingWithCallbacksDoNotDeadlock) {
  Watchdog dog(20s, "eight senders");
  UiWindow ui;
  ui.thread = std::this_thread::get_id();
  ui.busyMicros = 50;  // a busy UI thread
  HWND uiHwnd = ui.create(0, {0, 0, 10, 10}, "ui", 0);
  ASSERT_NE(uiHwnd, 0u);
  constexpr int kThreads = 8;
  constexpr int kRounds = 200;
  std::atomic<int> wrong{0};
  std::atomic<int> finished{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      EchoWindow echo;
      echo.thread = std::this_thread::get_id();
      HWND mine = echo.create(0, {0, 0, 1, 1}, "echo", 0);
      for (int i = 0; i < kRounds; ++i) {
        LPARAM value = t * 1000 + i;
        if (ui::sendMessage(uiHwnd, kMsgPing, mine, value) != value * 2 + 1) ++wrong;
      }
      if (echo.wrongThread) ++wrong;
      destroyWindow(mine);
      ++finished;
    });
  }
  // The UI thread keeps its loop running, as the shell's main thread does.
  EXPECT_TRUE(pumpMessagesUntil([&] { return finished == kThreads; }, 15s));
  for (auto& w : workers) w.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(ui.pings, kThreads * kRounds);
  EXPECT_FALSE(ui.wrongThread);
}

TEST_F(ThreadingTest, RunMessageLoopServesSendsUntilQuit) {
  Watchdog dog(10s, "message loop");
  UiWindow ui;
  ui.thread = std::this_thread::get_id();
  HWND uiHwnd = ui.create(0, {0, 0, 10, 10}, "dialog", 0);
  std::thread other([&] {
    EchoWindow echo;
    echo.thread = std::this_thread::get_id();
    HWND mine = echo.create(0, {0, 0, 1, 1}, "", 0);
    EXPECT_EQ(ui::sendMessage(uiHwnd, kMsgPing, mine, 5), 11);
    destroyWindow(mine);
    ui::postMessage(uiHwnd, WM_CLOSE);
  });
  EXPECT_EQ(runMessageLoop(), 7);
  other.join();
  EXPECT_FALSE(isWindow(uiHwnd));
}

TEST_F(ThreadingTest, CallsFromOtherThreadsRunOnTheOwningThread) {
  Watchdog dog(10s);
  class Owned : public Window {
   public:
    std::thread::id thread;
    std::atomic<int> offThread{0};
    LRESULT handleMessage(UINT msg, WPARAM w, LPARAM l) override {
      if (std::this_thread::get_id() != thread) ++offThread;
      return defaultHandle(msg, w, l);
    }
  } owned;
  owned.thread = std::this_thread::get_id();
  HWND h = owned.create(0, {0, 0, 10, 10}, "", 0);
  std::atomic<bool> done{false};
  std::thread other([&] {
    showWindow(h, SW_SHOW);
    moveWindow(h, 5, 5, 20, 20);
    setWindowPos(h, 0, 7, 7, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_ASYNCWINDOWPOS);
    setWindowText(h, "renamed");
    done = true;
  });
  EXPECT_TRUE(pumpMessagesUntil([&] { return done.load(); }, 5s));
  other.join();
  pumpPendingMessages();
  EXPECT_EQ(owned.offThread, 0);
  EXPECT_EQ(getWindowRect(h), (Rect{7, 7, 27, 27}));
  EXPECT_EQ(getWindowText(h), "renamed");
  EXPECT_TRUE(isWindowVisible(h));
  // Destroying from another thread also runs on the owner.
  std::thread killer([&] { EXPECT_TRUE(destroyWindow(h)); });
  EXPECT_TRUE(pumpMessagesUntil([&] { return !isWindow(h); }, 5s));
  killer.join();
  EXPECT_EQ(owned.offThread, 0);
}

TEST_F(ThreadingTest, WindowsOfAnEndingThreadAreDestroyedWithIt) {
  Watchdog dog(10s);
  class Counted : public EchoWindow {
   public:
    std::atomic<int>* finals = nullptr;
    void onFinalMessage(HWND) override { ++*finals; }
  };
  std::atomic<int> finals{0};
  auto left = std::make_unique<Counted>();
  auto child = std::make_unique<Counted>();
  left->finals = &finals;
  child->finals = &finals;
  HWND orphan = 0;
  std::thread t([&] {
    // Not destroyed by its thread: the thread's end takes it along.
    orphan = left->create(0, {0, 0, 10, 10}, "", 0);
    child->create(orphan, {0, 0, 1, 1}, "", WS_CHILD);
  });
  t.join();
  EXPECT_FALSE(isWindow(orphan));
  EXPECT_EQ(finals, 2);
  EXPECT_EQ(ui::sendMessage(orphan, kMsgEcho, 0, 1), 0);
}

TEST_F(ThreadingTest, PostedTasksRunInOrderAndAreDroppedForDestroyedWindows) {
  EchoWindow a;
  EchoWindow b;
  HWND ha = a.create(0, {0, 0, 1, 1}, "", 0);
  HWND hb = b.create(0, {0, 0, 1, 1}, "", 0);
  std::vector<int> ran;
  auto guard = std::make_shared<int>(0);
  std::weak_ptr<int> held = guard;
  EXPECT_TRUE(postTask(ha, [&] { ran.push_back(1); }));
  EXPECT_TRUE(postTask(hb, [&, guard] { ran.push_back(99); }));
  EXPECT_TRUE(postTask(ha, [&] { ran.push_back(2); }));
  guard.reset();
  destroyWindow(hb);
  // The dropped closure is released with the window, not kept until a pump.
  EXPECT_TRUE(held.expired());
  EXPECT_FALSE(postTask(hb, [&] { ran.push_back(100); }));
  EXPECT_FALSE(postMessage(hb, WM_USER));
  pumpPendingMessages();
  EXPECT_EQ(ran, (std::vector<int>{1, 2}));

  // Posted from another thread, run on the window's thread.
  std::atomic<bool> onOwner{false};
  auto me = std::this_thread::get_id();
  std::thread([&] { postTask(ha, [&] { onOwner = std::this_thread::get_id() == me; }); }).join();
  EXPECT_TRUE(pumpUntil([&] { return onOwner.load(); }));
}

class TimerWindow : public Window {
 public:
  std::vector<std::chrono::steady_clock::time_point> ticks;
  std::vector<WPARAM> ids;
  LRESULT handleMessage(UINT msg, WPARAM w, LPARAM l) override {
    if (msg == WM_TIMER) {
      ticks.push_back(std::chrono::steady_clock::now());
      ids.push_back(w);
      return 0;
    }
    return defaultHandle(msg, w, l);
  }
};

TEST_F(ThreadingTest, TimersFireAtAboutTheirIntervalUntilKilled) {
  TimerWindow t;
  HWND h = t.create(0, {0, 0, 1, 1}, "", 0);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(setTimer(h, 10000, 40), 10000u);
  EXPECT_EQ(setTimer(h, 0, 40), 0u);
  EXPECT_TRUE(pumpUntil([&] { return t.ticks.size() >= 3; }));
  // Three ticks of 40 ms cannot come sooner than 120 ms; a generous upper
  // bound only guards against a timer that never rests.
  EXPECT_GE(t.ticks[2] - start, 115ms);
  for (WPARAM id : t.ids) EXPECT_EQ(id, 10000u);
  EXPECT_TRUE(killTimer(h, 10000));
  EXPECT_FALSE(killTimer(h, 10000));
  size_t count = t.ticks.size();
  pumpMessagesUntil([] { return false; }, 120ms);
  EXPECT_EQ(t.ticks.size(), count);
  // Destroying a window ends its timers.
  setTimer(h, 1, 10);
  destroyWindow(h);
  pumpMessagesUntil([] { return false; }, 50ms);
  EXPECT_EQ(t.ticks.size(), count);
}

TEST_F(ThreadingTest, HandlerExceptionStaysInsideTheLayer) {
  class Thrower : public Window {
   public:
    LRESULT handleMessage(UINT msg, WPARAM w, LPARAM l) override {
      if (msg == WM_USER) throw std::logic_error("bad layout type");
      return defaultHandle(msg, w, l);
    }
  } thrower;
  HWND h = thrower.create(0, {0, 0, 1, 1}, "", 0);
  EXPECT_EQ(ui::sendMessage(h, WM_USER), 0);
  std::atomic<bool> sent{false};
  std::thread other([&] {
    EXPECT_EQ(ui::sendMessage(h, WM_USER), 0);
    sent = true;
  });
  EXPECT_TRUE(pumpUntil([&] { return sent.load(); }));
  other.join();
  postMessage(h, WM_USER);
  pumpPendingMessages();
  EXPECT_TRUE(isWindow(h));
}

TEST_F(ThreadingTest, CrossThreadDockCreationHandshake) {
  // A command thread asks the UI thread to create a window and waits; the UI
  // thread creates it as its own and the command thread then moves it.
  Watchdog dog(10s);
  struct Dialog : Window {
    std::vector<std::unique_ptr<EchoWindow>> docks;
    LRESULT handleMessage(UINT msg, WPARAM w, LPARAM l) override {
      if (msg == kMsgCreateDock) {
        auto dock = std::make_unique<EchoWindow>();
        dock->thread = std::this_thread::get_id();
        HWND h = dock->create(kDesktopWindow, {0, 0, 100, 100}, "", WS_CHILD | WS_VISIBLE, WS_EX_TOOLWINDOW);
        *reinterpret_cast<HWND*>(l) = h;
        docks.push_back(std::move(dock));
        return h ? 0 : 1005;
      }
      return defaultHandle(msg, w, l);
    }
  } dialog;
  HWND d = dialog.create(0, {0, 0, 1, 1}, "Kestrova", 0);
  std::atomic<bool> done{false};
  HWND dock = 0;
  std::thread command([&] {
    EXPECT_EQ(ui::sendMessage(d, kMsgCreateDock, 1, reinterpret_cast<LPARAM>(&dock)), 0);
    EXPECT_TRUE(moveWindow(dock, 30, 40, 200, 100));
    EXPECT_EQ(ui::sendMessage(dock, kMsgEcho, 0, 21), 42);
    done = true;
  });
  EXPECT_TRUE(pumpUntil([&] { return done.load(); }));
  command.join();
  EXPECT_EQ(getWindowRect(dock), (Rect{30, 40, 230, 140}));
  EXPECT_FALSE(dialog.docks[0]->wrongThread);
}

TEST_F(ThreadingTest, SendTaskRunsOnTheOwningThreadAndWaits) {
  Watchdog dog(10s);
  EchoWindow own;
  own.thread = std::this_thread::get_id();
  HWND mine = own.create(0, {0, 0, 1, 1}, "", 0);
  // On the owning thread the task runs right away.
  bool direct = false;
  EXPECT_TRUE(sendTask(mine, [&] { direct = true; }));
  EXPECT_TRUE(direct);

  std::atomic<bool> done{false};
  std::thread other([&] {
    EchoWindow echo;
    echo.thread = std::this_thread::get_id();
    HWND theirs = echo.create(0, {0, 0, 1, 1}, "", 0);
    std::thread::id ranOn;
    LRESULT echoed = 0;
    // The task sends back to this thread's window while this thread waits:
    // the waiting thread serves it.
    EXPECT_TRUE(sendTask(mine, [&] {
      ranOn = std::this_thread::get_id();
      echoed = ui::sendMessage(theirs, kMsgEcho, 0, 4);
    }));
    EXPECT_EQ(ranOn, own.thread);
    EXPECT_EQ(echoed, 8);
    EXPECT_FALSE(echo.wrongThread);
    destroyWindow(theirs);
    done = true;
  });
  EXPECT_TRUE(pumpUntil([&] { return done.load(); }));
  other.join();
}

TEST_F(ThreadingTest, SendTaskAnswersFalseWhenTheWindowIsGone) {
  Watchdog dog(10s);
  EXPECT_FALSE(sendTask(0, [] {}));
  EchoWindow w;
  HWND h = w.create(0, {0, 0, 1, 1}, "", 0);
  EXPECT_FALSE(sendTask(h, nullptr));
  destroyWindow(h);
  bool ran = false;
  EXPECT_FALSE(sendTask(h, [&] { ran = true; }));
  EXPECT_FALSE(ran);

  // Destroyed while the task waits in its thread's queue: dropped, false.
  class Doomed : public Window {
   public:
    std::atomic<bool> inside{false};
    LRESULT handleMessage(UINT msg, WPARAM wp, LPARAM lp) override {
      if (msg == WM_USER) {
        inside = true;
        // Destroyed once the sender's task waits in this thread's queue.
        const auto queue = ThreadQueue::current();
        while (queue->sentWaiting() == 0) std::this_thread::sleep_for(1ms);
        destroyWindow();
        return 0;
      }
      return defaultHandle(msg, wp, lp);
    }
  } doomed;
  HWND d = doomed.create(0, {0, 0, 1, 1}, "", 0);
  postMessage(d, WM_USER);
  std::atomic<bool> answered{false};
  std::atomic<bool> result{true};
  std::atomic<bool> lateRun{false};
  std::thread sender([&] {
    // Sent records go before posted ones: send only once the owner is busy.
    while (!doomed.inside) std::this_thread::sleep_for(1ms);
    result = sendTask(d, [&] { lateRun = true; });
    answered = true;
  });
  EXPECT_TRUE(pumpUntil([&] { return answered.load(); }));
  sender.join();
  EXPECT_FALSE(result);
  EXPECT_FALSE(lateRun);

  // A window whose thread has ended is gone too.
  HWND orphan = 0;
  std::thread([&] {
    EchoWindow e;
    orphan = e.create(0, {0, 0, 1, 1}, "", 0);
  }).join();
  EXPECT_FALSE(sendTask(orphan, [&] { ran = true; }));
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace ui
