#include "platform/sys/TimeText.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <limits>

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

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar; a day
// past the month's end counts on into the next month, as mktime does.
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yearOfEra = y - era * 400;
  const int64_t dayOfYear = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The C library reads the zone once; this looks again at most once a
// second, so a zone changed while we run is followed without asking the
// file system at every conversion (mktime checks the zone file each call).
void followZone() {
  static std::atomic<int64_t> lastNs{std::numeric_limits<int64_t>::min()};
  const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count();
  int64_t last = lastNs.load(std::memory_order_relaxed);
  if (last != std::numeric_limits<int64_t>::min() && now - last < 1'000'000'000) return;
  if (lastNs.compare_exchange_strong(last, now)) tzset();
}

// Offset from UTC in seconds at an instant; nothing when out of range.
std::optional<int64_t> offsetAt(int64_t seconds, std::tm& local) {
  const time_t s = static_cast<time_t>(seconds);
  if (localtime_r(&s, &local) == nullptr) return std::nullopt;
  return static_cast<int64_t>(local.tm_gmtoff);
}

bool shows(const std::tm& local, const CalendarTime& t, int64_t days) {
  // Compared by day number, so that a day past the month's end matches the
  // day it counts on to.
  return daysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) == days && local.tm_hour == t.hour &&
         local.tm_min == t.minute && local.tm_sec == t.second;
}

}  // namespace

std::optional<int64_t> localToSeconds(const CalendarTime& t) {
  followZone();
  // The calendar time read as UTC, then moved by the zone's offset. The
  // offsets a day before and a day after cover both sides of a change of
  // offset near the time: a time that exists once takes the offset that
  // shows it; one that a fall back shows twice, the earlier instant; one
  // that a spring forward skips, the offset before the change (02:30 in a
  // gap of 02:00 to 03:00 becomes 03:30), as mktime answers.
  const int64_t days = daysFromCivil(t.year, t.month, t.day);
  const int64_t asUtc = days * 86400 + int64_t{t.hour} * 3600 + int64_t{t.minute} * 60 + t.second;
  std::tm local{};
  const auto before = offsetAt(asUtc - 86400, local);
  const auto after = offsetAt(asUtc + 86400, local);
  if (!before || !after) return std::nullopt;
  std::optional<int64_t> best;
  for (const int64_t offset : {*before, *after}) {
    const int64_t candidate = asUtc - offset;
    if (offsetAt(candidate, local) && shows(local, t, days) && (!best || candidate < *best)) best = candidate;
  }
  return best ? best : std::optional<int64_t>(asUtc - *before);
}

CalendarTime secondsToLocal(int64_t seconds) {
  followZone();
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
