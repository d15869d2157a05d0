#pragma once
// Default message processing, what a window class gets for every message it
// passes to Window::defaultHandle: WM_SETFONT/WM_GETFONT keep the window's
// font, WM_CLOSE destroys the window, WM_RBUTTONUP raises WM_CONTEXTMENU,
// WM_CONTEXTMENU goes to the parent, WM_SETCURSOR asks the parent and then
// shows the class cursor, WM_ERASEBKGND fills with the class background,
// WM_PAINT validates, WM_WINDOWPOSCHANGED sends WM_MOVE and WM_SIZE.
//
// Threads: runs on the window's own thread, inside its handler; it holds no
// state and no lock of its own.
#include "platform/ui/Types.h"

namespace ui {

class WindowSystem;

class DefaultWindowProc {
 public:
  explicit DefaultWindowProc(WindowSystem& windows) : windows_(windows) {}

  LRESULT handle(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  LRESULT onSetFont(HWND hwnd, WPARAM wParam, LPARAM lParam);
  LRESULT onSetText(HWND hwnd, LPARAM lParam);
  LRESULT onRightButtonUp(HWND hwnd, LPARAM lParam);
  LRESULT onContextMenu(HWND hwnd, WPARAM wParam, LPARAM lParam);
  LRESULT onSetCursor(HWND hwnd, WPARAM wParam, LPARAM lParam);
  LRESULT onEraseBackground(HWND hwnd, WPARAM wParam);
  LRESULT onWindowPosChanged(HWND hwnd, LPARAM lParam);
  LRESULT onDpiChanged(HWND hwnd, LPARAM lParam);

  WindowSystem& windows_;
};

}  // namespace ui
