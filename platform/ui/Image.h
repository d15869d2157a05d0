#pragma once
// A plain 32-bit picture (0x00RRGGBB per pixel) for captures and pixel
// checks, with PNG output through Cairo.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/Types.h"

namespace ui {

class Image {
 public:
  Image() = default;
  Image(int width, int height, uint32_t fill = 0);

  int width() const { return width_; }
  int height() const { return height_; }
  bool empty() const { return width_ == 0 || height_ == 0; }
  // 0 outside the picture.
  uint32_t pixel(int x, int y) const;
  void setPixel(int x, int y, uint32_t rgb);
  // As a COLORREF (0x00BBGGRR), for comparing with RGB().
  COLORREF colorAt(int x, int y) const;
  uint32_t* row(int y) { return pixels_.data() + static_cast<size_t>(y) * width_; }
  const uint32_t* row(int y) const { return pixels_.data() + static_cast<size_t>(y) * width_; }
  void fill(const Rect& r, uint32_t rgb);
  // Copies src (stride in bytes) into r, clipped to clip and the picture.
  void blit(const uint8_t* src, int srcWidth, int srcHeight, int srcStride, Point at, const Rect& clip);

  bool writePng(const std::string& path) const;

  static uint32_t fromColorRef(COLORREF c) {
    return (static_cast<uint32_t>(GetRValue(c)) << 16) | (static_cast<uint32_t>(GetGValue(c)) << 8) | GetBValue(c);
  }

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<uint32_t> pixels_;
};

}  // namespace ui
