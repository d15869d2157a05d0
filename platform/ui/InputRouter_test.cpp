#include "platform/ui/InputRouter.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/ui/WindowApi.h"
#include "platform/ui/testing/InputLog.h"
#include "platform/ui/testing/UiTestSupport.h"

namespace ui {
namespace {

using test::InputLog;
using InputRouterTest = test::HeadlessTest;

TEST_F(InputRouterTest, MouseInputIsRoutedToTheChildUnderThePointAndCaptured) {
  InputLog parent;
  InputLog a;
  InputLog b;
  HWND p = parent.create(0, {100, 100, 400, 300}, "", WS_VISIBLE);
  HWND ha = a.create(p, {0, 0, 100, 100}, "", WS_CHILD | WS_VISIBLE);
  b.create(p, {150, 0, 250, 100}, "", WS_CHILD | WS_VISIBLE);
  desktop_->mouse({120, 130}, MouseAction::Move);
  desktop_->mouse({120, 130}, MouseAction::LeftDown);
  pumpPendingMessages();
  ASSERT_EQ(a.ids(), (std::vector<UINT>{WM_MOUSEMOVE, WM_LBUTTONDOWN}));
  EXPECT_EQ(a.log[0].msg, WM_SETCURSOR);
  EXPECT_EQ(a.log[0].w, ha);
  EXPECT_EQ(LOWORD(a.log[0].l), HTCLIENT);
  EXPECT_EQ(a.log.back().l, MAKELPARAM(20, 30));
  EXPECT_EQ(a.log.back().w, MK_LBUTTON);
  // While the button is held, the mouse stays with the window it went down
  // on, with coordinates relative to it (negative when left of it).
  desktop_->mouse({300, 130}, MouseAction::Move);
  desktop_->mouse({50, 90}, MouseAction::Move);
  desktop_->mouse({300, 130}, MouseAction::LeftUp);
  pumpPendingMessages();
  EXPECT_TRUE(b.log.empty());
  ASSERT_GE(a.log.size(), 3u);
  auto up = a.log.back();
  EXPECT_EQ(up.msg, WM_LBUTTONUP);
  EXPECT_EQ(GET_X_LPARAM(up.l), 200);
  auto& outside = a.log[a.log.size() - 2];
  EXPECT_EQ(GET_X_LPARAM(outside.l), -50);
  EXPECT_EQ(GET_Y_LPARAM(outside.l), -10);
  // Released: the next move goes to b.
  desktop_->mouse({300, 130}, MouseAction::Move);
  pumpPendingMessages();
  EXPECT_EQ(b.ids(), (std::vector<UINT>{WM_MOUSEMOVE}));
  EXPECT_EQ(getCapture(), 0u);
}

TEST_F(InputRouterTest, DoubleClickNeedsTheClassStyle) {
  InputLog withDbl;
  InputLog without;
  without.setClassStyle(0);
  withDbl.create(0, {0, 0, 100, 100}, "", WS_VISIBLE);
  without.create(0, {200, 0, 300, 100}, "", WS_VISIBLE);
  desktop_->doubleClick({50, 50});
  desktop_->doubleClick({250, 50});
  pumpPendingMessages();
  EXPECT_EQ(withDbl.ids(), (std::vector<UINT>{WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK,
                                              WM_LBUTTONUP}));
  EXPECT_EQ(without.ids(), (std::vector<UINT>{WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDOWN,
                                              WM_LBUTTONUP}));
}

TEST_F(InputRouterTest, KeyHookSeesKeysBeforeTheFocusWindow) {
  InputLog w;
  HWND h = w.create(0, {0, 0, 10, 10}, "", WS_VISIBLE);
  setFocus(h);
  std::vector<std::pair<UINT, UINT>> hooked;
  int id = installKeyHook([&](UINT msg, UINT vk) {
    hooked.emplace_back(msg, vk);
    return vk == VK_ESCAPE && msg == WM_KEYUP;
  });
  EXPECT_TRUE(desktop_->keyHookActive());
  desktop_->pressKey(VK_ESCAPE);
  desktop_->pressKey(VK_RETURN);
  pumpPendingMessages();
  EXPECT_EQ(hooked.size(), 4u);
  EXPECT_EQ(w.ids(), (std::vector<UINT>{WM_KEYDOWN, WM_KEYDOWN, WM_KEYUP}));
  EXPECT_EQ(w.log.back().w, VK_RETURN);
  EXPECT_TRUE(removeKeyHook(id));
  EXPECT_FALSE(desktop_->keyHookActive());
  EXPECT_FALSE(removeKeyHook(id));
}

TEST_F(InputRouterTest, FocusMovesWithMessagesAndLeavesWithTheWindow) {
  class FocusLog : public Window {
   public:
    std::vector<std::pair<UINT, HWND>> log;
    LRESULT handleMessage(UINT msg, WPARAM w, LPARAM l) override {
      if (msg == WM_SETFOCUS || msg == WM_KILLFOCUS) log.emplace_back(msg, static_cast<HWND>(w));
      return defaultHandle(msg, w, l);
    }
  } a, b;
  HWND ha = a.create(0, {0, 0, 10, 10}, "", WS_VISIBLE);
  HWND hb = b.create(0, {20, 0, 30, 10}, "", WS_VISIBLE);
  EXPECT_EQ(setFocus(ha), 0u);
  EXPECT_EQ(setFocus(hb), ha);
  EXPECT_EQ(getFocus(), hb);
  EXPECT_EQ(a.log, (std::vector<std::pair<UINT, HWND>>{{WM_SETFOCUS, 0}, {WM_KILLFOCUS, hb}}));
  EXPECT_EQ(b.log, (std::vector<std::pair<UINT, HWND>>{{WM_SETFOCUS, ha}}));
  EXPECT_EQ(setFocus(0x7FFF0000u), 0u);  // no such window: unchanged
  EXPECT_EQ(getFocus(), hb);
  destroyWindow(hb);
  EXPECT_EQ(getFocus(), 0u);
}

TEST_F(InputRouterTest, CaptureEndsWhenItsWindowIsHiddenOrDestroyed) {
  InputLog a;
  InputLog b;
  HWND ha = a.create(0, {0, 0, 100, 100}, "", WS_VISIBLE);
  HWND hb = b.create(0, {200, 0, 300, 100}, "", WS_VISIBLE);
  EXPECT_EQ(setCapture(ha), 0u);
  // Captured: the move over b goes to a, without a cursor question.
  desktop_->moveMouse({250, 50});
  pumpPendingMessages();
  EXPECT_EQ(a.ids(true), (std::vector<UINT>{WM_MOUSEMOVE}));
  EXPECT_TRUE(b.log.empty());
  showWindow(ha, SW_HIDE);
  EXPECT_EQ(getCapture(), 0u);
  setCapture(hb);
  destroyWindow(hb);
  EXPECT_EQ(getCapture(), 0u);
  EXPECT_TRUE(releaseCapture());
}

TEST_F(InputRouterTest, AHookThatThrowsDoesNotStopTheKey) {
  InputLog w;
  HWND h = w.create(0, {0, 0, 10, 10}, "", WS_VISIBLE);
  setFocus(h);
  int id = installKeyHook([](UINT, UINT) -> bool { throw std::runtime_error("hook failed"); });
  desktop_->pressKey(VK_RETURN);
  pumpPendingMessages();
  EXPECT_EQ(w.ids(), (std::vector<UINT>{WM_KEYDOWN, WM_KEYUP}));
  removeKeyHook(id);
}

}  // namespace
}  // namespace ui
