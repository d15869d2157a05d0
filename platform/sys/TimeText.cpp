#include "platform/sys/TimeText.h"

#include <cstdio>
#include <ctime>

namespace sys {

std::optional<CalendarTime> parseTimeText(std::string_view text) {
  // strptime needs a terminated string; the texts are short, so bound them.
  if (text.size() > 64) return std::nullopt;
  const std::string copy(text);
  std::tm tm{};
  const char* end = strptime(copy.c_str(), " %Y-%m-%d %H:%M:%S", &tm);
  if (end == nullptr) return std::nullopt;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0') return std::nullopt;
  const int year = tm.tm_year + 1900;
  if (year < 1601 || year > 30827) return std::nullopt;
  // strptime accepts day 31 in any month; check the calendar.
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int mdays = kDays[tm.tm_mon] + (tm.tm_mon == 1 && leap ? 1 : 0);
  if (tm.tm_mday > mdays || tm.tm_sec > 59) return std::nullopt;
  CalendarTime t;
  t.year = static_cast<uint16_t>(year);
  t.month = static_cast<uint16_t>(tm.tm_mon + 1);
  t.day = static_cast<uint16_t>(tm.tm_mday);
  t.hour = static_cast<uint16_t>(tm.tm_hour);
  t.minute = static_cast<uint16_t>(tm.tm_min);
  t.second = static_cast<uint16_t>(tm.tm_sec);
  // Day of week from Zeller-like arithmetic (0 = Sunday), independent of time zone.
  {
    int y = year, m = t.month;
    static constexpr int kOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (m < 3) y -= 1;
    t.dayOfWeek = static_cast<uint16_t>((y + y / 4 - y / 100 + y / 400 + kOffsets[m - 1] + t.day) % 7);
  }
  return t;
}

std::optional<int64_t> localToSeconds(const CalendarTime& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_isdst = -1;
  const time_t s = mktime(&tm);
  if (s == static_cast<time_t>(-1) && !(t.year == 1969 && t.month == 12 && t.day == 31)) {
    return std::nullopt;
  }
  return static_cast<int64_t>(s);
}

CalendarTime secondsToLocal(int64_t seconds) {
  const time_t s = static_cast<time_t>(seconds);
  std::tm tm{};
  localtime_r(&s, &tm);
  CalendarTime t;
  t.year = static_cast<uint16_t>(tm.tm_year + 1900);
  t.month = static_cast<uint16_t>(tm.tm_mon + 1);
  t.dayOfWeek = static_cast<uint16_t>(tm.tm_wday);
  t.day = static_cast<uint16_t>(tm.tm_mday);
  t.hour = static_cast<uint16_t>(tm.tm_hour);
  t.minute = static_cast<uint16_t>(tm.tm_min);
  t.second = static_cast<uint16_t>(tm.tm_sec);
  return t;
}

std::string formatTimeText(const CalendarTime& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", unsigned{t.year}, unsigned{t.month},
                unsigned{t.day}, unsigned{t.hour}, unsigned{t.minute}, unsigned{t.second});
  return buf;
}

}  // namespace sys
