#include "bench/support/ProcessCpu.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

namespace benchsupport {
namespace {

TEST(StatCpuTicks, AddsUserAndSystemTimeCountedFromTheLastParenthesis) {
  // A command name with a space and a ')' of its own: splitting on spaces
  // from the start would read the wrong fields.
  const char* line =
      "4242 (Xvfb :1) x) S 1 4242 4242 0 -1 4194560 1234 0 0 0 731 269 0 0 20 0 1 0 5678 123456789 4321 "
      "18446744073709551615 1 1 0 0 0 0 0 4096 0 0 0 0 17 1 0 0 0 0 0\n";
  const auto ticks = statCpuTicks(line);
  ASSERT_TRUE(ticks);
  EXPECT_EQ(*ticks, 731u + 269u);
}

TEST(StatCpuTicks, RefusesTextThatIsNotAStatLine) {
  EXPECT_FALSE(statCpuTicks(""));
  EXPECT_FALSE(statCpuTicks("4242 Xvfb S 1 2 3"));
  EXPECT_FALSE(statCpuTicks("4242 (Xvfb) S 1 4242"));  // cut before utime and stime
  EXPECT_FALSE(statCpuTicks("4242 (Xvfb) S 1 4242 4242 0 -1 4194560 1234 0 0 0 7x1 269 0"));
}

// The CPU a child burns shows up in its /proc figures, read from here.
TEST(ProcessCpuSeconds, ReadsAnotherProcesssCpuTime) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    volatile uint64_t spin = 0;
    for (;;) spin = spin + 1;
  }
  const auto start = std::chrono::steady_clock::now();
  double seen = 0;
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
    seen = processCpuSeconds(child).value_or(-1);
    if (seen >= 0.3) break;
    ::usleep(20000);
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_GE(seen, 0.3);
  EXPECT_FALSE(processCpuSeconds(child)) << "a reaped process has no figures";
}

TEST(ProcessCpuSeconds, OwnTimeGrowsWithWork) {
  const double before = processCpuSeconds();
  timespec a{}, b{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
  do {
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
  } while ((b.tv_sec - a.tv_sec) * 1e9 + (b.tv_nsec - a.tv_nsec) < 50e6);
  EXPECT_GE(processCpuSeconds() - before, 0.04);
}

TEST(Percentile, NearestRankOfTheSortedSamples) {
  const std::vector<int> v{9, 1, 5, 3, 7, 2, 8, 4, 6, 10};
  EXPECT_EQ(percentile(v, 0.0, -1), 1);
  EXPECT_EQ(percentile(v, 0.5, -1), 6);  // rank 4.5 rounds to 5 of 0..9
  EXPECT_EQ(percentile(v, 0.99, -1), 10);
  EXPECT_EQ(percentile(v, 1.0, -1), 10);
  EXPECT_EQ(percentile(std::vector<int>{}, 0.5, -1), -1);
  EXPECT_DOUBLE_EQ(percentile(std::vector<double>{2.5}, 0.99, 0.0), 2.5);
}

}  // namespace
}  // namespace benchsupport
