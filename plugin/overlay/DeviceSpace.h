#pragma once
// The device spaces that settings cross the record in, and the one way to
// convert between them and cell pixels.
//
// A device value v is p = v * S / R pixels, S being the cell's width (x) or
// height (y) and R the space's range. Shapes are kept in pixels as doubles,
// so a value the page sent maps back exactly: back from pixels, the quotient
// q = p * R / S is truncated toward zero after a nudge of one millionth away
// from zero (relative at the far ends of int32), which equals plain truncation for every whole pixel and undoes
// the rounding error of the double division for every value that was sent.
// Every value the page sends is any int32; all arithmetic is in double and
// every result comes back through one saturating conversion.
#include <cstdint>

namespace ksplugs {

// A double as int32, truncated toward zero; out of range saturates, NaN is 0.
int32_t saturateToInt(double value);

// A double as int32 after the tolerant truncation described above.
int32_t truncateTolerant(double value);

struct DeviceSpace {
  double rangeX;
  double rangeY;

  // The OSD grid of on-screen text and privacy rectangles.
  static const DeviceSpace kOsdGrid;
  // Crossing line, polygons, passenger counting.
  static const DeviceSpace kNormalised;
  // Face areas.
  static const DeviceSpace kPerTenThousand;

  double toPixelX(int32_t v, int cellWidth) const { return static_cast<double>(v) * cellWidth / rangeX; }
  double toPixelY(int32_t v, int cellHeight) const { return static_cast<double>(v) * cellHeight / rangeY; }
  // Pixels back to device values; the caller checks the cell size is above 0.
  int32_t toDeviceX(double p, int cellWidth) const { return truncateTolerant(p * rangeX / cellWidth); }
  int32_t toDeviceY(double p, int cellHeight) const { return truncateTolerant(p * rangeY / cellHeight); }
};

}  // namespace ksplugs
