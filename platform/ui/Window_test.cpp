#include "platform/ui/Window.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/ui/PaintScope.h"
#include "platform/ui/WindowDC.h"
#include "platform/ui/testing/UiTestSupport.h"

namespace ui {
namespace {

using test::HeadlessTest;

// Records every message with its parameters; optional per-message answers.
class Recorder : public Window {
 public:
  struct Msg {
    UINT msg;
    WPARAM w;
    LPARAM l;
  };
  std::vector<Msg> log;
  std::vector<std::string>* order = nullptr;  // shared destroy-order log
  std::string name;
  LRESULT createAnswer = 0;
  int finals = 0;
  std::function<void(WINDOWPOS&)> onChanging;

  LRESULT handleMessage(UINT msg, WPARAM w, LPARAM l) override {
    log.push_back({msg, w, l});
    if (order && (msg == WM_DESTROY || msg == WM_NCDESTROY)) {
      order->push_back(name + (msg == WM_DESTROY ? ":destroy" : ":ncdestroy"));
    }
    if (msg == WM_CREATE && createAnswer) return createAnswer;
    LRESULT r = defaultHandle(msg, w, l);
    if (msg == WM_WINDOWPOSCHANGING && onChanging) onChanging(*reinterpret_cast<WINDOWPOS*>(l));
    return r;
  }
  void onFinalMessage(HWND) override {
    ++finals;
    if (order) order->push_back(name + ":final");
  }
  std::vector<UINT> ids() const {
    std::vector<UINT> out;
    for (auto& m : log) out.push_back(m.msg);
    return out;
  }
  std::vector<Msg> of(UINT msg) const {
    std::vector<Msg> out;
    for (auto& m : log)
      if (m.msg == msg) out.push_back(m);
    return out;
  }
  void clear() { log.clear(); }
};

using WindowTest = HeadlessTest;

TEST_F(WindowTest, CreationSendsCreateSizeMoveThenShows) {
  Recorder r;
  HWND h = r.create(0, {10, 20, 110, 70}, "main", WS_VISIBLE | WS_POPUP);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(r.hwnd(), h);
  auto ids = r.ids();
  ASSERT_GE(ids.size(), 5u);
  EXPECT_EQ(ids[0], WM_CREATE);
  EXPECT_EQ(ids[1], WM_SIZE);
  EXPECT_EQ(ids[2], WM_MOVE);
  EXPECT_EQ(ids[3], WM_SHOWWINDOW);
  EXPECT_EQ(ids[4], WM_WINDOWPOSCHANGING);
  EXPECT_EQ(r.of(WM_SIZE)[0].l, MAKELPARAM(100, 50));
  EXPECT_EQ(r.of(WM_MOVE)[0].l, MAKELPARAM(10, 20));
  EXPECT_TRUE(isWindowVisible(h));
  EXPECT_EQ(getClassName(h), "KestrovaWindow");
  EXPECT_EQ(getWindowText(h), "main");
}

TEST_F(WindowTest, CreateAnsweringMinusOneRefusesWithoutFinalMessage) {
  Recorder r;
  r.createAnswer = -1;
  EXPECT_EQ(r.create(0, {0, 0, 10, 10}, "x", 0), 0u);
  EXPECT_EQ(r.hwnd(), 0u);
  EXPECT_EQ(r.finals, 0);  // the caller still owns the object
  auto ids = r.ids();
  EXPECT_NE(std::find(ids.begin(), ids.end(), WM_NCDESTROY), ids.end());
  EXPECT_TRUE(getTopLevelWindows().empty());

  // Any other answer keeps the window.
  Recorder ok;
  ok.createAnswer = 1;
  EXPECT_NE(ok.create(0, {0, 0, 10, 10}, "x", 0), 0u);
}

TEST_F(WindowTest, ChildNeedsALiveParent) {
  Recorder child;
  EXPECT_EQ(child.create(0x12345, {0, 0, 5, 5}, "", WS_CHILD), 0u);
  // A child style window on the desktop is a top-level window whose parent
  // reads as the desktop.
  HWND h = child.create(kDesktopWindow, {0, 0, 5, 5}, "", WS_CHILD);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(getParent(h), kDesktopWindow);
  auto tops = getTopLevelWindows();
  EXPECT_NE(std::find(tops.begin(), tops.end(), h), tops.end());
}

TEST_F(WindowTest, MoveAndResizeSendMoveThenSizeOnlyForWhatChanged) {
  Recorder r;
  HWND h = r.create(0, {0, 0, 100, 100}, "", WS_POPUP);
  r.clear();
  EXPECT_TRUE(moveWindow(h, 5, 6, 100, 100));
  EXPECT_EQ(r.of(WM_MOVE).size(), 1u);
  EXPECT_TRUE(r.of(WM_SIZE).empty());
  EXPECT_EQ(r.of(WM_MOVE)[0].l, MAKELPARAM(5, 6));

  r.clear();
  EXPECT_TRUE(setWindowPos(h, 0, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER));
  EXPECT_TRUE(r.of(WM_MOVE).empty());
  ASSERT_EQ(r.of(WM_SIZE).size(), 1u);
  EXPECT_EQ(r.of(WM_SIZE)[0].l, MAKELPARAM(300, 200));
  EXPECT_EQ(r.of(WM_SIZE)[0].w, SIZE_RESTORED);

  r.clear();
  EXPECT_TRUE(setWindowPos(h, 0, 50, 60, 10, 20, SWP_NOZORDER));
  auto ids = r.ids();
  auto move = std::find(ids.begin(), ids.end(), WM_MOVE);
  auto size = std::find(ids.begin(), ids.end(), WM_SIZE);
  ASSERT_NE(move, ids.end());
  ASSERT_NE(size, ids.end());
  EXPECT_LT(move, size);
  EXPECT_EQ(getWindowRect(h), (Rect{50, 60, 60, 80}));
  EXPECT_EQ(getClientRect(h), (Rect{0, 0, 10, 20}));

  r.clear();
  EXPECT_TRUE(setWindowPos(h, 0, 50, 60, 10, 20, SWP_NOZORDER));
  EXPECT_TRUE(r.of(WM_MOVE).empty());
  EXPECT_TRUE(r.of(WM_SIZE).empty());
  // Negative positions travel as signed 16-bit halves.
  EXPECT_TRUE(moveWindow(h, -30, -40, 10, 20));
  EXPECT_EQ(GET_X_LPARAM(r.of(WM_MOVE).back().l), -30);
  EXPECT_EQ(GET_Y_LPARAM(r.of(WM_MOVE).back().l), -40);
}

TEST_F(WindowTest, HandlerEditOfThePositionChangeIsHonoured) {
  Recorder hidden;
  // Like a window that must never show: clear the show bit after default
  // processing.
  hidden.onChanging = [](WINDOWPOS& wp) { wp.flags &= ~SWP_SHOWWINDOW; };
  HWND h = hidden.create(0, {0, 0, 50, 50}, "hidden", WS_VISIBLE);
  ASSERT_NE(h, 0u);
  EXPECT_FALSE(isWindowVisible(h));
  showWindow(h, SW_SHOW);
  EXPECT_FALSE(isWindowVisible(h));
  setWindowPos(h, 0, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  EXPECT_FALSE(isWindowVisible(h));

  // A window that follows a flag: show bit cleared, then hide bit forced.
  bool shownFlag = false;
  Recorder follower;
  follower.onChanging = [&](WINDOWPOS& wp) {
    wp.flags &= ~SWP_SHOWWINDOW;
    wp.flags |= shownFlag ? SWP_SHOWWINDOW : SWP_HIDEWINDOW;
  };
  HWND f = follower.create(0, {0, 0, 50, 50}, "", WS_VISIBLE);
  EXPECT_FALSE(isWindowVisible(f));
  moveWindow(f, 10, 10, 50, 50);
  EXPECT_FALSE(isWindowVisible(f));
  shownFlag = true;
  moveWindow(f, 20, 20, 50, 50);
  EXPECT_TRUE(isWindowVisible(f));

  // The handler may also change the rectangle.
  follower.onChanging = [](WINDOWPOS& wp) { wp.cx = 77; };
  setWindowPos(f, 0, 0, 0, 10, 10, SWP_NOZORDER | SWP_NOMOVE);
  EXPECT_EQ(getWindowRect(f).width(), 77);
  // Without the changing notification the handler is not asked.
  setWindowPos(f, 0, 0, 0, 10, 10, SWP_NOZORDER | SWP_NOMOVE | SWP_NOSENDCHANGING);
  EXPECT_EQ(getWindowRect(f).width(), 10);
}

TEST_F(WindowTest, ShowAndHideSendShowWindowOnlyOnChange) {
  Recorder r;
  HWND h = r.create(0, {0, 0, 10, 10}, "", 0);
  r.clear();
  EXPECT_FALSE(showWindow(h, SW_SHOW));
  EXPECT_TRUE(showWindow(h, SW_SHOW));
  EXPECT_EQ(r.of(WM_SHOWWINDOW).size(), 1u);
  EXPECT_EQ(r.of(WM_SHOWWINDOW)[0].w, 1u);
  EXPECT_TRUE(showWindow(h, SW_HIDE));
  EXPECT_FALSE(showWindow(h, SW_HIDE));
  EXPECT_EQ(r.of(WM_SHOWWINDOW).size(), 2u);
  EXPECT_EQ(r.of(WM_SHOWWINDOW)[1].w, 0u);
  EXPECT_FALSE(isWindowVisible(h));
}

TEST_F(WindowTest, ChildVisibilityFollowsAncestors) {
  Recorder parent;
  Recorder child;
  HWND p = parent.create(0, {0, 0, 100, 100}, "", 0);
  HWND c = child.create(p, {10, 10, 20, 20}, "", WS_CHILD | WS_VISIBLE);
  EXPECT_TRUE(getWindowStyle(c) & WS_VISIBLE);
  EXPECT_FALSE(isWindowVisible(c));
  showWindow(p, SW_SHOW);
  EXPECT_TRUE(isWindowVisible(c));
  moveWindow(p, 100, 200, 100, 100);
  EXPECT_EQ(getWindowRect(c), (Rect{110, 210, 120, 220}));
  EXPECT_EQ(clientToScreen(c, {1, 2}), (Point{111, 212}));
  EXPECT_EQ(screenToClient(c, {111, 212}), (Point{1, 2}));
}

TEST_F(WindowTest, DestroyOrderAndFinalMessagesRunOnce) {
  std::vector<std::string> order;
  auto* parent = new Recorder;
  auto* a = new Recorder;
  auto* b = new Recorder;
  auto* grandchild = new Recorder;
  int finalsTotal = 0;
  for (auto [w, n] : {std::pair{parent, "parent"}, {a, "a"}, {b, "b"}, {grandchild, "g"}}) {
    w->order = &order;
    w->name = n;
  }
  HWND p = parent->create(0, {0, 0, 100, 100}, "", WS_VISIBLE);
  HWND ha = a->create(p, {0, 0, 10, 10}, "", WS_CHILD | WS_VISIBLE);
  b->create(p, {0, 0, 10, 10}, "", WS_CHILD | WS_VISIBLE);
  HWND hg = grandchild->create(ha, {0, 0, 5, 5}, "", WS_CHILD | WS_VISIBLE);
  ASSERT_NE(hg, 0u);
  EXPECT_TRUE(destroyWindow(p));
  EXPECT_FALSE(isWindow(ha));
  EXPECT_FALSE(isWindow(hg));
  // WM_DESTROY reaches the parent first (its children still exist); the
  // final messages run children first.
  std::vector<std::string> destroys;
  std::vector<std::string> finals;
  for (auto& s : order) {
    if (s.ends_with(":destroy")) destroys.push_back(s);
    if (s.ends_with(":final")) finals.push_back(s);
  }
  ASSERT_EQ(destroys.size(), 4u);
  EXPECT_EQ(destroys[0], "parent:destroy");
  ASSERT_EQ(finals.size(), 4u);
  EXPECT_EQ(finals.back(), "parent:final");
  auto pos = [&](const std::string& s) { return std::find(finals.begin(), finals.end(), s) - finals.begin(); };
  EXPECT_LT(pos("g:final"), pos("a:final"));
  for (Recorder* r : {parent, a, b, grandchild}) {
    EXPECT_EQ(r->finals, 1);
    EXPECT_EQ(r->hwnd(), 0u);
    finalsTotal += r->finals;
  }
  EXPECT_EQ(finalsTotal, 4);
  EXPECT_FALSE(destroyWindow(p));
  for (Recorder* r : {parent, a, b, grandchild}) delete r;
}

// Deletes itself in its final message, which falls inside its own WM_CLOSE.
class SelfDeleting : public Window {
 public:
  explicit SelfDeleting(int* finals, bool* touchedAfterDestroy) : finals_(finals), touched_(touchedAfterDestroy) {}
  LRESULT handleMessage(UINT msg, WPARAM w, LPARAM l) override {
    if (msg == WM_CLOSE) {
      destroyWindow();
      // Still a live object here: the final message waits for this handler.
      *touched_ = marker_ == 0x5AFE;
      return 0;
    }
    return defaultHandle(msg, w, l);
  }
  void onFinalMessage(HWND) override {
    ++*finals_;
    delete this;
  }

 private:
  int* finals_;
  bool* touched_;
  int marker_ = 0x5AFE;
};

TEST_F(WindowTest, FinalMessageInsideOwnHandlerWaitsForIt) {
  int finals = 0;
  bool touched = false;
  auto* w = new SelfDeleting(&finals, &touched);
  HWND h = w->create(0, {0, 0, 10, 10}, "", 0);
  sendMessage(h, WM_CLOSE);
  EXPECT_TRUE(touched);
  EXPECT_EQ(finals, 1);
  EXPECT_FALSE(isWindow(h));
}

TEST_F(WindowTest, DefaultProcessingOfFontCloseAndContextMenu) {
  Recorder parent;
  Recorder child;
  HWND p = parent.create(0, {100, 100, 300, 300}, "", WS_VISIBLE);
  HWND c = child.create(p, {10, 10, 60, 60}, "", WS_CHILD | WS_VISIBLE);
  EXPECT_EQ(sendMessage(c, WM_GETFONT), 0);
  sendMessage(c, WM_SETFONT, 0x1234, 0);
  EXPECT_EQ(sendMessage(c, WM_GETFONT), 0x1234);

  // WM_RBUTTONUP raises WM_CONTEXTMENU with screen coordinates; a child
  // that does not handle it passes it to its parent.
  sendMessage(c, WM_RBUTTONUP, 0, MAKELPARAM(5, 6));
  ASSERT_EQ(child.of(WM_CONTEXTMENU).size(), 1u);
  EXPECT_EQ(child.of(WM_CONTEXTMENU)[0].w, c);
  EXPECT_EQ(child.of(WM_CONTEXTMENU)[0].l, MAKELPARAM(115, 116));
  ASSERT_EQ(parent.of(WM_CONTEXTMENU).size(), 1u);

  sendMessage(p, WM_CLOSE);
  EXPECT_FALSE(isWindow(p));
  EXPECT_FALSE(isWindow(c));
}

TEST_F(WindowTest, ZOrderOfChildrenFollowsInsertAfter) {
  Recorder parent;
  Recorder k[3];
  HWND p = parent.create(0, {0, 0, 100, 100}, "", 0);
  HWND h[3];
  for (int i = 0; i < 3; ++i) h[i] = k[i].create(p, {0, 0, 10, 10}, "", WS_CHILD);
  // Newest on top.
  EXPECT_EQ(getChildWindows(p), (std::vector<HWND>{h[2], h[1], h[0]}));
  setWindowPos(h[2], h[0], 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(getChildWindows(p), (std::vector<HWND>{h[1], h[0], h[2]}));
  setWindowPos(h[2], HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(getChildWindows(p), (std::vector<HWND>{h[2], h[1], h[0]}));
  setWindowPos(h[2], HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(getChildWindows(p), (std::vector<HWND>{h[1], h[0], h[2]}));
}

TEST_F(WindowTest, PlacementSaveAndRestore) {
  Recorder r;
  HWND h = r.create(0, {10, 10, 210, 110}, "", WS_VISIBLE);
  WindowPlacement saved;
  ASSERT_TRUE(getWindowPlacement(h, saved));
  EXPECT_EQ(saved.normalPosition, (Rect{10, 10, 210, 110}));
  Size screen = getPrimaryScreenSize();
  setWindowPos(h, HWND_TOPMOST, 0, 0, screen.cx, screen.cy, SWP_FRAMECHANGED);
  EXPECT_TRUE(getWindowExStyle(h) & WS_EX_TOPMOST);
  EXPECT_EQ(getWindowRect(h), (Rect{0, 0, screen.cx, screen.cy}));
  setWindowPos(h, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_FALSE(getWindowExStyle(h) & WS_EX_TOPMOST);
  ASSERT_TRUE(setWindowPlacement(h, saved));
  EXPECT_EQ(getWindowRect(h), (Rect{10, 10, 210, 110}));
  EXPECT_TRUE(isWindowVisible(h));

  showWindow(h, SW_MAXIMIZE);
  EXPECT_TRUE(isZoomed(h));
  EXPECT_EQ(r.of(WM_SIZE).back().w, SIZE_MAXIMIZED);
  WindowPlacement maxed;
  getWindowPlacement(h, maxed);
  EXPECT_EQ(maxed.showCmd, SW_SHOWMAXIMIZED);
  EXPECT_EQ(maxed.normalPosition, (Rect{10, 10, 210, 110}));
  showWindow(h, SW_RESTORE);
  EXPECT_FALSE(isZoomed(h));
  EXPECT_EQ(getWindowRect(h), (Rect{10, 10, 210, 110}));
}

class Painter : public Window {
 public:
  COLORREF color = RGB(255, 0, 0);
  int paints = 0;
  int erases = 0;
  LRESULT handleMessage(UINT msg, WPARAM w, LPARAM l) override {
    switch (msg) {
      case WM_ERASEBKGND:
        ++erases;
        return 1;
      case WM_PAINT: {
        ++paints;
        PaintScope ps(hwnd());
        if (ps.valid()) ps.dc().fillRect(getClientRect(hwnd()), color);
        return 0;
      }
      default:
        return defaultHandle(msg, w, l);
    }
  }
};

TEST_F(WindowTest, InvalidationsMergeIntoOnePaint) {
  Painter p;
  HWND h = p.create(0, {0, 0, 40, 40}, "", WS_VISIBLE);
  pumpPendingMessages();
  int before = p.paints;
  EXPECT_GE(before, 1);
  Rect a{0, 0, 5, 5};
  Rect b{30, 30, 35, 35};
  invalidateRect(h, &a, true);
  invalidateRect(h, &b, false);
  invalidateRect(h, nullptr, false);
  pumpPendingMessages();
  EXPECT_EQ(p.paints, before + 1);
  // Hidden windows are painted when shown, not before.
  showWindow(h, SW_HIDE);
  invalidateRect(h);
  pumpPendingMessages();
  EXPECT_EQ(p.paints, before + 1);
  p.color = RGB(0, 0, 255);
  showWindow(h, SW_SHOW);
  pumpPendingMessages();
  EXPECT_EQ(p.paints, before + 2);
  EXPECT_EQ(desktop_->captureWindow(h).colorAt(20, 20), RGB(0, 0, 255));
}

// A window's image across size changes without repainting (SWP_NOREDRAW),
// as a layout pass moves cells: what was drawn stays where it was, and what
// the window gains shows its background, never pixels from before a
// shrink; a resize that does repaint shows the new paint once.
TEST_F(WindowTest, ResizingKeepsWhatWasDrawnAndFillsWhatWasGained) {
  Painter p;
  p.color = RGB(0, 0, 255);
  const HWND h = p.create(0, {0, 0, 80, 60}, "", WS_VISIBLE | WS_POPUP);
  pumpPendingMessages();
  const auto drawRed = [&] {
    WindowDC dc(h);
    ASSERT_TRUE(dc.valid());
    dc.dc().fillRect(getClientRect(h), RGB(255, 0, 0));
  };
  drawRed();
  const COLORREF white = RGB(255, 255, 255);
  const COLORREF red = RGB(255, 0, 0);
  struct Step {
    int width, height;
    Point inside;  // drawn before: still red
    Point gained;  // newly gained: background (or {-1, -1})
  };
  const Step steps[] = {
      {79, 60, {78, 59}, {-1, -1}},      // one pixel narrower
      {80, 60, {78, 30}, {79, 30}},      // back: the regained column is background
      {60, 40, {59, 39}, {-1, -1}},      // smaller
      {80, 61, {50, 30}, {70, 50}},      // taller than ever: rows and columns gained
      {200, 150, {50, 30}, {150, 100}},  // far larger: new memory, old pixels kept
      {20, 20, {19, 19}, {-1, -1}},      // far smaller
      {40, 30, {10, 10}, {30, 25}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(testing::Message() << step.width << " x " << step.height);
    ASSERT_TRUE(setWindowPos(h, 0, 0, 0, step.width, step.height, SWP_NOZORDER | SWP_NOMOVE | SWP_NOREDRAW));
    const Image shown = desktop_->captureWindow(h);
    ASSERT_EQ(shown.width(), step.width);
    ASSERT_EQ(shown.height(), step.height);
    EXPECT_EQ(shown.colorAt(0, 0), red);
    EXPECT_EQ(shown.colorAt(step.inside.x, step.inside.y), red);
    if (step.gained.x >= 0) {
      EXPECT_EQ(shown.colorAt(step.gained.x, step.gained.y), white);
    }
  }
  // A resize that repaints: one paint, which shows the whole new size.
  const int paints = p.paints;
  ASSERT_TRUE(setWindowPos(h, 0, 0, 0, 90, 70, SWP_NOZORDER | SWP_NOMOVE));
  pumpPendingMessages();
  EXPECT_EQ(p.paints, paints + 1);
  const Image painted = desktop_->captureWindow(h);
  ASSERT_EQ(painted.width(), 90);
  EXPECT_EQ(painted.colorAt(0, 0), RGB(0, 0, 255));
  EXPECT_EQ(painted.colorAt(89, 69), RGB(0, 0, 255));
}

// Whether drawing into a child can show: siblings above it that hold all
// of it hide it (visible ones only), at its own level or an ancestor's; a
// sibling below it, or one that leaves a strip of it free, does not.
TEST_F(WindowTest, AWindowWhollyUnderAVisibleSiblingAboveItIsNotExposed) {
  Window top;
  const HWND parent = top.create(0, {0, 0, 400, 300}, "", WS_VISIBLE | WS_POPUP);
  Window cellObject, overObject, panelObject, innerObject;
  const HWND cell = cellObject.create(parent, {10, 10, 110, 110}, "", WS_VISIBLE | WS_CHILD);
  const HWND over = overObject.create(parent, {0, 0, 400, 300}, "", WS_CHILD);
  const HWND panel = panelObject.create(parent, {200, 0, 400, 300}, "", WS_VISIBLE | WS_CHILD);
  const HWND inner = innerObject.create(panel, {10, 10, 50, 50}, "", WS_VISIBLE | WS_CHILD);
  struct Step {
    const char* what;
    std::function<void()> change;
    bool cellExposed;
    bool innerExposed;
  };
  const Step steps[] = {
      {"nothing above", [] {}, true, true},
      {"a hidden sibling on top", [&] { setWindowPos(over, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); }, true,
       true},
      {"shown on top of all", [&] { showWindow(over, SW_SHOWNA); }, false, false},
      {"one pixel of the cell left free", [&] { setWindowPos(over, 0, 11, 0, 389, 300, SWP_NOZORDER); }, true, false},
      {"under the others", [&] { setWindowPos(over, HWND_BOTTOM, 0, 0, 400, 300, 0); }, true, true},
      {"the cell hidden", [&] { showWindow(cell, SW_HIDE); }, false, true},
      {"a sibling over the panel only",
       [&] {
         showWindow(cell, SW_SHOWNA);
         setWindowPos(over, HWND_TOP, 150, 0, 250, 300, 0);
       },
       true, false},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.change();
    EXPECT_EQ(isWindowExposed(cell), step.cellExposed);
    EXPECT_EQ(isWindowExposed(inner), step.innerExposed);
  }
  EXPECT_FALSE(isWindowExposed(0x7FFFFFF0));  // no such window
}

}  // namespace
}  // namespace ui
