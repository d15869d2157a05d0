#pragma once
// What a benchmark can watch of its own process: resident memory, threads
// and open descriptors, read from /proc.
#include <optional>
#include <string_view>

namespace benchsupport {

struct ProcessSample {
  double seconds = 0;   // since the run started
  long rssKb = 0;       // VmRSS
  int threads = 0;      // Threads
  int descriptors = 0;  // entries of /proc/self/fd
};

// The number of a "Name:  value [kB]" line of a /proc/<pid>/status text;
// empty when the line is missing or its value is not a number.
std::optional<long> statusField(std::string_view status, std::string_view name);

// This process now; rss, threads or descriptors stay 0 when they cannot be
// read.
ProcessSample sampleThisProcess(double seconds);

}  // namespace benchsupport
