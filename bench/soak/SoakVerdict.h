#pragma once
// The soak run's pass rule over its samples of the process: from the end of
// the warm-up to the end, resident memory grows by less than a bound, and
// threads and descriptors do not grow at all (the last sample is taken once
// the churn has settled, so every thread and descriptor a churn made must
// be gone again by then).
#include <cstddef>
#include <string>
#include <vector>

#include "bench/support/ProcessSample.h"

namespace soak {

struct SoakLimits {
  double warmupSeconds = 60;
  double maxRssGrowthPercent = 5;
};

struct SoakVerdict {
  bool pass = false;
  size_t baseline = 0;  // index of the first sample at or after the warm-up
  size_t last = 0;      // index of the last sample
  double rssGrowthPercent = 0;
  int threadGrowth = 0;
  int descriptorGrowth = 0;
  std::vector<std::string> failures;  // one line each, empty when pass
};

SoakVerdict judgeSoak(const std::vector<benchsupport::ProcessSample>& samples, const SoakLimits& limits);

}  // namespace soak
