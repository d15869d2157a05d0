#include "platform/ui/Image.h"

#include <cairo.h>

#include <algorithm>
#include <cstring>

namespace ui {

namespace {
constexpr int kMaxSide = 16384;
}

Image::Image(int width, int height, uint32_t fill)
    : width_(std::clamp(width, 0, kMaxSide)), height_(std::clamp(height, 0, kMaxSide)),
      pixels_(static_cast<size_t>(width_) * height_, fill & 0xFFFFFF) {}

uint32_t Image::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return pixels_[static_cast<size_t>(y) * width_ + x] & 0xFFFFFF;
}

void Image::setPixel(int x, int y, uint32_t rgb) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  pixels_[static_cast<size_t>(y) * width_ + x] = rgb & 0xFFFFFF;
}

COLORREF Image::colorAt(int x, int y) const {
  uint32_t p = pixel(x, y);
  return RGB(static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p));
}

void Image::fill(const Rect& r, uint32_t rgb) {
  Rect c = r.intersect({0, 0, width_, height_});
  for (int y = c.top; y < c.bottom; ++y) std::fill(row(y) + c.left, row(y) + c.right, rgb & 0xFFFFFF);
}

void Image::blit(const uint8_t* src, int srcWidth, int srcHeight, int srcStride, Point at, const Rect& clip) {
  if (!src) return;
  Rect target = Rect::fromSize(at.x, at.y, srcWidth, srcHeight).intersect(clip).intersect({0, 0, width_, height_});
  if (target.isEmpty()) return;
  for (int y = target.top; y < target.bottom; ++y) {
    const auto* s = reinterpret_cast<const uint32_t*>(src + static_cast<size_t>(y - at.y) * srcStride) +
                    (target.left - at.x);
    std::memcpy(row(y) + target.left, s, static_cast<size_t>(target.width()) * 4);
  }
}

bool Image::writePng(const std::string& path) const {
  if (empty()) return false;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width_, height_);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return false;
  }
  cairo_surface_flush(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < height_; ++y) {
    std::memcpy(data + static_cast<size_t>(y) * stride, row(y), static_cast<size_t>(width_) * 4);
  }
  cairo_surface_mark_dirty(surface);
  bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  return ok;
}

}  // namespace ui
