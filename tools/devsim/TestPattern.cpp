#include "tools/devsim/TestPattern.h"

#include <algorithm>

namespace devsim {
namespace {

// Segments a..g of the digits 0-9, bit 0 = a (top), clockwise, bit 6 = g (middle).
constexpr uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

}  // namespace

TestPattern::TestPattern(int width, int height, int channel) : width_(width), height_(height), channel_(channel) {}

void TestPattern::fillRect(uint8_t* y, int stride, int x0, int y0, int w, int h, uint8_t value) const {
  const int x1 = std::min(width_, x0 + w);
  const int y1 = std::min(height_, y0 + h);
  for (int r = std::max(0, y0); r < y1; ++r) {
    for (int c = std::max(0, x0); c < x1; ++c) y[r * stride + c] = value;
  }
}

void TestPattern::drawDigit(uint8_t* y, int stride, int x, int top, int size, int digit) const {
  const int w = size / 2;
  const int t = std::max(2, size / 10);
  const uint8_t s = kSegments[digit % 10];
  const uint8_t on = 235;
  if (s & 0x01) fillRect(y, stride, x, top, w, t, on);
  if (s & 0x02) fillRect(y, stride, x + w - t, top, t, size / 2, on);
  if (s & 0x04) fillRect(y, stride, x + w - t, top + size / 2, t, size / 2, on);
  if (s & 0x08) fillRect(y, stride, x, top + size - t, w, t, on);
  if (s & 0x10) fillRect(y, stride, x, top + size / 2, t, size / 2, on);
  if (s & 0x20) fillRect(y, stride, x, top, t, size / 2, on);
  if (s & 0x40) fillRect(y, stride, x, top + size / 2 - t / 2, w, t, on);
}

void TestPattern::drawNumber(uint8_t* y, int stride, int x, int top, int size, int value, int digits) const {
  const int advance = size / 2 + size / 5;
  for (int i = digits - 1; i >= 0; --i) {
    drawDigit(y, stride, x + i * advance, top, size, value % 10);
    value /= 10;
  }
}

void TestPattern::draw(int index, uint8_t* y, int yStride, uint8_t* u, int uStride, uint8_t* v, int vStride) const {
  // A diagonal ramp that scrolls by four pixels a frame.
  for (int r = 0; r < height_; ++r) {
    uint8_t* line = y + r * yStride;
    for (int c = 0; c < width_; ++c) line[c] = static_cast<uint8_t>(16 + ((c + r + index * 4) & 0x7F));
  }
  // Chroma tinted per channel so that channels are told apart at a glance.
  const uint8_t cu = static_cast<uint8_t>(128 + ((channel_ * 37) % 96) - 48);
  const uint8_t cv = static_cast<uint8_t>(128 + ((channel_ * 71) % 96) - 48);
  for (int r = 0; r < height_ / 2; ++r) {
    std::fill(u + r * uStride, u + r * uStride + width_ / 2, cu);
    std::fill(v + r * vStride, v + r * vStride + width_ / 2, cv);
  }
  // The travelling box: one width of the picture per 50 frames.
  const int box = std::max(8, height_ / 8);
  const int travel = std::max(1, width_ - box);
  const int bx = (index * travel / 50) % travel;
  fillRect(y, yStride, bx, height_ / 2 - box / 2, box, box, 235);
  // Channel number (one-based, as people count) and the loop time.
  const int size = std::max(10, height_ / 6);
  const int margin = size / 3;
  fillRect(y, yStride, margin / 2, margin / 2, size * 2, size + margin, 16);
  drawNumber(y, yStride, margin, margin, size, (channel_ + 1) % 100, 2);
  const int seconds = (index / 25) % 100;
  const int frame = index % 25;
  const int ty = height_ - size - margin;
  fillRect(y, yStride, margin / 2, ty - margin / 2, size * 4, size + margin, 16);
  drawNumber(y, yStride, margin, ty, size, seconds, 2);
  drawNumber(y, yStride, margin + 2 * (size / 2 + size / 5) + size / 4, ty, size, frame, 2);
}

}  // namespace devsim
