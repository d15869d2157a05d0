#include "bench/soak/SoakVerdict.h"

#include <cstdio>

namespace soak {

namespace {

std::string format(const char* pattern, double a, double b) {
  char line[160];
  std::snprintf(line, sizeof line, pattern, a, b);
  return line;
}

}  // namespace

SoakVerdict judgeSoak(const std::vector<benchsupport::ProcessSample>& samples, const SoakLimits& limits) {
  SoakVerdict verdict;
  size_t baseline = 0;
  while (baseline < samples.size() && samples[baseline].seconds < limits.warmupSeconds) ++baseline;
  // The baseline and the end must be two different samples, or nothing
  // was measured after the warm-up.
  if (baseline + 1 >= samples.size()) {
    verdict.failures.push_back("no sample after the warm-up: the run was too short");
    return verdict;
  }
  for (const benchsupport::ProcessSample& sample : samples) {
    if (sample.rssKb <= 0 || sample.threads <= 0 || sample.descriptors <= 0) {
      verdict.failures.push_back(format("the sample at %.0f s (of %.0f taken) could not be read from /proc",
                                        sample.seconds, static_cast<double>(samples.size())));
      return verdict;
    }
  }
  const benchsupport::ProcessSample& first = samples[baseline];
  const benchsupport::ProcessSample& end = samples.back();
  verdict.baseline = baseline;
  verdict.last = samples.size() - 1;
  verdict.rssGrowthPercent = 100.0 * static_cast<double>(end.rssKb - first.rssKb) / static_cast<double>(first.rssKb);
  verdict.threadGrowth = end.threads - first.threads;
  verdict.descriptorGrowth = end.descriptors - first.descriptors;
  if (verdict.rssGrowthPercent >= limits.maxRssGrowthPercent)
    verdict.failures.push_back(format("resident memory grew %.1f %% (the bound is %.1f %%)", verdict.rssGrowthPercent,
                                      limits.maxRssGrowthPercent));
  if (verdict.threadGrowth > 0)
    verdict.failures.push_back(format("threads grew from %.0f to %.0f", first.threads, end.threads));
  if (verdict.descriptorGrowth > 0)
    verdict.failures.push_back(format("open descriptors grew from %.0f to %.0f", first.descriptors, end.descriptors));
  verdict.pass = verdict.failures.empty();
  return verdict;
}

}  // namespace soak
