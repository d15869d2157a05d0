#pragma once
// GetDC/ReleaseDC: a device context on a window's whole client area from any
// thread. It holds the window's image lock for its life, so a video renderer
// thread and the window's own painting never interleave; releasing it
// presents what was drawn. Do not send messages while holding one: the
// window's own thread may be waiting for the same lock to paint.
#include <memory>

#include "platform/ui/DeviceContext.h"
#include "platform/ui/WindowSystem.h"

namespace ui {

class WindowDC {
 public:
  explicit WindowDC(HWND hwnd);
  // Presents the dirty area (all of the client area unless narrowed).
  ~WindowDC();
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;

  bool valid() const { return dc_ != nullptr; }
  DeviceContext& dc() { return *dc_; }
  // Narrows what the release presents (client coordinates).
  void setDirty(const Rect& r) { dirty_ = r; }
  // Skips presenting at release.
  void discard() { present_ = false; }

 private:
  HWND hwnd_ = 0;
  WindowSystem::ImageAccess access_;
  std::unique_ptr<DeviceContext> dc_;
  Rect dirty_;
  bool present_ = true;
};

}  // namespace ui
