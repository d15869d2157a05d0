#include "plugin/video/live/ReconnectBackoff.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace ksplugs {

ReconnectBackoff::ReconnectBackoff(int unitMs)
    : unitMs_(unitMs >= 1 && unitMs <= kLargestUnitMs ? unitMs : kDefaultUnitMs), nextMs_(unitMs_) {}

int ReconnectBackoff::next() {
  const int64_t longest = static_cast<int64_t>(unitMs_) * kLongestUnits;
  const int64_t wait = std::min(nextMs_, longest);
  nextMs_ = std::min(wait * 2, longest);
  return static_cast<int>(wait);
}

int ReconnectBackoff::parseUnit(const char* text) {
  if (text == nullptr || *text < '0' || *text > '9') return kDefaultUnitMs;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 1 || value > kLargestUnitMs) return kDefaultUnitMs;
  return static_cast<int>(value);
}

int ReconnectBackoff::unitFromEnvironment() { return parseUnit(std::getenv("KESTROVA_RECONNECT_UNIT_MS")); }

}  // namespace ksplugs
