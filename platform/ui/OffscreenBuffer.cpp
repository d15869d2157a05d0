#include "platform/ui/OffscreenBuffer.h"

#include <cairo.h>

#include <algorithm>

namespace ui {

OffscreenBuffer::OffscreenBuffer(int width, int height, UINT dpi)
    : width_(std::clamp(width, 0, 16384)), height_(std::clamp(height, 0, 16384)) {
  surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width_, height_);
  dc_ = std::make_unique<DeviceContext>(surface_, dpi);
}

OffscreenBuffer::~OffscreenBuffer() {
  dc_.reset();
  cairo_surface_destroy(surface_);
}

void OffscreenBuffer::copyTo(DeviceContext& target, int x, int y) {
  cairo_surface_flush(surface_);
  target.blit(surface_, {0, 0, width_, height_}, x, y);
}

}  // namespace ui
