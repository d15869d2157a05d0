#pragma once
// The arithmetic of a video cell: where the video surface goes when the
// picture keeps its aspect, and how a dragged rectangle narrows the digital
// zoom region. Pure functions.
#include <cstdint>

#include "platform/ui/Types.h"

namespace ksplugs {

// A part of the picture in 1/10000 of its width and height.
struct ZoomRegion {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 10000;
  int32_t bottom = 10000;
  friend bool operator==(const ZoomRegion&, const ZoomRegion&) = default;
};

class CellGeometry {
 public:
  static constexpr ZoomRegion kWholePicture{0, 0, 10000, 10000};

  // The video surface inside an area of width x height at (0, top) for a
  // picture of videoWidth x videoHeight: a picture smaller than the area in
  // both directions keeps its size, centred; a larger one is scaled to fit,
  // centred along the other direction. The picture size must be non-zero.
  static ui::Rect fitVideo(int width, int height, int top, int videoWidth, int videoHeight);

  // The zoom region after a drag from `start` to `end` on a surface of
  // surfaceWidth x surfaceHeight showing `current`. Nothing when the drag is
  // 4 pixels or less in either direction (the region stays). A region
  // narrower than 33 units in either direction becomes the whole picture.
  static bool zoomAfterDrag(const ZoomRegion& current, ui::Point start, ui::Point end, int surfaceWidth,
                            int surfaceHeight, ZoomRegion& next);
};

}  // namespace ksplugs
