#include "platform/sys/TimeText.h"

#include <gtest/gtest.h>

namespace {

TEST(TimeText, ParsesAndFormats) {
  const auto t = sys::parseTimeText("2024-05-06 07:08:09");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->year, 2024);
  EXPECT_EQ(t->month, 5);
  EXPECT_EQ(t->day, 6);
  EXPECT_EQ(t->dayOfWeek, 1);  // a Monday
  EXPECT_EQ(t->second, 9);
  EXPECT_EQ(sys::formatTimeText(*t), "2024-05-06 07:08:09");
}

TEST(TimeText, RejectsWhatIsNotATime) {
  for (const char* bad : {"", "2024-05-06", "2024-13-01 00:00:00", "2024-02-30 10:00:00",
                          "2024-05-06 24:00:00", "2024-05-06 10:00:00 trailing", "yesterday"}) {
    EXPECT_FALSE(sys::parseTimeText(bad)) << bad;
  }
  EXPECT_TRUE(sys::parseTimeText("2024-02-29 23:59:59"));
}

TEST(TimeText, LocalSecondsRoundTrip) {
  const auto t = sys::parseTimeText("2024-05-01 10:20:30");
  ASSERT_TRUE(t);
  const auto s = sys::localToSeconds(*t);
  ASSERT_TRUE(s);
  EXPECT_EQ(sys::formatTimeText(sys::secondsToLocal(*s)), "2024-05-01 10:20:30");
  const auto later = sys::localToSeconds(*sys::parseTimeText("2024-05-01 10:20:31"));
  EXPECT_EQ(*later - *s, 1);
}

}  // namespace
