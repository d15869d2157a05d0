#include "plugin/video/live/ReconnectBackoff.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ksplugs {
namespace {

TEST(ReconnectBackoff, WaitsDoubleUpToThirtyUnitsAndStartAgainAfterASuccess) {
  struct Case {
    int unitMs;
    std::vector<int> waits;
  };
  const std::vector<Case> cases = {
      {1000, {1000, 2000, 4000, 8000, 16000, 30000, 30000}},
      {50, {50, 100, 200, 400, 800, 1500, 1500}},
      {1, {1, 2, 4, 8, 16, 30, 30}},
      // The largest unit: its doubling must not overflow.
      {ReconnectBackoff::kLargestUnitMs, {3600000, 7200000, 14400000, 28800000, 57600000, 108000000, 108000000}},
      // Units out of range fall back to a second.
      {0, {1000, 2000, 4000}},
      {-5, {1000, 2000}},
  };
  for (const Case& c : cases) {
    ReconnectBackoff backoff(c.unitMs);
    std::vector<int> got;
    for (size_t i = 0; i < c.waits.size(); ++i) got.push_back(backoff.next());
    EXPECT_EQ(got, c.waits) << "unit " << c.unitMs;
    backoff.reset();
    EXPECT_EQ(backoff.next(), c.waits.front()) << "unit " << c.unitMs;
  }
}

TEST(ReconnectBackoff, TheUnitFromTextIsAWholeNumberInRange) {
  const std::vector<std::pair<const char*, int>> cases = {
      {"50", 50},     {"1", 1},     {"3600000", 3600000}, {nullptr, 1000},
      {"", 1000},     {"0", 1000},  {"-20", 1000},        {"3600001", 1000},
      {"12ms", 1000}, {" 5", 1000}, {"+5", 1000},         {"99999999999999999999", 1000},
      {"0x10", 1000},
  };
  for (const auto& [text, unit] : cases) EXPECT_EQ(ReconnectBackoff::parseUnit(text), unit) << (text ? text : "(null)");
}

}  // namespace
}  // namespace ksplugs
