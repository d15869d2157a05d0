#pragma once
// An off-screen image to paint into and then copy to a window in one step,
// so a window never shows a half-drawn picture.
#include <memory>

#include "platform/ui/DeviceContext.h"

namespace ui {

class OffscreenBuffer {
 public:
  OffscreenBuffer(int width, int height, UINT dpi = 96);
  ~OffscreenBuffer();
  OffscreenBuffer(const OffscreenBuffer&) = delete;
  OffscreenBuffer& operator=(const OffscreenBuffer&) = delete;

  DeviceContext& dc() { return *dc_; }
  Size size() const { return {width_, height_}; }
  // Copies the whole buffer to (x, y) of target.
  void copyTo(DeviceContext& target, int x = 0, int y = 0);

 private:
  int width_ = 0;
  int height_ = 0;
  cairo_surface_t* surface_ = nullptr;
  std::unique_ptr<DeviceContext> dc_;
};

}  // namespace ui
