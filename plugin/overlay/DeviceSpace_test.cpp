#include "plugin/overlay/DeviceSpace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace ksplugs {
namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

TEST(DeviceSpace, SaturatesTruncatesAndNudges) {
  struct Case {
    double value;
    int32_t saturated;
    int32_t tolerant;
  } cases[] = {
      {0.0, 0, 0},
      {76.99999999999, 76, 77},  // the division's error below a whole value
      {-76.99999999999, -76, -77},
      {76.5, 76, 76},
      {-0.5, 0, 0},
      {1e300, kMax, kMax},
      {-1e300, kMin, kMin},
      {std::nan(""), 0, 0},
      {static_cast<double>(kMax) + 0.5, kMax, kMax},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(saturateToInt(c.value), c.saturated) << c.value;
    EXPECT_EQ(truncateTolerant(c.value), c.tolerant) << c.value;
  }
}

// A page that saves what it reads back never drifts: every value maps to
// pixels and back to itself in each space at cell sizes that do not divide
// the range, and every whole pixel maps back as plain truncation would.
TEST(DeviceSpace, ValuesRoundTripAndWholePixelsTruncate) {
  for (const DeviceSpace& space : {DeviceSpace::kOsdGrid, DeviceSpace::kNormalised, DeviceSpace::kPerTenThousand}) {
    for (int size : {1, 352, 703, 704, 1000, 1919}) {
      int wrong = 0;
      for (int32_t v = -20000; v <= 20000; ++v) {
        if (space.toDeviceX(space.toPixelX(v, size), size) != v) ++wrong;
        if (space.toDeviceY(space.toPixelY(v, size), size) != v) ++wrong;
      }
      for (int32_t v : {kMin, kMin + 1, kMax - 1, kMax}) {
        if (space.toDeviceX(space.toPixelX(v, size), size) != v) ++wrong;
      }
      for (int p = 0; p <= size; ++p) {
        const double q = p * space.rangeX / size;
        if (std::fabs(q - std::round(q)) > 1e-9 && space.toDeviceX(p, size) != static_cast<int32_t>(q)) ++wrong;
      }
      EXPECT_EQ(wrong, 0) << "range " << space.rangeX << ", size " << size;
    }
  }
}

}  // namespace
}  // namespace ksplugs
