#include "tools/devsim/RecordingSchedule.h"

#include <gtest/gtest.h>

#include "tools/devsim/DevSimOptions.h"

namespace {

using devsim::RecordingSchedule;
using devsim::RecordingSpan;

constexpr int64_t kDay = 19849 * 86400LL;  // 2024-05-06
constexpr int64_t at(int h, int m) { return kDay + h * 3600 + m * 60; }

TEST(RecordingSchedule, DefaultDayAndClippedWindows) {
  const auto s = RecordingSchedule::defaults();
  const auto day = s.query(0, kDay, kDay + 86400, 63);
  ASSERT_EQ(day.size(), 4u);
  EXPECT_EQ(day[1], (RecordingSpan{at(9, 30), at(10, 20), 2}));
  EXPECT_EQ(day[3].end, kDay + 86399);
  // A window inside recordings is clipped to itself; across midnight both days count.
  const auto window = s.query(1, at(10, 0), at(11, 0), 63);
  ASSERT_EQ(window.size(), 2u);
  EXPECT_EQ(window[0].begin, at(10, 0));
  EXPECT_EQ(window[1].end, at(11, 0));
  EXPECT_EQ(s.query(0, at(23, 0), at(24, 0) + 3600, 63).size(), 2u);
  EXPECT_EQ(s.query(0, kDay, kDay + 86400, 4).size(), 0u);
  EXPECT_TRUE(s.query(0, at(11, 0), at(10, 0), 63).empty());
}

TEST(RecordingSchedule, SpecificRulesReplaceGeneralOnes) {
  std::string error;
  const auto s = RecordingSchedule::parse(
      "# channel 1 records little\n"
      "*  *          08:00-09:00\n"
      "1  *          12:00-12:30 4\n"
      "1  2024-05-06 13:00:15-13:00:20\n",
      &error);
  ASSERT_TRUE(s) << error;
  EXPECT_EQ(s->query(0, kDay, kDay + 86400, 63), (std::vector<RecordingSpan>{{at(8, 0), at(9, 0), 1}}));
  EXPECT_EQ(s->query(1, kDay + 86400, kDay + 2 * 86400, 63)[0].type, 4u);
  const auto special = s->query(1, kDay, kDay + 86400, 63);
  ASSERT_EQ(special.size(), 1u);
  EXPECT_EQ(special[0].begin, at(13, 0) + 15);

  for (const char* bad : {"x * 08:00-09:00", "* 2024-02-30 08:00-09:00", "* * 09:00-08:00", "* * 08:00",
                          "* * 08:61-09:00", "* * 08:00-09:00 0"}) {
    EXPECT_FALSE(RecordingSchedule::parse(bad, &error)) << bad;
  }
}

TEST(DevSimOptions, CommandLine) {
  const char* argv[] = {"devsim",    "--port",  "0",          "--media-port", "7000",      "--channels",   "9",
                        "--user",    "root",    "--password", "pw",           "--account", "guest:g:live", "--codec",
                        "h264,h265", "--audio", "alaw"};
  std::string error;
  const auto o = devsim::parseDevSimArgs(std::size(argv), argv, &error);
  ASSERT_TRUE(o) << error;
  EXPECT_EQ(o->commandPort, 0);
  EXPECT_EQ(o->mediaPort, 7000);
  EXPECT_EQ(o->channels, 9);
  ASSERT_EQ(o->accounts.size(), 2u);
  EXPECT_EQ(o->accounts[0].user, "root");
  EXPECT_TRUE(o->accounts[1].liveOnly);
  EXPECT_FALSE(o->isH265(0));
  EXPECT_TRUE(o->isH265(8));  // the last codec applies to the rest
  EXPECT_EQ(o->audioFormat, 11);
  for (std::vector<const char*> bad : {std::vector<const char*>{"devsim", "--channels", "0"},
                                       {"devsim", "--port", "70000"},
                                       {"devsim", "--codec", "vp9"},
                                       {"devsim", "--port"},
                                       {"devsim", "--schedule", "/nonexistent"},
                                       {"devsim", "--bogus", "1"}}) {
    EXPECT_FALSE(devsim::parseDevSimArgs(static_cast<int>(bad.size()), bad.data(), &error)) << bad[1];
  }
}

}  // namespace
