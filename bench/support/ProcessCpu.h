#pragma once
// CPU time of processes, and percentiles of samples, for the benchmarks'
// reports.
#include <sys/types.h>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace benchsupport {

// User plus system CPU seconds of this process so far.
double processCpuSeconds();

// utime + stime, in clock ticks, from the text of a /proc/<pid>/stat file.
// The command name in parentheses may hold spaces and parentheses of its
// own, so the fields are counted from the last ')'. Empty when the text is
// not such a line.
std::optional<unsigned long long> statCpuTicks(std::string_view stat);

// User plus system CPU seconds of another process of this machine so far
// (its threads included, its reaped children not); empty when it is gone.
std::optional<double> processCpuSeconds(pid_t pid);

// The sample at fraction p (0..1) of the sorted samples, nearest rank;
// fallback when there are no samples.
template <typename T>
T percentile(std::vector<T> v, double p, T fallback) {
  if (v.empty()) return fallback;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

}  // namespace benchsupport
