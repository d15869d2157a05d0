#include "platform/ui/DefaultWindowProc.h"

#include <string_view>

#include "platform/ui/DeviceContext.h"
#include "platform/ui/PaintScope.h"
#include "platform/ui/WindowSystem.h"

namespace ui {

LRESULT DefaultWindowProc::handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CLOSE:
      windows_.destroyWindow(hwnd);
      return 0;
    case WM_SETFONT:
      return onSetFont(hwnd, wParam, lParam);
    case WM_GETFONT:
      return static_cast<LRESULT>(windows_.windowFont(hwnd));
    case WM_SETTEXT:
      return onSetText(hwnd, lParam);
    case WM_RBUTTONUP:
      return onRightButtonUp(hwnd, lParam);
    case WM_CONTEXTMENU:
      return onContextMenu(hwnd, wParam, lParam);
    case WM_SETCURSOR:
      return onSetCursor(hwnd, wParam, lParam);
    case WM_ERASEBKGND:
      return onEraseBackground(hwnd, wParam);
    case WM_PAINT: {
      PaintScope paint(hwnd);
      return 0;
    }
    case WM_WINDOWPOSCHANGED:
      return onWindowPosChanged(hwnd, lParam);
    case WM_CTLCOLORSTATIC:
      return static_cast<LRESULT>(createSolidBrush(RGB(240, 240, 240)));
    case WM_DPICHANGED:
      return onDpiChanged(hwnd, lParam);
    default:
      return 0;
  }
}

LRESULT DefaultWindowProc::onSetFont(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  windows_.setWindowFont(hwnd, static_cast<HFONT>(wParam));
  if (LOWORD(static_cast<uintptr_t>(lParam))) windows_.invalidate(hwnd, nullptr, true);
  return 0;
}

LRESULT DefaultWindowProc::onSetText(HWND hwnd, LPARAM lParam) {
  const char* text = reinterpret_cast<const char*>(lParam);
  return windows_.setTitle(hwnd, text ? std::string_view(text) : std::string_view()) ? 1 : 0;
}

LRESULT DefaultWindowProc::onRightButtonUp(HWND hwnd, LPARAM lParam) {
  Point o = windows_.clientOrigin(hwnd);
  windows_.sendMessage(hwnd, WM_CONTEXTMENU, hwnd, MAKELPARAM(o.x + GET_X_LPARAM(lParam), o.y + GET_Y_LPARAM(lParam)));
  return 0;
}

LRESULT DefaultWindowProc::onContextMenu(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  HWND parent = windows_.parentOf(hwnd);
  return parent ? windows_.sendMessage(parent, WM_CONTEXTMENU, wParam, lParam) : 0;
}

LRESULT DefaultWindowProc::onSetCursor(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  HWND parent = windows_.parentOf(hwnd);
  if (parent && windows_.sendMessage(parent, WM_SETCURSOR, wParam, lParam)) return 1;
  // A parent asked on behalf of a child leaves the child's own cursor
  // alone unless its handler decides otherwise.
  if (LOWORD(static_cast<uintptr_t>(lParam)) == HTCLIENT && static_cast<HWND>(wParam) == hwnd) {
    windows_.backend().setCursorShape(windows_.classCursor(hwnd));
    return 1;
  }
  return 0;
}

LRESULT DefaultWindowProc::onEraseBackground(HWND hwnd, WPARAM wParam) {
  bool has = false;
  COLORREF color = windows_.classBackground(hwnd, has);
  auto* dc = reinterpret_cast<DeviceContext*>(wParam);
  if (!has || !dc) return 0;
  Size s = dc->size();
  dc->fillRect(Rect{0, 0, s.cx, s.cy}, color);
  return 1;
}

LRESULT DefaultWindowProc::onWindowPosChanged(HWND hwnd, LPARAM lParam) {
  // The handler runs on the window's thread, so these sends are direct calls.
  const auto* wp = reinterpret_cast<const WINDOWPOS*>(lParam);
  if (!wp) return 0;
  if (!(wp->flags & SWP_NOCLIENTMOVE)) windows_.sendMessage(hwnd, WM_MOVE, 0, MAKELPARAM(wp->x, wp->y));
  if (!(wp->flags & SWP_NOCLIENTSIZE)) {
    auto info = windows_.windowInfo(hwnd);
    uint32_t style = info ? info->style : 0;
    WPARAM kind = (style & WS_MAXIMIZE) ? SIZE_MAXIMIZED : (style & WS_MINIMIZE) ? SIZE_MINIMIZED : SIZE_RESTORED;
    windows_.sendMessage(hwnd, WM_SIZE, kind, MAKELPARAM(wp->cx, wp->cy));
  }
  return 0;
}

LRESULT DefaultWindowProc::onDpiChanged(HWND hwnd, LPARAM lParam) {
  const auto* suggested = reinterpret_cast<const Rect*>(lParam);
  if (suggested) {
    windows_.setWindowPos(hwnd, 0, suggested->left, suggested->top, suggested->width(), suggested->height(),
                          SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return 0;
}

}  // namespace ui
