#include "platform/ui/InputRouter.h"

#include <cstdlib>
#include <vector>

#include "platform/ui/HandlerGuard.h"
#include "platform/ui/WindowSystem.h"

namespace ui {

namespace {

constexpr auto kDoubleClickTime = std::chrono::milliseconds(500);
constexpr int kDoubleClickSlop = 2;

}  // namespace

InputRouter::InputRouter(WindowSystem& windows) : windows_(windows) {}

// ---------------------------------------------------------------- focus and capture

HWND InputRouter::setFocus(HWND hwnd) {
  HWND old = 0;
  {
    std::lock_guard lock(mutex_);
    if (hwnd && !windows_.find(hwnd)) return 0;
    old = focus_;
    if (old == hwnd) return old;
    focus_ = hwnd;
  }
  if (old) windows_.sendMessage(old, WM_KILLFOCUS, hwnd, 0);
  if (hwnd) windows_.sendMessage(hwnd, WM_SETFOCUS, old, 0);
  return old;
}

HWND InputRouter::focus() {
  std::lock_guard lock(mutex_);
  return focus_;
}

HWND InputRouter::setCapture(HWND hwnd) {
  std::lock_guard lock(mutex_);
  if (hwnd && !windows_.find(hwnd)) return 0;
  HWND old = capture_;
  capture_ = hwnd;
  implicitCapture_ = false;
  return old;
}

bool InputRouter::releaseCapture() {
  std::lock_guard lock(mutex_);
  capture_ = 0;
  implicitCapture_ = false;
  return true;
}

HWND InputRouter::capture() {
  std::lock_guard lock(mutex_);
  return capture_;
}

void InputRouter::forgetWindow(HWND hwnd) {
  std::lock_guard lock(mutex_);
  if (focus_ == hwnd) focus_ = 0;
  if (capture_ == hwnd) {
    capture_ = 0;
    implicitCapture_ = false;
  }
  if (lastClickWindow_ == hwnd) lastClickWindow_ = 0;
}

void InputRouter::releaseCaptureOf(HWND hwnd) {
  std::lock_guard lock(mutex_);
  if (capture_ != hwnd) return;
  capture_ = 0;
  implicitCapture_ = false;
}

// ---------------------------------------------------------------- mouse

UINT InputRouter::mouseMessageLocked(HWND target, Point screen, MouseAction action, uint32_t classStyle) {
  switch (action) {
    case MouseAction::Move:
      return WM_MOUSEMOVE;
    case MouseAction::LeftDown: {
      leftDown_ = true;
      UINT msg = WM_LBUTTONDOWN;
      auto now = std::chrono::steady_clock::now();
      // The second press of a pair is a double click; a third starts over.
      bool dblclks = target && (classStyle & CS_DBLCLKS);
      if (dblclks && !lastWasDoubleClick_ && lastClickWindow_ == target && now - lastClickTime_ <= kDoubleClickTime &&
          std::abs(screen.x - lastClickPoint_.x) <= kDoubleClickSlop &&
          std::abs(screen.y - lastClickPoint_.y) <= kDoubleClickSlop) {
        msg = WM_LBUTTONDBLCLK;
        lastWasDoubleClick_ = true;
      } else {
        lastWasDoubleClick_ = false;
      }
      lastClickWindow_ = target;
      lastClickPoint_ = screen;
      lastClickTime_ = now;
      return msg;
    }
    case MouseAction::LeftUp:
      leftDown_ = false;
      return WM_LBUTTONUP;
    case MouseAction::RightDown:
      rightDown_ = true;
      return WM_RBUTTONDOWN;
    case MouseAction::RightUp:
      rightDown_ = false;
      return WM_RBUTTONUP;
  }
  return WM_MOUSEMOVE;
}

void InputRouter::mouseInput(HWND topLevel, Point screen, MouseAction action) {
  HWND target = 0;
  UINT msg = WM_MOUSEMOVE;
  WPARAM keys = 0;
  LPARAM lParam = 0;
  bool captured = false;
  {
    std::lock_guard lock(mutex_);
    if (capture_ && windows_.find(capture_)) {
      target = capture_;
      captured = true;
    } else if (topLevel && windows_.find(topLevel)) {
      target = windows_.hitTest(topLevel, screen);
    }
    msg = mouseMessageLocked(target, screen, action, target ? windows_.classStyle(target) : 0);
    keys = (leftDown_ ? MK_LBUTTON : 0) | (rightDown_ ? MK_RBUTTON : 0);
    // A pressed button keeps the mouse with the window it went down on.
    bool down = action == MouseAction::LeftDown || action == MouseAction::RightDown;
    if (down && target && !capture_) {
      capture_ = target;
      implicitCapture_ = true;
    } else if (!leftDown_ && !rightDown_ && implicitCapture_) {
      capture_ = 0;
      implicitCapture_ = false;
    }
    if (!target) return;
    Point origin = windows_.clientOrigin(target);
    lParam = MAKELPARAM(screen.x - origin.x, screen.y - origin.y);
  }
  // Delivered on the window's thread: the cursor question first (not while
  // captured), then the mouse message.
  WindowSystem& windows = windows_;
  windows_.postTask(target, [&windows, target, msg, keys, lParam, captured] {
    if (!captured) windows.sendMessage(target, WM_SETCURSOR, target, MAKELPARAM(HTCLIENT, msg));
    windows.sendMessage(target, msg, keys, lParam);
  });
}

// ---------------------------------------------------------------- keys

void InputRouter::keyInput(UINT virtualKey, bool down) {
  UINT msg = down ? WM_KEYDOWN : WM_KEYUP;
  std::vector<KeyHook> hooks;
  HWND target = 0;
  {
    std::lock_guard lock(mutex_);
    for (auto& [id, hook] : keyHooks_) hooks.push_back(hook);
    target = focus_;
  }
  for (auto& hook : hooks) {
    bool swallowed = guardedCall([&] { return LRESULT{hook(msg, virtualKey)}; }) != 0;
    if (swallowed) return;
  }
  if (target) windows_.postMessage(target, msg, virtualKey, down ? 1 : static_cast<LPARAM>(0xC0000001u));
}

// ---------------------------------------------------------------- display

void InputRouter::dpiChanged(UINT dpi) {
  for (HWND top : windows_.ownTopLevels()) windows_.postMessage(top, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), 0);
}

int InputRouter::addKeyHook(KeyHook hook) {
  if (!hook) return 0;
  bool first = false;
  int id = 0;
  {
    std::lock_guard lock(mutex_);
    first = keyHooks_.empty();
    id = nextHookId_++;
    keyHooks_[id] = std::move(hook);
  }
  if (first) windows_.backend().setKeyHookActive(true);
  return id;
}

bool InputRouter::removeKeyHook(int id) {
  bool last = false;
  {
    std::lock_guard lock(mutex_);
    if (!keyHooks_.erase(id)) return false;
    last = keyHooks_.empty();
  }
  if (last) windows_.backend().setKeyHookActive(false);
  return true;
}

}  // namespace ui
