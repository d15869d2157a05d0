#include "bench/soak/SoakVerdict.h"

#include <gtest/gtest.h>

namespace soak {
namespace {

struct Case {
  const char* name;
  std::vector<benchsupport::ProcessSample> samples;
  bool pass;
  size_t failures;
};

// Warm-up of 60 s; samples as {seconds, rss kB, threads, descriptors}.
TEST(JudgeSoak, GrowthAfterTheWarmUpFailsAndGrowthDuringItDoesNot) {
  const Case cases[] = {
      {"steady after a warm-up that grew a lot",
       {{0, 1000, 10, 20}, {30, 5000, 40, 90}, {60, 10000, 50, 100}, {600, 10400, 50, 100}},
       true,
       0},
      {"resident memory just under the bound", {{60, 10000, 50, 100}, {600, 10499, 50, 100}}, true, 0},
      {"resident memory at the bound", {{60, 10000, 50, 100}, {600, 10500, 50, 100}}, false, 1},
      {"shrinking is fine", {{60, 10000, 50, 100}, {600, 9000, 48, 97}}, true, 0},
      {"one thread more", {{60, 10000, 50, 100}, {600, 10000, 51, 100}}, false, 1},
      {"one descriptor more", {{60, 10000, 50, 100}, {600, 10000, 50, 101}}, false, 1},
      {"everything grew", {{60, 10000, 50, 100}, {600, 20000, 60, 110}}, false, 3},
      // The baseline is the first sample at or after the warm-up, not the
      // lowest or the highest one.
      {"a peak in the middle does not count",
       {{59, 1, 1, 1}, {61, 10000, 50, 100}, {300, 30000, 90, 300}, {600, 10000, 50, 100}},
       true,
       0},
      {"nothing after the warm-up", {{0, 1000, 10, 20}, {59, 1000, 10, 20}}, false, 1},
      {"only the baseline", {{0, 1000, 10, 20}, {60, 1000, 10, 20}}, false, 1},
      {"no samples", {}, false, 1},
      {"an unreadable sample", {{60, 10000, 50, 100}, {600, 0, 50, 100}}, false, 1},
  };
  SoakLimits limits;
  limits.warmupSeconds = 60;
  limits.maxRssGrowthPercent = 5;
  for (const Case& c : cases) {
    const SoakVerdict verdict = judgeSoak(c.samples, limits);
    EXPECT_EQ(verdict.pass, c.pass) << c.name;
    EXPECT_EQ(verdict.failures.size(), c.failures) << c.name;
  }
}

TEST(JudgeSoak, ReportsTheFiguresBetweenBaselineAndEnd) {
  const std::vector<benchsupport::ProcessSample> samples = {{10, 500, 5, 5}, {70, 8000, 40, 60}, {130, 9000, 38, 64}};
  const SoakVerdict verdict = judgeSoak(samples, SoakLimits{60, 5});
  EXPECT_EQ(verdict.baseline, 1u);
  EXPECT_EQ(verdict.last, 2u);
  EXPECT_DOUBLE_EQ(verdict.rssGrowthPercent, 12.5);
  EXPECT_EQ(verdict.threadGrowth, -2);
  EXPECT_EQ(verdict.descriptorGrowth, 4);
  ASSERT_EQ(verdict.failures.size(), 2u);
  EXPECT_NE(verdict.failures[0].find("12.5"), std::string::npos) << verdict.failures[0];
  EXPECT_NE(verdict.failures[1].find("60 to 64"), std::string::npos) << verdict.failures[1];
}

}  // namespace
}  // namespace soak
