#pragma once
// BeginPaint/EndPaint for a WM_PAINT handler: takes the window's invalid
// area, sends WM_ERASEBKGND (wParam = the DeviceContext*) when an erase is
// due, clips drawing to the area, and presents it to the desktop when the
// scope ends. Only on the window's own thread.
#include <memory>

#include "platform/ui/DeviceContext.h"
#include "platform/ui/WindowSystem.h"

namespace ui {

class PaintScope {
 public:
  explicit PaintScope(HWND hwnd);
  ~PaintScope();
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;

  bool valid() const { return dc_ != nullptr; }
  DeviceContext& dc() { return *dc_; }
  // The area being painted, in client coordinates.
  const Rect& paintRect() const { return rect_; }
  // True when the background still needs erasing (WM_ERASEBKGND answered 0).
  bool erase() const { return erase_; }

 private:
  HWND hwnd_ = 0;
  WindowSystem::ImageAccess access_;
  std::unique_ptr<DeviceContext> dc_;
  Rect rect_;
  bool erase_ = false;
};

}  // namespace ui
