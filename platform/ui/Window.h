#pragma once
// A window class: subclass Window and override handleMessage with a switch
// over the messages the class handles; everything else goes to
// defaultHandle. A window belongs to the thread that created it, and its
// handler always runs on that thread.
//
// Life of a window: create() sends WM_CREATE (answering -1 refuses the
// window), then WM_SIZE and WM_MOVE, then shows it when WS_VISIBLE was
// asked for. destroyWindow() sends WM_DESTROY to the window and then to its
// children (they still exist while it runs), then WM_NCDESTROY to the
// children first and the window last; after its WM_NCDESTROY each object's
// onFinalMessage runs once, where an object may delete itself. A final
// message that falls inside the object's own handler (a WM_CLOSE handler that
// destroys its window) runs when that outermost handler has returned.
#include <cstdint>
#include <string_view>

#include "platform/ui/Backend.h"
#include "platform/ui/Messages.h"
#include "platform/ui/Types.h"

namespace ui {

class Window {
 public:
  Window();
  // Destroying the object of a live window destroys the window first; its
  // messages then get default processing only.
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // parentOrOwner: with WS_CHILD the parent (0 or getDesktopWindow() make a
  // top-level window); without it the owner, which may be a foreign window.
  // CW_USEDEFAULT coordinates become 0. Answers the handle, or 0 when the
  // window could not be made or WM_CREATE answered -1 (the window is then
  // destroyed with WM_DESTROY and WM_NCDESTROY but onFinalMessage does not
  // run, so the caller still owns the object).
  HWND create(HWND parentOrOwner, const Rect& rect, std::string_view title, uint32_t style, uint32_t exStyle = 0,
              const char* className = nullptr, void* createParam = nullptr);
  HWND create(HWND parentOrOwner, const Rect& rect, std::u16string_view title, uint32_t style,
              uint32_t exStyle = 0, const char* className = nullptr, void* createParam = nullptr);

  HWND hwnd() const { return hwnd_; }
  bool destroyWindow();
  LRESULT sendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;
  bool postMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;

  // Class properties; they take effect at the next create().
  void setClassStyle(uint32_t classStyle) { classStyle_ = classStyle; }
  // The colour default WM_ERASEBKGND processing fills with.
  void setClassBackground(COLORREF color) {
    classBackground_ = color;
    hasClassBackground_ = true;
  }
  void setNoClassBackground() { hasClassBackground_ = false; }
  void setClassCursor(CursorShape cursor) { classCursor_ = cursor; }

  // The message handler. Override it; call defaultHandle for what the class
  // does not handle.
  virtual LRESULT handleMessage(UINT msg, WPARAM wParam, LPARAM lParam);

 protected:
  // Default processing: WM_SETFONT/WM_GETFONT keep the window's font,
  // WM_CLOSE destroys the window, WM_RBUTTONUP raises WM_CONTEXTMENU,
  // WM_CONTEXTMENU goes to the parent, WM_SETCURSOR asks the parent and then
  // shows the class cursor, WM_ERASEBKGND fills with the class background,
  // WM_PAINT validates, WM_WINDOWPOSCHANGED sends WM_MOVE and WM_SIZE.
  LRESULT defaultHandle(UINT msg, WPARAM wParam, LPARAM lParam);
  // Runs once after WM_NCDESTROY; hwnd() is already 0.
  virtual void onFinalMessage(HWND hwnd);

 private:
  friend class WindowSystem;

  // Written on the owning thread only.
  HWND hwnd_ = 0;
  int dispatchDepth_ = 0;
  bool finalPending_ = false;
  uint32_t classStyle_ = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
  COLORREF classBackground_ = RGB(255, 255, 255);
  bool hasClassBackground_ = true;
  CursorShape classCursor_ = CursorShape::Arrow;
};

}  // namespace ui
