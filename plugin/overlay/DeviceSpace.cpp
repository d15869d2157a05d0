#include "plugin/overlay/DeviceSpace.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ksplugs {

const DeviceSpace DeviceSpace::kOsdGrid{703.0, 575.0};
const DeviceSpace DeviceSpace::kNormalised{9999.0, 9999.0};
const DeviceSpace DeviceSpace::kPerTenThousand{10000.0, 10000.0};

int32_t saturateToInt(double value) {
  if (std::isnan(value)) return 0;
  const double t = std::trunc(value);
  if (t >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  if (t <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(t);
}

int32_t truncateTolerant(double value) {
  if (value == 0.0 || std::isnan(value)) return 0;
  // One millionth, or for the far ends of int32 a relative nudge that still
  // covers the error of the double division there.
  const double nudge = std::max(1e-6, std::fabs(value) * 1e-12);
  return saturateToInt(value + std::copysign(nudge, value));
}

}  // namespace ksplugs
