#pragma once
// The waits between attempts to reconnect a broken live stream: one unit,
// then twice the last, up to 30 units; a success starts again at one unit.
// The unit is a second, or KESTROVA_RECONNECT_UNIT_MS milliseconds (tests
// shorten it).
//
// Threads: a value owned by one cell (UI thread).
#include <cstdint>

namespace ksplugs {

class ReconnectBackoff {
 public:
  static constexpr int kDefaultUnitMs = 1000;
  static constexpr int kLongestUnits = 30;
  // Units beyond this are not taken from the environment (an hour).
  static constexpr int kLargestUnitMs = 3600 * 1000;

  explicit ReconnectBackoff(int unitMs = unitFromEnvironment());

  // The wait before the next attempt; the one after it doubles.
  int next();
  // After a success: the next wait is one unit again.
  void reset() { nextMs_ = unitMs_; }

  // A unit in milliseconds from text: a whole number 1 .. kLargestUnitMs,
  // else kDefaultUnitMs.
  static int parseUnit(const char* text);
  static int unitFromEnvironment();

 private:
  int unitMs_;
  int64_t nextMs_;
};

}  // namespace ksplugs
