#include "platform/sys/TimeText.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

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
  // A day past the month's end counts on into the next month.
  sys::CalendarTime pastEnd = *t;
  pastEnd.month = 2;
  pastEnd.day = 31;
  sys::CalendarTime march = *t;
  march.month = 3;
  march.day = 2;
  EXPECT_EQ(sys::localToSeconds(pastEnd), sys::localToSeconds(march));
}

// Local times in zones with daylight saving time (POSIX rules, so no zone
// files are needed), each zone in a child process of its own: every time
// that exists once converts as mktime converts it, a time a spring forward
// skips as well, and a time a fall back shows twice to the earlier of its
// two instants.
TEST(TimeText, LocalSecondsFollowTheZoneAsMktimeDoes) {
  struct Case {
    const char* zone;
    std::vector<const char*> times;
    std::vector<const char*> twice;  // shown twice: the earlier instant
  };
  const std::vector<Case> cases = {
      {"UTC0", {"1601-01-01 00:00:00", "1969-12-31 23:59:59", "9999-12-31 23:59:59"}, {}},
      {"EST5EDT,M3.2.0,M11.1.0",
       {"2024-01-15 12:00:00", "2024-07-04 09:30:00", "2024-03-10 01:59:59", "2024-03-10 02:30:00",
        "2024-03-10 03:00:00", "1950-06-01 00:00:00", "2100-12-31 23:00:00"},
       {"2024-11-03 01:30:00"}},
      {"CET-1CEST,M3.5.0,M10.5.0/3", {"2024-03-31 02:30:00", "2024-10-27 03:00:00", "2024-08-01 00:00:00"},
       {"2024-10-27 02:30:00"}},
      {"AEST-10AEDT,M10.1.0,M4.1.0/3", {"2024-10-06 02:15:00", "2024-12-25 18:00:00"}, {"2024-04-07 02:30:00"}},
      {"<+1030>-10:30<+11>-11,M10.1.0,M4.1.0", {"2024-10-06 02:15:00", "2024-10-06 02:45:00"},
       {"2024-04-07 01:45:00"}},
  };
  for (const Case& c : cases) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(out[0]);
      setenv("TZ", c.zone, 1);
      tzset();
      std::string failures;
      const auto mktimeOf = [](const sys::CalendarTime& t) {
        std::tm tm{};
        tm.tm_year = t.year - 1900;
        tm.tm_mon = t.month - 1;
        tm.tm_mday = t.day;
        tm.tm_hour = t.hour;
        tm.tm_min = t.minute;
        tm.tm_sec = t.second;
        tm.tm_isdst = -1;
        return static_cast<int64_t>(mktime(&tm));
      };
      for (const char* text : c.times) {
        const auto t = sys::parseTimeText(text);
        const auto s = t ? sys::localToSeconds(*t) : std::nullopt;
        if (!s || *s != mktimeOf(*t)) {
          failures += std::string(text) + " gave " + (s ? std::to_string(*s) : "nothing") + " against mktime " +
                      std::to_string(t ? mktimeOf(*t) : 0) + "\n";
        }
      }
      for (const char* text : c.twice) {
        const auto t = sys::parseTimeText(text);
        const auto s = t ? sys::localToSeconds(*t) : std::nullopt;
        // The later instant shows the same time; nothing earlier does.
        bool ok = s && sys::formatTimeText(sys::secondsToLocal(*s)) == text;
        bool later = false;
        for (int64_t d = 1800; ok && d <= 7200; d += 1800) {
          ok = sys::formatTimeText(sys::secondsToLocal(*s - d)) != text;
          later = later || sys::formatTimeText(sys::secondsToLocal(*s + d)) == text;
        }
        if (!ok || !later) failures += std::string(text) + " is not the earlier of two instants\n";
      }
      const ssize_t written = write(out[1], failures.data(), failures.size());
      _exit(written == static_cast<ssize_t>(failures.size()) ? 0 : 1);
    }
    close(out[1]);
    std::string failures;
    char buffer[512];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) failures.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.zone;
    EXPECT_EQ(failures, "") << c.zone;
  }
}

}  // namespace
