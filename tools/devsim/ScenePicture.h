#pragma once
// A camera-like moving picture for benchmarks: a textured scene that pans
// slowly, with sensor-like noise that changes every frame, textured shapes
// that move across it at different speeds, and a running clock. Its frames
// cost a decoder about what a real camera's do, unlike the test picture,
// whose flat ramps decode several times faster.
#include <cstdint>
#include <vector>

#include "tools/devsim/TestPattern.h"

namespace devsim {

class ScenePicture {
 public:
  ScenePicture(int width, int height, int channel);

  // Draws frame `index` (25 per second) into YUV 4:2:0 planes of the
  // picture's size with the given line strides.
  void draw(int index, uint8_t* y, int yStride, uint8_t* u, int uStride, uint8_t* v, int vStride) const;

 private:
  static constexpr int kPan = 128;  // the texture is this much larger than the picture each way

  int width_;
  int height_;
  int channel_;
  int textureWidth_;
  int textureHeight_;
  std::vector<uint8_t> luma_;     // textureWidth_ x textureHeight_
  std::vector<uint8_t> chromaU_;  // half size each way
  std::vector<uint8_t> chromaV_;
  TestPattern digits_;  // draws the clock
};

}  // namespace devsim
