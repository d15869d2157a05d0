#include "tools/devsim/ScenePicture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace devsim {
namespace {

// A small, fast generator; the same channel always makes the same scene.
struct Random {
  uint32_t state;
  uint32_t next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
};

// Smooth blobs: random values on a coarse grid, bilinearly interpolated.
void smoothNoise(std::vector<uint8_t>& out, int w, int h, int cell, int low, int high, Random& random) {
  const int gw = w / cell + 2;
  const int gh = h / cell + 2;
  std::vector<int> grid(static_cast<size_t>(gw) * gh);
  for (int& g : grid) g = low + static_cast<int>(random.next() % static_cast<uint32_t>(high - low + 1));
  out.resize(static_cast<size_t>(w) * h);
  for (int r = 0; r < h; ++r) {
    const int gy = r / cell;
    const int fy = r % cell;
    for (int c = 0; c < w; ++c) {
      const int gx = c / cell;
      const int fx = c % cell;
      const int a = grid[gy * gw + gx], b = grid[gy * gw + gx + 1];
      const int d = grid[(gy + 1) * gw + gx], e = grid[(gy + 1) * gw + gx + 1];
      const int top = a * (cell - fx) + b * fx;
      const int bottom = d * (cell - fx) + e * fx;
      out[static_cast<size_t>(r) * w + c] = static_cast<uint8_t>((top * (cell - fy) + bottom * fy) / (cell * cell));
    }
  }
}

}  // namespace

ScenePicture::ScenePicture(int width, int height, int channel)
    : width_(width),
      height_(height),
      channel_(channel),
      textureWidth_(width + kPan),
      textureHeight_(height + kPan),
      digits_(width, height, channel) {
  Random random{0x9E3779B9u ^ static_cast<uint32_t>(channel * 7919)};
  // Large shapes of light and shade with fine detail on top: walls, leaves,
  // a street, as far as a decoder can tell.
  smoothNoise(luma_, textureWidth_, textureHeight_, 24, 40, 200, random);
  std::vector<uint8_t> detail;
  smoothNoise(detail, textureWidth_, textureHeight_, 3, 0, 60, random);
  for (size_t i = 0; i < luma_.size(); ++i) {
    luma_[i] = static_cast<uint8_t>(std::clamp(luma_[i] + detail[i] - 30, 16, 235));
  }
  smoothNoise(chromaU_, textureWidth_ / 2, textureHeight_ / 2, 20, 100, 156, random);
  smoothNoise(chromaV_, textureWidth_ / 2, textureHeight_ / 2, 20, 100, 156, random);
}

void ScenePicture::draw(int index, uint8_t* y, int yStride, uint8_t* u, int uStride, uint8_t* v, int vStride) const {
  // A slow pan across the texture, back and forth.
  const int phase = index % (2 * kPan);
  const int ox = phase < kPan ? phase : 2 * kPan - phase;
  const int oy = (ox / 2) & ~1;
  for (int r = 0; r < height_; ++r) {
    std::memcpy(y + r * yStride, luma_.data() + static_cast<size_t>(r + oy) * textureWidth_ + ox, width_);
  }
  for (int r = 0; r < height_ / 2; ++r) {
    const size_t at = static_cast<size_t>(r + oy / 2) * (textureWidth_ / 2) + ox / 2;
    std::memcpy(u + r * uStride, chromaU_.data() + at, width_ / 2);
    std::memcpy(v + r * vStride, chromaV_.data() + at, width_ / 2);
  }
  // Four textured shapes moving at their own speeds, bouncing at the edges.
  for (int s = 0; s < 4; ++s) {
    const int w = width_ / (6 + s);
    const int h = height_ / (5 + s);
    const int spanX = std::max(1, width_ - w);
    const int spanY = std::max(1, height_ - h);
    const int tx = (index * (3 + 2 * s) + s * 97) % (2 * spanX);
    const int ty = (index * (2 + s) + s * 53) % (2 * spanY);
    const int x0 = tx < spanX ? tx : 2 * spanX - tx;
    const int y0 = ty < spanY ? ty : 2 * spanY - ty;
    for (int r = 0; r < h && y0 + r < height_; ++r) {
      uint8_t* line = y + (y0 + r) * yStride;
      const uint8_t* texture = luma_.data() + static_cast<size_t>(r * 2 % textureHeight_) * textureWidth_;
      for (int c = 0; c < w && x0 + c < width_; ++c) {
        line[x0 + c] = static_cast<uint8_t>(std::clamp(255 - texture[(c * 2 + s * 31) % textureWidth_], 16, 235));
      }
    }
  }
  // Sensor noise: a little, different in every frame.
  Random random{static_cast<uint32_t>(index * 2654435761u) ^ static_cast<uint32_t>(channel_)};
  for (int r = 0; r < height_; ++r) {
    uint8_t* line = y + r * yStride;
    for (int c = 0; c < width_; c += 2) {
      const int n = static_cast<int>(random.next() & 7) - 3;
      line[c] = static_cast<uint8_t>(std::clamp(line[c] + n, 16, 235));
    }
  }
  // The clock: seconds and frames of the loop, as a camera stamps its time.
  const int size = std::max(10, height_ / 12);
  digits_.drawNumber(y, yStride, width_ - 5 * size, size / 2, size, (index / 25) % 100, 2);
  digits_.drawNumber(y, yStride, width_ - 5 * size / 2, size / 2, size, index % 25, 2);
}

}  // namespace devsim
