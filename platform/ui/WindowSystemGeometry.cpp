// WindowSystem: showing, moving, sizing, restacking and re-linking windows.
#include <algorithm>

#include "platform/ui/ThreadQueue.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowData.h"
#include "platform/ui/WindowSystem.h"

namespace ui {

// ---------------------------------------------------------------- geometry

bool WindowSystem::showWindow(HWND hwnd, int cmd) {
  auto data = find(hwnd);
  if (!data) return false;
  if (data->queue.get() != ThreadQueue::currentIfAny()) {
    return runOnWindowThread(hwnd, [this, hwnd, cmd] { return LRESULT{showWindowOwned(hwnd, cmd)}; }) != 0;
  }
  return showWindowOwned(hwnd, cmd);
}

bool WindowSystem::showWindowOwned(HWND hwnd, int cmd) {
  uint32_t style = 0;
  Rect target;
  UINT swp = SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER;
  bool show = true;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return false;
    WindowData& w = *it->second;
    style = w.style;
    switch (cmd) {
      case SW_HIDE:
        if (!(style & WS_VISIBLE)) return false;
        show = false;
        break;
      case SW_MINIMIZE:
      case SW_SHOWMINIMIZED:
      case SW_SHOWMINNOACTIVE:
        setStyleLocked(w, (w.style | WS_MINIMIZE) & ~WS_MAXIMIZE);
        swp |= SWP_FRAMECHANGED;
        break;
      case SW_MAXIMIZE: {
        if (!(w.style & (WS_MAXIMIZE | WS_MINIMIZE))) w.normalRect = w.rect;
        setStyleLocked(w, (w.style | WS_MAXIMIZE) & ~WS_MINIMIZE);
        if (HWND parent = tree_.parent(hwnd)) {
          auto p = windows_.find(parent);
          target = p == windows_.end() ? w.rect : Rect{0, 0, p->second->rect.width(), p->second->rect.height()};
        } else {
          target = w.rect;  // replaced below by the monitor's work area
        }
        swp &= ~(SWP_NOSIZE | SWP_NOMOVE);
        break;
      }
      case SW_RESTORE:
      case SW_SHOWNORMAL:
        if (w.style & (WS_MAXIMIZE | WS_MINIMIZE)) {
          setStyleLocked(w, w.style & ~(WS_MAXIMIZE | WS_MINIMIZE));
          target = w.normalRect;
          swp &= ~(SWP_NOSIZE | SWP_NOMOVE);
        } else if (style & WS_VISIBLE) {
          return true;
        }
        break;
      default:
        if (style & WS_VISIBLE) return true;
        break;
    }
  }
  if (cmd == SW_MAXIMIZE && maximizesToWorkArea(hwnd)) {
    Rect wr = windowRectScreen(hwnd);
    target = pickMonitor(backend_->monitors(), {wr.left + wr.width() / 2, wr.top + wr.height() / 2}, true).workArea;
  }
  bool wasVisible = (style & WS_VISIBLE) != 0;
  if (show != wasVisible) dispatch(hwnd, WM_SHOWWINDOW, show ? 1 : 0, 0);
  swp |= show ? SWP_SHOWWINDOW : SWP_HIDEWINDOW;
  setWindowPosOwned(hwnd, 0, target.left, target.top, target.width(), target.height(), swp);
  return wasVisible;
}

bool WindowSystem::setWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  if (isForeignHandle(hwnd)) return false;
  auto data = find(hwnd);
  if (!data) return false;
  if (data->queue.get() != ThreadQueue::currentIfAny()) {
    if (flags & SWP_ASYNCWINDOWPOS) {
      return postTask(hwnd, [this, hwnd, insertAfter, x, y, cx, cy, flags] {
        setWindowPosOwned(hwnd, insertAfter, x, y, cx, cy, flags & ~SWP_ASYNCWINDOWPOS);
      });
    }
    return runOnWindowThread(
               hwnd, [=, this] { return LRESULT{setWindowPosOwned(hwnd, insertAfter, x, y, cx, cy, flags)}; }) != 0;
  }
  return setWindowPosOwned(hwnd, insertAfter, x, y, cx, cy, flags & ~SWP_ASYNCWINDOWPOS);
}

bool WindowSystem::setWindowPosOwned(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  WINDOWPOS wp{hwnd, insertAfter, x, y, cx, cy, flags};
  if (!(flags & SWP_NOSENDCHANGING)) {
    dispatch(hwnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&wp));
  }
  // Whatever the handler left in the change is what happens.
  flags = wp.flags;
  std::shared_ptr<WindowData> data;
  bool moved = false;
  bool sized = false;
  bool shown = false;
  bool hidden = false;
  bool restacked = false;
  SurfaceDesc desc;
  Rect now;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return false;
    data = it->second;
    WindowData& w = *data;
    Rect r = w.rect;
    if (!(flags & SWP_NOMOVE)) r = Rect::fromSize(wp.x, wp.y, r.width(), r.height());
    if (!(flags & SWP_NOSIZE)) {
      r.right = r.left + clampExtent(wp.cx);
      r.bottom = r.top + clampExtent(wp.cy);
    }
    moved = r.left != w.rect.left || r.top != w.rect.top;
    sized = r.width() != w.rect.width() || r.height() != w.rect.height();
    w.rect = r;
    if (!(w.style & (WS_MINIMIZE | WS_MAXIMIZE))) w.normalRect = r;
    if (!(flags & SWP_NOZORDER)) {
      if (wp.hwndInsertAfter == HWND_TOPMOST) w.exStyle |= WS_EX_TOPMOST;
      if (wp.hwndInsertAfter == HWND_NOTOPMOST) w.exStyle &= ~WS_EX_TOPMOST;
      // Among top-level windows the backend's Z order is the one that counts.
      if (tree_.parent(hwnd)) tree_.restack(hwnd, wp.hwndInsertAfter);
      restacked = true;
    }
    bool visible = (w.style & WS_VISIBLE) != 0;
    // When a handler leaves both bits set, showing wins.
    if ((flags & SWP_SHOWWINDOW) && !visible) {
      setStyleLocked(w, w.style | WS_VISIBLE);
      shown = true;
    } else if (!(flags & SWP_SHOWWINDOW) && (flags & SWP_HIDEWINDOW) && visible) {
      setStyleLocked(w, w.style & ~WS_VISIBLE);
      hidden = true;
    }
    desc = describeLocked(w);
    now = r;
  }
  if (hidden) input_.releaseCaptureOf(hwnd);
  if (sized) resizeImage(*data, now.width(), now.height());
  backend_->surfaceChanged(desc);
  if (restacked) backend_->surfaceRestacked(hwnd, wp.hwndInsertAfter);
  const bool repaints = !(flags & SWP_NOREDRAW) && (sized || (flags & SWP_FRAMECHANGED));
  if (shown || (sized && !repaints)) {
    // The backend's copy must match the new size and show current pixels.
    // A resized window that is repainted anyway is shown by that paint,
    // once, instead of here and again there.
    present(hwnd, nullptr);
  }
  if (repaints) invalidate(hwnd, nullptr, true);
  if (shown) {
    // Windows below a hidden ancestor never got painted; paint the subtree.
    std::vector<HWND> stack{hwnd};
    while (!stack.empty()) {
      HWND h = stack.back();
      stack.pop_back();
      invalidate(h, nullptr, true);
      for (HWND c : children(h)) stack.push_back(c);
    }
  }
  wp.x = now.left;
  wp.y = now.top;
  wp.cx = now.width();
  wp.cy = now.height();
  wp.flags = flags | (moved ? 0 : SWP_NOCLIENTMOVE) | (sized ? 0 : SWP_NOCLIENTSIZE);
  dispatch(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&wp));
  return true;
}

bool WindowSystem::isExposed(HWND hwnd) {
  std::lock_guard lock(mutex_);
  if (!tree_.contains(hwnd) || !tree_.isVisible(hwnd)) return false;
  // Each level up: a visible sibling above the window that holds all of it
  // hides it, and with it everything inside. Top-level windows stack with
  // foreign ones in the backend, which is not asked.
  for (HWND h = hwnd; tree_.parent(h) != 0; h = tree_.parent(h)) {
    auto it = windows_.find(h);
    if (it == windows_.end()) return false;
    const Rect r = it->second->rect;
    for (HWND sibling : tree_.children(tree_.parent(h))) {
      if (sibling == h) break;  // the ones after it lie below
      auto s = windows_.find(sibling);
      if (s == windows_.end() || !(s->second->style & WS_VISIBLE)) continue;
      if (s->second->rect.intersect(r) == r) return false;
    }
  }
  return true;
}

HWND WindowSystem::setParent(HWND hwnd, HWND parent) {
  if (parent == kDesktopWindow) parent = 0;
  auto data = find(hwnd);
  if (!data || isForeignHandle(parent)) return 0;
  if (data->queue.get() != ThreadQueue::currentIfAny()) {
    return static_cast<HWND>(runOnWindowThread(hwnd, [=, this] { return LRESULT{setParent(hwnd, parent)}; }));
  }
  HWND old = 0;
  SurfaceDesc desc;
  {
    std::lock_guard lock(mutex_);
    old = tree_.parent(hwnd);
    // Refused when the parent is gone or lies inside the window itself.
    if (!tree_.setParent(hwnd, parent)) return 0;
    desc = describeLocked(*data);
  }
  backend_->surfaceDestroyed(hwnd);
  backend_->surfaceCreated(desc);
  present(hwnd, nullptr);
  invalidate(hwnd, nullptr, true);
  return old ? old : kDesktopWindow;
}

bool WindowSystem::setOwner(HWND hwnd, HWND owner) {
  if (owner == kDesktopWindow) owner = 0;
  SurfaceDesc desc;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end() || owner == hwnd) return false;
    if (owner && !isForeignHandle(owner) && !windows_.count(owner)) return false;
    tree_.setOwner(hwnd, owner);
    desc = describeLocked(*it->second);
  }
  backend_->surfaceChanged(desc);
  return true;
}

bool WindowSystem::setStyle(HWND hwnd, uint32_t style, bool extended) {
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return false;
    if (extended) {
      it->second->exStyle = style;
    } else {
      setStyleLocked(*it->second, style);
    }
  }
  syncSurface(hwnd);
  return true;
}

bool WindowSystem::setTitle(HWND hwnd, std::string_view title) {
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return false;
    it->second->title = std::string(title);
  }
  syncSurface(hwnd);
  return true;
}

bool WindowSystem::setForeground(HWND hwnd) {
  HWND top = hwnd;
  {
    std::lock_guard lock(mutex_);
    if (tree_.contains(hwnd)) top = tree_.topLevelOf(hwnd);
  }
  if (!isWindow(top)) return false;
  backend_->setForeground(top);
  return true;
}

}  // namespace ui
