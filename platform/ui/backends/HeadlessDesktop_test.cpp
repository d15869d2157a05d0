#include "platform/ui/backends/HeadlessDesktop.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/ui/DeviceContext.h"
#include "platform/ui/FontRegistry.h"
#include "platform/ui/Menu.h"
#include "platform/ui/StaticLabel.h"
#include "platform/ui/testing/InputLog.h"
#include "platform/ui/testing/UiTestSupport.h"
#include "platform/ui/Window.h"
#include "platform/ui/WindowDC.h"

namespace ui {
namespace {

using test::HeadlessTest;

// A window that paints itself in one colour through default erasing.
class Swatch : public Window {
 public:
  explicit Swatch(COLORREF c) { setClassBackground(c); }
};

using test::InputLog;

using DesktopTest = HeadlessTest;

ForeignWindowSpec foreign(uint32_t pid, std::string title, std::string className, Rect frame,
                          HWND parent = 0) {
  ForeignWindowSpec spec;
  spec.processId = pid;
  spec.title = std::move(title);
  spec.className = std::move(className);
  spec.frame = frame;
  spec.parent = parent;
  if (parent) spec.style = WS_CHILD | WS_VISIBLE;
  return spec;
}

COLORREF cellColor(int i) {
  return RGB(static_cast<uint8_t>(40 + i * 6), static_cast<uint8_t>(250 - i * 5), static_cast<uint8_t>((i * 37) % 256));
}

TEST_F(DesktopTest, ThirtySixChildrenAreCompositedInsideTheirParent) {
  Swatch parent(RGB(128, 128, 128));
  HWND p = parent.create(0, {100, 50, 700, 650}, "grid", WS_POPUP | WS_VISIBLE);
  std::vector<std::unique_ptr<Swatch>> cells;
  for (int i = 0; i < 36; ++i) {
    cells.push_back(std::make_unique<Swatch>(cellColor(i)));
    int x = (i % 6) * 100 + 5;
    int y = (i / 6) * 100 + 5;
    ASSERT_NE(cells.back()->create(p, {x, y, x + 90, y + 90}, "", WS_CHILD | WS_VISIBLE), 0u);
  }
  pumpPendingMessages();
  Image shot = desktop_->captureDesktop();
  for (int i = 0; i < 36; ++i) {
    int x = 100 + (i % 6) * 100;
    int y = 50 + (i / 6) * 100;
    EXPECT_EQ(shot.colorAt(x + 50, y + 50), cellColor(i)) << "cell " << i;
    EXPECT_EQ(shot.colorAt(x + 5, y + 5), cellColor(i)) << "cell " << i;
    EXPECT_EQ(shot.colorAt(x + 94, y + 94), cellColor(i)) << "cell " << i;
    EXPECT_EQ(shot.colorAt(x + 2, y + 50), RGB(128, 128, 128)) << "gap left of " << i;
    EXPECT_EQ(shot.colorAt(x + 96, y + 96), RGB(128, 128, 128)) << "gap after " << i;
  }
  // A child hanging over its parent's edge is clipped there.
  Swatch over(RGB(255, 0, 0));
  over.create(p, {550, 550, 700, 700}, "", WS_CHILD | WS_VISIBLE);
  pumpPendingMessages();
  shot = desktop_->captureDesktop();
  EXPECT_EQ(shot.colorAt(100 + 590, 50 + 590), RGB(255, 0, 0));
  EXPECT_EQ(shot.colorAt(100 + 620, 50 + 620), RGB(0x10, 0x20, 0x30));
  // One window alone captures at its own size.
  Image one = desktop_->captureWindow(cells[7]->hwnd());
  EXPECT_EQ(one.width(), 90);
  EXPECT_EQ(one.colorAt(45, 45), cellColor(7));
  EXPECT_TRUE(one.writePng(::testing::TempDir() + "/ui_cell.png"));
}

// A drawing thread fills a window in one colour after another while the
// desktop is captured: every capture shows one whole picture, never two
// halves, and the last picture without a copy kept by the desktop.
TEST_F(DesktopTest, CapturesWhileAThreadDrawsShowWholePictures) {
  Swatch window(RGB(0, 0, 0));
  HWND h = window.create(0, {10, 10, 10 + 704, 10 + 576}, "video", WS_POPUP | WS_VISIBLE);
  ASSERT_NE(h, 0u);
  pumpPendingMessages();
  const COLORREF colours[] = {RGB(255, 0, 0), RGB(0, 0, 255)};
  std::atomic<bool> stop{false};
  std::atomic<int> drawn{0};
  std::thread drawer([&] {
    for (int i = 0; !stop.load(); ++i) {
      WindowDC dc(h);
      if (!dc.valid()) return;
      dc.dc().fillRect({0, 0, 704, 576}, colours[i % 2]);
      dc.dc().markDirty();
      drawn.fetch_add(1);
    }
  });
  int captures = 0;
  while (captures < 100 || drawn.load() < 20) {
    const Image shot = desktop_->captureWindow(h);
    ASSERT_EQ(shot.width(), 704);
    const COLORREF first = shot.colorAt(0, 0);
    if (first != RGB(0, 0, 0)) {
      EXPECT_TRUE(first == colours[0] || first == colours[1]) << std::hex << first;
      ASSERT_EQ(shot.colorAt(703, 575), first) << "a picture half drawn, capture " << captures;
    }
    ++captures;
  }
  stop.store(true);
  drawer.join();
  {
    WindowDC dc(h);
    dc.dc().fillRect({0, 0, 704, 576}, RGB(0, 200, 0));
    dc.dc().markDirty();
  }
  EXPECT_EQ(desktop_->captureWindow(h).colorAt(352, 288), RGB(0, 200, 0));
}

TEST_F(DesktopTest, ZOrderAndTopmostChangeQueryAndCapture) {
  Swatch parent(RGB(0, 0, 0));
  Swatch a(RGB(255, 0, 0));
  Swatch b(RGB(0, 255, 0));
  HWND p = parent.create(0, {0, 0, 200, 200}, "", WS_VISIBLE);
  HWND ha = a.create(p, {10, 10, 110, 110}, "", WS_CHILD | WS_VISIBLE);
  HWND hb = b.create(p, {60, 60, 160, 160}, "", WS_CHILD | WS_VISIBLE);
  pumpPendingMessages();
  EXPECT_EQ(desktop_->captureDesktop().colorAt(80, 80), RGB(0, 255, 0));
  setWindowPos(hb, ha, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(getChildWindows(p), (std::vector<HWND>{ha, hb}));
  EXPECT_EQ(desktop_->captureDesktop().colorAt(80, 80), RGB(255, 0, 0));

  // Top-level windows: a foreign window created later covers ours until
  // ours becomes topmost.
  auto spec = foreign(4242, "Page - Browser", "Chrome", {50, 50, 400, 400});
  spec.color = RGB(0, 0, 255);
  HWND browser = desktop_->addForeignWindow(spec);
  EXPECT_EQ(getTopLevelWindows().front(), browser);
  EXPECT_EQ(desktop_->captureDesktop().colorAt(80, 80), RGB(0, 0, 255));
  setWindowPos(p, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(getTopLevelWindows().front(), p);
  EXPECT_EQ(desktop_->captureDesktop().colorAt(80, 80), RGB(255, 0, 0));
  // Another window raised to the top stays below the topmost band.
  desktop_->restack(browser, HWND_TOP);
  EXPECT_EQ(getTopLevelWindows().front(), p);
  setWindowPos(p, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  setWindowPos(p, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(getTopLevelWindows().back(), p);
  EXPECT_EQ(desktop_->captureDesktop().colorAt(80, 80), RGB(0, 0, 255));
}

TEST_F(DesktopTest, ForeignBrowserWindowAnswersEveryQuery) {
  auto spec = foreign(777, "Kestrova Web - Chromium", "Chrome_WidgetWin_1", {93, 43, 1107, 807});
  spec.frameBounds = Rect{100, 50, 1100, 800};
  spec.client = Rect{108, 80, 1092, 792};
  HWND browser = desktop_->addForeignWindow(spec);
  HWND d3d = desktop_->addForeignWindow(foreign(777, "", "Intermediate D3D Window", {100, 50, 1100, 800}, browser));
  HWND content =
      desktop_->addForeignWindow(foreign(777, "", "Chrome_RenderWidgetHostHWND", {108, 150, 1092, 792}, browser));
  ASSERT_NE(d3d, 0u);
  EXPECT_TRUE(isForeignHandle(browser));
  EXPECT_TRUE(isWindow(browser));
  EXPECT_TRUE(isWindowVisible(browser));
  EXPECT_EQ(getWindowText(browser), "Kestrova Web - Chromium");
  EXPECT_EQ(getWindowProcessId(browser), 777u);
  EXPECT_EQ(getClassName(d3d), "Intermediate D3D Window");
  EXPECT_EQ(getWindowRect(browser), (Rect{93, 43, 1107, 807}));
  Rect frame;
  ASSERT_TRUE(getExtendedFrameBounds(browser, frame));
  EXPECT_EQ(frame, (Rect{100, 50, 1100, 800}));
  EXPECT_EQ(getClientRect(browser), (Rect{0, 0, 984, 712}));
  EXPECT_EQ(getChildWindows(browser), (std::vector<HWND>{d3d, content}));
  EXPECT_TRUE(getWindowStyle(content) & WS_CHILD);
  EXPECT_EQ(getParent(content), browser);

  desktop_->setForeignState(browser, true, false);
  EXPECT_TRUE(isIconic(browser));
  desktop_->setForeignState(browser, false, true);
  EXPECT_TRUE(isZoomed(browser));
  EXPECT_FALSE(isIconic(browser));
  desktop_->setForeignTitle(browser, "Other tab - Chromium");
  EXPECT_EQ(getWindowText(browser), "Other tab - Chromium");
  // Moving the frame carries its children and client area along.
  desktop_->moveForeignWindow(browser, {193, 143, 1207, 907});
  EXPECT_EQ(getWindowRect(content), (Rect{208, 250, 1192, 892}));
  ASSERT_TRUE(getExtendedFrameBounds(browser, frame));
  EXPECT_EQ(frame, (Rect{200, 150, 1200, 900}));
  // Foreign windows are read, never moved by this process.
  EXPECT_FALSE(setWindowPos(browser, 0, 0, 0, 10, 10, SWP_NOZORDER));
  EXPECT_TRUE(desktop_->removeForeignWindow(browser));
  EXPECT_FALSE(isWindow(browser));
  EXPECT_FALSE(isWindow(content));
}

TEST_F(DesktopTest, OwnedToolWindowStaysAboveItsOwner) {
  HWND browser = desktop_->addForeignWindow(foreign(1, "b", "B", {0, 0, 500, 500}));
  HWND other = desktop_->addForeignWindow(foreign(2, "o", "O", {0, 0, 100, 100}));
  Swatch dock(RGB(1, 2, 3));
  HWND d = dock.create(kDesktopWindow, {10, 10, 110, 110}, "", WS_CHILD | WS_VISIBLE, WS_EX_TOOLWINDOW);
  setWindowOwner(d, browser);
  // Placed right behind its owner in Z order: it ends up just above it.
  setWindowPos(d, browser, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  desktop_->restack(browser, HWND_TOP);
  auto tops = getTopLevelWindows();
  auto pos = [&](HWND h) { return std::find(tops.begin(), tops.end(), h) - tops.begin(); };
  EXPECT_EQ(pos(d) + 1, pos(browser));
  EXPECT_LT(pos(d), pos(other));
  EXPECT_EQ(getWindowOwner(d), browser);
}

TEST_F(DesktopTest, CursorShapesAndConfinement) {
  InputLog parent;
  InputLog child;
  parent.setClassCursor(CursorShape::SizeAll);
  child.setClassCursor(CursorShape::SizeNS);
  HWND p = parent.create(0, {0, 0, 300, 300}, "", WS_VISIBLE);
  child.create(p, {100, 100, 200, 200}, "", WS_CHILD | WS_VISIBLE);
  desktop_->moveMouse({150, 150});
  pumpPendingMessages();
  EXPECT_EQ(desktop_->cursorShape(), CursorShape::SizeNS);
  desktop_->moveMouse({50, 50});
  pumpPendingMessages();
  EXPECT_EQ(desktop_->cursorShape(), CursorShape::SizeAll);
  // A parent that answers WM_SETCURSOR decides for its children.
  parent.setCursorAnswer = 1;
  desktop_->moveMouse({150, 150});
  pumpPendingMessages();
  EXPECT_EQ(desktop_->cursorShape(), CursorShape::SizeAll);

  Rect box{100, 100, 200, 200};
  clipCursor(&box);
  desktop_->moveMouse({500, 20});
  EXPECT_EQ(getCursorPos(), (Point{199, 100}));
  clipCursor(nullptr);
  EXPECT_FALSE(getClipCursor().has_value());
  desktop_->moveMouse({500, 20});
  EXPECT_EQ(getCursorPos(), (Point{500, 20}));
}

TEST_F(DesktopTest, RightClickMenuDeliversTheChosenCommand) {
  class Cell : public InputLog {
   public:
    bool bitrate = true;
    int streamItems = 1;
    LRESULT handleMessage(UINT msg, WPARAM w, LPARAM l) override {
      if (msg == WM_CONTEXTMENU) {
        Menu menu;
        menu.append(0x8011, "Show bitrate");
        menu.append(0x8015, u"Main stream");
        menu.append(0x8016, "Sub stream");
        menu.append(0x8017, "Third stream");
        if (streamItems < 3) menu.remove(0x8017);
        if (streamItems < 2) menu.remove(0x8016);
        menu.modify(0x8015, "Stream A");
        menu.check(0x8015, true);
        menu.check(0x8011, bitrate);
        menu.track(TPM_LEFTBUTTON, {GET_X_LPARAM(l), GET_Y_LPARAM(l)}, hwnd());
      }
      return InputLog::handleMessage(msg, w, l);
    }
  } cell;
  HWND h = cell.create(0, {100, 100, 300, 300}, "", WS_VISIBLE);
  desktop_->setMenuAnswer([](const std::vector<MenuItemView>& items, Point) { return items.back().id; });
  desktop_->rightClick({150, 160});
  pumpPendingMessages();
  auto menu = desktop_->lastMenu();
  ASSERT_EQ(menu.size(), 2u);
  EXPECT_EQ(menu[0].id, 0x8011u);
  EXPECT_TRUE(menu[0].flags & MF_CHECKED);
  EXPECT_EQ(menu[1].text, "Stream A");
  EXPECT_TRUE(menu[1].flags & MF_CHECKED);
  EXPECT_EQ(desktop_->lastMenuPoint(), (Point{150, 160}));
  ASSERT_FALSE(cell.log.empty());
  EXPECT_EQ(cell.log.back().msg, WM_COMMAND);
  EXPECT_EQ(LOWORD(cell.log.back().w), 0x8015);

  // Dismissed, or a pick that the menu did not offer: no command.
  size_t before = cell.log.size();
  desktop_->setMenuAnswer([](const std::vector<MenuItemView>&, Point) { return 0x8017u; });
  cell.bitrate = false;
  desktop_->rightClick({150, 160});
  pumpPendingMessages();
  EXPECT_FALSE(desktop_->lastMenu()[0].flags & MF_CHECKED);
  for (size_t i = before; i < cell.log.size(); ++i) EXPECT_NE(cell.log[i].msg, WM_COMMAND);
  Menu m;
  m.append(5, "x");
  EXPECT_FALSE(m.append(5, "again"));
  EXPECT_EQ(m.check(6, true), -1);
  EXPECT_EQ(m.check(5, true), static_cast<int>(MF_UNCHECKED));
  EXPECT_EQ(m.check(5, false), static_cast<int>(MF_CHECKED));
  desktop_->setMenuAnswer([](const std::vector<MenuItemView>&, Point) { return 5u; });
  EXPECT_EQ(m.track(TPM_RETURNCMD, {0, 0}, h), 5u);
  m.enable(5, false);
  EXPECT_EQ(m.track(TPM_RETURNCMD, {0, 0}, h), 0u);
}

TEST_F(DesktopTest, SaveDialogAndScreens) {
  SaveDialogRequest request;
  request.initialPath = "/tmp/clip.mp4";
  EXPECT_FALSE(showSaveFileDialog(request).has_value());  // cancelled without an answer
  desktop_->setFileDialogAnswer([](const SaveDialogRequest& r) { return r.initialPath + ".chosen"; });
  EXPECT_EQ(showSaveFileDialog(request).value_or(""), "/tmp/clip.mp4.chosen");
  EXPECT_EQ(desktop_->lastFileDialog()->initialPath, "/tmp/clip.mp4");

  EXPECT_EQ(getPrimaryScreenSize(), (Size{1920, 1080}));
  MonitorInfo first{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, true, 144};
  MonitorInfo second{{1920, 0, 3840, 1080}, {1920, 40, 3840, 1080}, false, 96};
  desktop_->setMonitors({first, second});
  Swatch w(RGB(0, 0, 0));
  HWND h = w.create(0, {100, 100, 200, 200}, "", 0);
  EXPECT_EQ(getDpiForWindow(h), 144u);
  moveWindow(h, 2000, 100, 100, 100);
  EXPECT_EQ(getDpiForWindow(h), 96u);
  // A point on a monitor keeps its x; off every monitor it is pulled into
  // the nearest work area.
  EXPECT_EQ(clampToWorkArea({2500, 5}), (Point{2500, 5}));
  EXPECT_EQ(clampToWorkArea({5000, 500}), (Point{3839, 500}));
  EXPECT_EQ(clampToWorkArea({-30, 500}), (Point{0, 500}));
}

TEST_F(DesktopTest, StaticLabelAsksItsParentForColours) {
  class Parent : public Swatch {
   public:
    Parent() : Swatch(RGB(0x48, 0x4D, 0x5A)) {}
    HWND label = 0;
    LRESULT handleMessage(UINT msg, WPARAM w, LPARAM l) override {
      if (msg == WM_CTLCOLORSTATIC && static_cast<HWND>(l) == label) {
        auto* dc = reinterpret_cast<DeviceContext*>(w);
        dc->setTextColor(RGB(255, 255, 255));
        dc->setBkMode(TRANSPARENT);
        return static_cast<LRESULT>(createSolidBrush(RGB(0x48, 0x4D, 0x5A)));
      }
      return Swatch::handleMessage(msg, w, l);
    }
  } parent;
  HWND p = parent.create(0, {0, 0, 300, 100}, "", WS_VISIBLE);
  StaticLabel label;
  parent.label = label.createLabel(p, {0, 0, 300, 20}, "", WS_CHILD | WS_VISIBLE | SS_CENTERIMAGE);
  HFONT font = createFont("Segoe UI", 16, 700);
  sendMessage(parent.label, WM_SETFONT, font, 1);
  EXPECT_TRUE(setWindowText(parent.label, "[1920x1080, 4096 Kbps]"));
  pumpPendingMessages();
  Image shot = desktop_->captureWindow(parent.label);
  int white = 0;
  int background = 0;
  for (int y = 0; y < shot.height(); ++y) {
    for (int x = 0; x < shot.width(); ++x) {
      COLORREF c = shot.colorAt(x, y);
      if (c == RGB(255, 255, 255)) ++white;
      if (c == RGB(0x48, 0x4D, 0x5A)) ++background;
    }
  }
  EXPECT_GT(white, 20);  // the text
  EXPECT_GT(background, shot.width() * shot.height() / 2);
  // Cleared text paints only background.
  setWindowText(parent.label, "");
  pumpPendingMessages();
  shot = desktop_->captureWindow(parent.label);
  EXPECT_EQ(shot.colorAt(150, 10), RGB(0x48, 0x4D, 0x5A));
  deleteFont(font);
}

}  // namespace
}  // namespace ui
