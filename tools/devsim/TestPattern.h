#pragma once
// The moving test picture of a channel: a scrolling colour ramp, a box that
// travels across the picture, the channel number in large digits and the
// loop time (seconds.frame). Drawn straight into YUV 4:2:0 planes with
// seven-segment digits, so no font is needed.
#include <cstdint>
#include <vector>

namespace devsim {

class TestPattern {
 public:
  TestPattern(int width, int height, int channel);

  // Draws frame `index` (25 per second) into the planes, which must hold
  // width*height luma and (width/2)*(height/2) bytes per chroma plane, with
  // the given line strides.
  void draw(int index, uint8_t* y, int yStride, uint8_t* u, int uStride, uint8_t* v, int vStride) const;
  // Seven-segment digits of `value` (the last `digits` of it) into a luma
  // plane, `size` pixels high, with the top-left corner at (x, top).
  void drawNumber(uint8_t* y, int stride, int x, int top, int size, int value, int digits) const;

 private:
  void fillRect(uint8_t* y, int stride, int x0, int y0, int w, int h, uint8_t value) const;
  void drawDigit(uint8_t* y, int stride, int x, int top, int size, int digit) const;

  int width_;
  int height_;
  int channel_;
};

}  // namespace devsim
