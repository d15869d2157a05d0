#include "plugin/device/DockPlacement.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <limits>

#include "platform/sys/Utf.h"
#include "platform/ui/Window.h"
#include "platform/ui/testing/UiTestSupport.h"
#include "plugin/api/ksplugs.h"
#include "tests/support/LoopbackClientSocket.h"

namespace ksplugs {
namespace {
using ui::HWND;
using ui::Rect;


class PlainWindow : public ui::Window {};

class DockPlacementTest : public ui::test::HeadlessTest {
 protected:
  HWND browser(uint32_t pid, const std::string& title, Rect frame = {100, 50, 900, 650},
               std::optional<Rect> client = Rect{108, 80, 892, 642}, bool visible = true) {
    ui::ForeignWindowSpec window;
    window.processId = pid;
    window.title = title;
    window.className = "BrowserFrame";
    window.frame = frame;
    window.client = client;
    if (!visible) window.style &= ~ui::WS_VISIBLE;
    return desktop_->addForeignWindow(window);
  }
  HWND child(HWND parent, const Rect& rect, const std::string& className = "Page", bool visible = true) {
    ui::ForeignWindowSpec window;
    window.processId = ui::getWindowProcessId(parent);
    window.className = className;
    window.frame = rect;
    window.parent = parent;
    window.style = ui::WS_CHILD | (visible ? ui::WS_VISIBLE : 0);
    return desktop_->addForeignWindow(window);
  }
  // Process queries for browsers that all run one program, "browser".
  static ProcessQueries fakeBrowsers(std::vector<uint32_t> pids, uint32_t socketOwner) {
    ProcessQueries queries;
    queries.portOwner = [socketOwner](uint16_t port, uint32_t& pid) {
      if (port != 4242) return static_cast<int>(KS_E_CHANNEL);
      pid = socketOwner;
      return static_cast<int>(KS_OK);
    };
    queries.imageName = [pids](uint32_t pid) {
      return std::find(pids.begin(), pids.end(), pid) != pids.end() ? std::string("browser") : std::string();
    };
    queries.processesNamed = [pids](std::string_view name) {
      return name == "browser" ? pids : std::vector<uint32_t>{};
    };
    return queries;
  }
};

TEST_F(DockPlacementTest, FindsTheBrowserBehindThePagesOwnSocket) {
  const uint32_t self = static_cast<uint32_t>(::getpid());
  kstest::LoopbackClientSocket socket;
  // Added bottom first: the last one added is the top of the Z order.
  const HWND minimisedBelow = browser(self, "Kestrova Console - Browser");
  const HWND page = browser(self, "KESTROVA console - Browser");
  browser(self, "Kestrova Console - Browser", {0, 0, 800, 600}, std::nullopt, false);  // invisible
  browser(self, "Another site - Browser");
  browser(self + 1, "Kestrova Console - somebody else");  // not a browser process

  std::u16string processName;
  BrowserWindows found;
  ASSERT_EQ(DockPlacement::findBrowserWindow(u"kestrova Console", socket.port(), false, processName, found), KS_OK);
  EXPECT_EQ(found.top, page);
  EXPECT_EQ(found.render, 0u);
  char self_exe[4096] = {};
  ASSERT_GT(::readlink("/proc/self/exe", self_exe, sizeof self_exe - 1), 0);
  const std::string exe(self_exe);
  EXPECT_EQ(processName, sys::utf8ToUtf16(exe.substr(exe.rfind('/') + 1)));

  // A window that owns the connection but lacks the title is never chosen.
  EXPECT_EQ(DockPlacement::findBrowserWindow(u"Nowhere", socket.port(), false, processName, found), KS_E_SDK);
  // The first match decides; minimised, it counts as none.
  desktop_->setForeignState(page, true, false);
  EXPECT_EQ(DockPlacement::findBrowserWindow(u"Kestrova Console", socket.port(), false, processName, found),
            KS_E_SDK);
  EXPECT_EQ(found.top, 0u);
  desktop_->setForeignState(page, false, false);
  EXPECT_EQ(DockPlacement::findTopWindow(processName, u"Kestrova Console", page, false, found), KS_OK);
  EXPECT_EQ(found.top, minimisedBelow);

  // A port nobody holds.
  uint16_t freed = 0;
  {
    kstest::LoopbackClientSocket gone;
    freed = gone.port();
  }
  EXPECT_EQ(DockPlacement::findBrowserWindow(u"Kestrova", freed, false, processName, found), KS_E_CHANNEL);
}

TEST_F(DockPlacementTest, AnyWindowOfTheSameProgramMayHoldThePage) {
  // The socket belongs to a helper process (200); the page is shown by the
  // first window in Z order of any process running the same program.
  const HWND laterMatch = browser(200, "Console - Browser");
  const HWND first = browser(100, "Console - Browser");
  browser(200, "Mail - Browser");
  browser(300, "Console - Browser");  // another program
  const ProcessQueries queries = fakeBrowsers({100, 200}, 200);

  std::u16string processName;
  BrowserWindows found;
  ASSERT_EQ(DockPlacement::findBrowserWindow(u"console", 4242, false, processName, found, queries), KS_OK);
  EXPECT_EQ(found.top, first);
  EXPECT_EQ(processName, u"browser");
  ASSERT_EQ(DockPlacement::findTopWindow(u"browser", u"console", first, false, found, queries), KS_OK);
  EXPECT_EQ(found.top, laterMatch);

  EXPECT_EQ(DockPlacement::findBrowserWindow(u"console", 1, false, processName, found, queries), KS_E_CHANNEL);
  EXPECT_EQ(DockPlacement::findBrowserWindow(u"console", 4242, false, processName, found, fakeBrowsers({100}, 200)),
            KS_E_WINDOW);  // the owner's program is unknown
  EXPECT_EQ(DockPlacement::findTopWindow(u"viewer", u"console", 0, false, found, queries), KS_E_WINDOW);
}

TEST_F(DockPlacementTest, ContentChildSkipsTheCompositorSurfaceAndTheFullFrame) {
  const HWND top = browser(100, "Console - Browser", {100, 100, 900, 700}, Rect{100, 130, 900, 700});
  const HWND content = child(top, {108, 160, 892, 692});
  child(top, {100, 100, 900, 700});                              // the whole frame again
  child(top, {108, 160, 892, 692}, "Page", false);               // hidden
  child(top, {110, 140, 890, 690}, "intermediate d3d WINDOW");  // the compositor's surface, any case
  EXPECT_EQ(DockPlacement::findContentChild(top), content);
  EXPECT_EQ(DockPlacement::findContentChild(top, content), 0u);

  BrowserWindows found;
  ASSERT_EQ(DockPlacement::findTopWindow(u"browser", u"Console", 0, true, found, fakeBrowsers({100}, 100)), KS_OK);
  EXPECT_EQ(found.top, top);
  EXPECT_EQ(found.render, content);
  EXPECT_EQ(found.anchor(), content);
}

TEST_F(DockPlacementTest, DockRectangleFollowsFrameBorderAndMaximisedRules) {
  DockAnchor anchor;
  // Frame 800 wide, client 784: the page starts 8 pixels right of the frame.
  const HWND normal = browser(100, "Console", {100, 50, 900, 650}, Rect{108, 80, 892, 642});
  EXPECT_EQ(DockPlacement::computeDockRect(normal, 10, 20, 640, 480, anchor), Rect::fromSize(118, 70, 640, 480));
  EXPECT_EQ(anchor.offsetX, 10);
  EXPECT_EQ(anchor.offsetY, 20);
  // A client wider than the frame by 3 shifts left by 2 (rounding down).
  const HWND wide = browser(100, "Console", {100, 50, 900, 650}, Rect{99, 80, 902, 642});
  EXPECT_EQ(DockPlacement::computeDockRect(wide, 0, 0, 10, 10, anchor), Rect::fromSize(98, 50, 10, 10));

  desktop_->setForeignState(normal, false, true);
  EXPECT_EQ(DockPlacement::computeDockRect(normal, 10, 20, 640, 480, anchor), Rect::fromSize(10, 20, 640, 480));

  // A child anchor is taken as it is.
  const HWND content = child(wide, {103, 90, 897, 640});
  EXPECT_EQ(DockPlacement::computeDockRect(content, 5, 6, 7, 8, anchor), Rect::fromSize(108, 96, 7, 8));

  // Tracking: a live dock gets the same corrections, a playback dock none.
  EXPECT_EQ(DockPlacement::trackedOrigin(wide, false, DockKind::kLive), (ui::Point{98, 50}));
  EXPECT_EQ(DockPlacement::trackedOrigin(wide, false, DockKind::kPlayback), (ui::Point{100, 50}));
  EXPECT_EQ(DockPlacement::trackedOrigin(normal, false, DockKind::kLive), (ui::Point{0, 0}));
  EXPECT_EQ(DockPlacement::trackedOrigin(content, true, DockKind::kLive), (ui::Point{103, 90}));
  EXPECT_FALSE(DockPlacement::trackedOrigin(0x7FFF0000u, false, DockKind::kLive).has_value());
}

// Page rectangles are bounded by the box around every monitor, not by one
// monitor; sums at the ends of int saturate instead of wrapping.
TEST_F(DockPlacementTest, PageRectanglesStayWithinTheDesktopsBoundingBox) {
  ui::MonitorInfo left;
  left.bounds = {0, 0, 1920, 1080};
  left.primary = true;
  ui::MonitorInfo right;
  right.bounds = {1920, -200, 3200, 824};  // 1280 x 1024, raised by 200
  desktop_->setMonitors({left, right});    // bounding box 3200 x 1280
  constexpr int kMax = std::numeric_limits<int>::max();
  constexpr int kMin = std::numeric_limits<int>::min();
  struct Case {
    int x, y, w, h;
    int code;
  };
  const Case cases[] = {
      {0, 0, 3200, 1280, KS_OK},        {-3200, -1280, 0, 0, KS_OK},      {3200, 1280, 1, 1, KS_OK},
      {0, 0, 3201, 100, KS_E_INVALID},  {0, 0, 100, 1281, KS_E_INVALID},  {-3201, 0, 1, 1, KS_E_INVALID},
      {0, 1281, 1, 1, KS_E_INVALID},    {0, 0, -1, 1, KS_E_INVALID},      {kMax, 0, kMax, 1, KS_E_INVALID},
      {kMin, kMin, 1, 1, KS_E_INVALID}, {0, 0, kMax, kMax, KS_E_INVALID},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DockPlacement::checkPageRect(c.x, c.y, c.w, c.h), c.code)
        << c.x << "," << c.y << " " << c.w << "x" << c.h;
  }

  DockAnchor anchor;
  const HWND page = browser(100, "Console", {100, 50, 900, 650}, Rect{108, 80, 892, 642});
  const Rect far = DockPlacement::computeDockRect(page, kMax, kMax, kMax, kMax, anchor);
  EXPECT_EQ(far, (Rect{DockPlacement::kCoordinateLimit, DockPlacement::kCoordinateLimit,
                       DockPlacement::kCoordinateLimit, DockPlacement::kCoordinateLimit}));
  const Rect before = DockPlacement::computeDockRect(page, kMin, kMin, 10, 10, anchor);
  EXPECT_EQ(before.left, -DockPlacement::kCoordinateLimit);
  EXPECT_EQ(before.width(), 10);
}

TEST_F(DockPlacementTest, TrackingFollowsMovesAndTabChanges) {
  const ProcessQueries queries = fakeBrowsers({100}, 100);
  const HWND first = browser(100, "Console - Browser", {100, 50, 900, 650}, Rect{108, 80, 892, 642});

  std::u16string processName;
  BrowserWindows found;
  ASSERT_EQ(DockPlacement::findBrowserWindow(u"Console", 4242, false, processName, found, queries), KS_OK);
  DockAnchor anchor;
  anchor.title = u"Console";
  anchor.processImage = processName;
  anchor.browserWindow = found.anchor();
  const Rect rect = DockPlacement::computeDockRect(found.anchor(), 10, 20, 320, 240, anchor);

  PlainWindow dock;
  ASSERT_NE(dock.create(ui::getDesktopWindow(), rect, "", ui::WS_CHILD | ui::WS_VISIBLE, ui::WS_EX_TOOLWINDOW), 0u);
  HWND owner = found.top;

  // Nothing changed: no move.
  EXPECT_FALSE(DockPlacement::track(anchor, dock.hwnd(), owner, DockKind::kLive, queries));

  // The browser moves: the dock follows, keeping its size.
  desktop_->moveForeignWindow(first, {300, 150, 1100, 750}, std::nullopt, Rect{308, 180, 1092, 742});
  EXPECT_TRUE(DockPlacement::track(anchor, dock.hwnd(), owner, DockKind::kLive, queries));
  ui::pumpPendingMessages();
  EXPECT_EQ(ui::getWindowRect(dock.hwnd()), Rect::fromSize(318, 170, 320, 240));
  // As a playback dock it would sit without the half border.
  EXPECT_TRUE(DockPlacement::track(anchor, dock.hwnd(), owner, DockKind::kPlayback, queries));
  ui::pumpPendingMessages();
  EXPECT_EQ(ui::getWindowRect(dock.hwnd()), Rect::fromSize(310, 170, 320, 240));
  // A move computed before the page placed the dock anew is dropped when it
  // reaches the dock's thread: the page's placement stands.
  EXPECT_TRUE(DockPlacement::track(anchor, dock.hwnd(), owner, DockKind::kLive, queries, [] { return false; }));
  ui::pumpPendingMessages();
  EXPECT_EQ(ui::getWindowRect(dock.hwnd()), Rect::fromSize(310, 170, 320, 240));

  // Another tab: the title loses the text and no other window has it, so
  // the dock stays with its owner.
  desktop_->setForeignTitle(first, "Mail - Browser");
  EXPECT_FALSE(DockPlacement::track(anchor, dock.hwnd(), owner, DockKind::kLive, queries));
  EXPECT_EQ(owner, first);

  // A second window shows the page: the dock moves over to it, owned by it.
  const HWND second = browser(100, "Console - Browser", {500, 400, 1300, 1000}, Rect{500, 430, 1300, 1000});
  EXPECT_TRUE(DockPlacement::track(anchor, dock.hwnd(), owner, DockKind::kLive, queries));
  ui::pumpPendingMessages();
  EXPECT_EQ(owner, second);
  EXPECT_EQ(anchor.browserWindow, second);
  EXPECT_EQ(ui::getWindowOwner(dock.hwnd()), second);
  EXPECT_EQ(ui::getWindowRect(dock.hwnd()), Rect::fromSize(510, 420, 320, 240));

  // The window closes while the first shows the page again: found anew.
  desktop_->setForeignTitle(first, "Console - Browser");
  desktop_->removeForeignWindow(second);
  EXPECT_TRUE(DockPlacement::track(anchor, dock.hwnd(), owner, DockKind::kLive, queries));
  ui::pumpPendingMessages();
  EXPECT_EQ(owner, first);
  EXPECT_EQ(ui::getWindowRect(dock.hwnd()), Rect::fromSize(318, 170, 320, 240));
  dock.destroyWindow();
}

TEST_F(DockPlacementTest, TrackingWithThePageAreaNeedsItsContentChild) {
  const ProcessQueries queries = fakeBrowsers({100}, 100);
  const HWND top = browser(100, "Console - Browser", {100, 50, 900, 650});
  const HWND content = child(top, {104, 120, 896, 646});

  DockAnchor anchor;
  anchor.title = u"Console";
  anchor.processImage = u"browser";
  anchor.adjustPosition = true;
  anchor.browserWindow = content;
  const Rect rect = DockPlacement::computeDockRect(content, 1, 2, 100, 100, anchor);
  EXPECT_EQ(rect, Rect::fromSize(105, 122, 100, 100));
  PlainWindow dock;
  ASSERT_NE(dock.create(ui::getDesktopWindow(), rect, "", ui::WS_CHILD | ui::WS_VISIBLE, ui::WS_EX_TOOLWINDOW), 0u);

  // The owner was never recorded: the content child is not its child, so the
  // browser is searched again and the dock gets its owner.
  HWND owner = 0;
  EXPECT_FALSE(DockPlacement::track(anchor, dock.hwnd(), owner, DockKind::kLive, queries));
  EXPECT_EQ(owner, top);

  // The content child goes away and only the compositor's surface is left:
  // no render window, so the dock stays put.
  desktop_->removeForeignWindow(content);
  child(top, {104, 120, 896, 646}, "Intermediate D3D Window");
  EXPECT_FALSE(DockPlacement::track(anchor, dock.hwnd(), owner, DockKind::kLive, queries));
  EXPECT_EQ(anchor.browserWindow, content);
  ui::pumpPendingMessages();
  EXPECT_EQ(ui::getWindowRect(dock.hwnd()), rect);
  dock.destroyWindow();
}

TEST_F(DockPlacementTest, NewDocksJoinTheirBrowserAndFollowThePagesMoves) {
  const ProcessQueries queries = fakeBrowsers({100}, 100);
  const HWND top = browser(100, "Console - Browser", {100, 50, 900, 650}, Rect{108, 80, 892, 642});

  DockAnchor anchor;
  BrowserWindows found;
  Rect rect;
  EXPECT_EQ(DockPlacement::prepareDock(u"Console", 1, false, 10, 20, 320, 240, anchor, found, rect, queries),
            KS_E_CHANNEL);
  EXPECT_EQ(anchor.browserWindow, 0u);
  EXPECT_TRUE(anchor.title.empty());
  ASSERT_EQ(DockPlacement::prepareDock(u"Console", 4242, false, 10, 20, 320, 240, anchor, found, rect, queries),
            KS_OK);
  EXPECT_EQ(rect, Rect::fromSize(118, 70, 320, 240));
  EXPECT_EQ(anchor.title, u"Console");
  EXPECT_EQ(anchor.processImage, u"browser");
  EXPECT_EQ(anchor.browserWindow, top);
  EXPECT_EQ(anchor.offsetX, 10);

  PlainWindow dock;
  ASSERT_NE(dock.create(ui::getDesktopWindow(), rect, "", ui::WS_CHILD, ui::WS_EX_TOOLWINDOW), 0u);
  DockPlacement::showOverOwner(dock.hwnd(), found.top);
  EXPECT_TRUE(ui::isWindowVisible(dock.hwnd()));
  EXPECT_EQ(ui::getWindowOwner(dock.hwnd()), top);
  desktop_->setForeignState(top, true, false);
  DockPlacement::showOverOwner(dock.hwnd(), found.top);
  EXPECT_FALSE(ui::isWindowVisible(dock.hwnd()));
  desktop_->setForeignState(top, false, false);

  EXPECT_EQ(DockPlacement::moveDock(anchor, dock.hwnd(), 30, 40, 200, 100, false, DockKind::kLive), KS_OK);
  EXPECT_EQ(ui::getWindowRect(dock.hwnd()), Rect::fromSize(138, 90, 200, 100));
  EXPECT_EQ(anchor.offsetX, 30);
  EXPECT_EQ(anchor.offsetY, 40);
  EXPECT_EQ(DockPlacement::moveDock(anchor, dock.hwnd(), 0, 0, 999, 999, true, DockKind::kPlayback), KS_OK);
  EXPECT_EQ(ui::getWindowRect(dock.hwnd()), Rect::fromSize(108, 50, 200, 100));

  EXPECT_EQ(DockPlacement::moveDock(anchor, 0, 0, 0, 1, 1, false, DockKind::kLive), KS_E_CHANNEL);
  desktop_->removeForeignWindow(top);
  EXPECT_EQ(DockPlacement::moveDock(anchor, dock.hwnd(), 0, 0, 1, 1, false, DockKind::kLive), KS_E_CHANNEL);
  EXPECT_EQ(ui::getWindowRect(dock.hwnd()), Rect::fromSize(108, 50, 200, 100));
  dock.destroyWindow();
}

}  // namespace
}  // namespace ksplugs
