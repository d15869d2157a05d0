#include "bench/support/ProcessSample.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

namespace benchsupport {
namespace {

TEST(StatusField, ReadsNamedNumbersAndRefusesAnythingElse) {
  const char* status =
      "Name:\tsoak_bench\nVmRSSmax:\t1 kB\nVmRSS:\t  123456 kB\nThreads:\t37\nBad:\t12x\nHuge:\t99999999999999999999 "
      "kB\n"
      "Neg:\t-4\nEmpty:\t\nLast:\t7";
  struct Case {
    const char* name;
    std::optional<long> expected;
  } cases[] = {
      {"VmRSS", 123456},                                 // not confused with the longer name before it
      {"Threads", 37},           {"Last", 7},            // no newline after the last line
      {"VmRS", std::nullopt},                            // a prefix of a name is not the name
      {"Missing", std::nullopt}, {"Bad", std::nullopt},  // text after the number that is not a unit
      {"Huge", std::nullopt},                            // out of range
      {"Neg", std::nullopt},     {"Empty", std::nullopt},
      {"Name", std::nullopt},  // not a number at all
  };
  for (const Case& c : cases) EXPECT_EQ(statusField(status, c.name), c.expected) << c.name;
}

// The sample follows the process: a new thread and a new descriptor show.
TEST(SampleThisProcess, CountsThreadsAndDescriptorsAsTheyComeAndGo) {
  const ProcessSample before = sampleThisProcess(1.5);
  EXPECT_EQ(before.seconds, 1.5);
  EXPECT_GT(before.rssKb, 0);
  EXPECT_GE(before.threads, 1);
  EXPECT_GE(before.descriptors, 3);
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  bool stop = false;
  std::thread idle([&] {
    char c;
    stop = ::read(pipeEnds[0], &c, 1) == 1;
  });
  const ProcessSample during = sampleThisProcess(0);
  EXPECT_EQ(during.threads, before.threads + 1);
  EXPECT_EQ(during.descriptors, before.descriptors + 2);
  ASSERT_EQ(::write(pipeEnds[1], "x", 1), 1);
  idle.join();
  EXPECT_TRUE(stop);
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
  const ProcessSample after = sampleThisProcess(0);
  EXPECT_EQ(after.threads, before.threads);
  EXPECT_EQ(after.descriptors, before.descriptors);
}

}  // namespace
}  // namespace benchsupport
