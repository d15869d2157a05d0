#pragma once
// Scales a decoded picture, or a rectangle of it, into a 32-bit
// 0x00RRGGBB image (a window's backing image) with libswscale. The
// conversion contexts are cached and rebuilt only when a size, format or
// filter asked for changes. (The library's own cached lookup compares with
// the settings a context ends up with, which initialisation may adjust, and
// then rebuilds the context, with the code it generates, at every picture.)
//
// Scaling runs in two steps: the planes are scaled in their own format,
// then the scaled picture is converted to RGB at its size. A scaler that
// converts while it scales pays for every filter tap of every output row
// in RGB terms and costs about twice as much, shrinking or enlarging.
//
// Threads: used by one thread at a time.
#include <cstdint>
#include <vector>

struct AVFrame;
struct SwsContext;

namespace devlink {

class PictureScaler {
 public:
  struct Crop {
    int left = 0, top = 0, width = 0, height = 0;  // picture pixels
  };

  PictureScaler() = default;
  ~PictureScaler();
  PictureScaler(const PictureScaler&) = delete;
  PictureScaler& operator=(const PictureScaler&) = delete;

  // Fits `crop` into the picture (an empty or outside crop means the whole
  // picture) and rounds its corner to the chroma grid.
  static Crop clampCrop(const AVFrame* picture, Crop crop);

  // Writes the crop of `picture` scaled to width x height at `target`
  // (row stride in bytes); the bytes of a row between its width and its
  // stride may be overwritten too. False when the picture's format cannot be
  // converted or the sizes are unusable.
  bool scale(const AVFrame* picture, const Crop& crop, uint8_t* target, int width, int height, int stride);

 private:
  // What a conversion context is asked for.
  struct Settings {
    int srcWidth = 0, srcHeight = 0, srcFormat = -1;
    int dstWidth = 0, dstHeight = 0, dstFormat = -1;
    int flags = 0;
    bool operator==(const Settings&) const = default;
  };
  // One conversion context and the settings it was made for.
  struct Conversion {
    SwsContext* context = nullptr;
    Settings settings;
  };
  // The context for these settings: the held one when they match, else a
  // new one (null when libswscale refuses them).
  static SwsContext* contextFor(Conversion& conversion, const Settings& settings);

  Conversion context_;  // to RGB (the whole way, or the second step)
  Conversion resize_;   // first step of scaling: planes to planes
  // The scaled planes between the two steps.
  std::vector<uint8_t> resized_;
};

}  // namespace devlink
