#pragma once
// Local date-time texts of the form "%Y-%m-%d %H:%M:%S" and their conversion
// to and from seconds since 1970 in the local time zone.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sys {

// A calendar time with the fields of a Windows SYSTEMTIME (day of week 0 =
// Sunday). Plain values, no time zone.
struct CalendarTime {
  uint16_t year = 0;
  uint16_t month = 0;
  uint16_t dayOfWeek = 0;
  uint16_t day = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};

// Parses "YYYY-MM-DD HH:MM:SS" (leading and trailing blanks allowed). Rejects
// anything else, including out-of-range fields such as month 13 or 25:00.
std::optional<CalendarTime> parseTimeText(std::string_view text);

// Local calendar time to seconds since 1970, the system deciding daylight
// saving time. Nothing when the time cannot be represented.
std::optional<int64_t> localToSeconds(const CalendarTime& t);

// Seconds since 1970 to local calendar time.
CalendarTime secondsToLocal(int64_t seconds);

// "%Y-%m-%d %H:%M:%S" of a local calendar time.
std::string formatTimeText(const CalendarTime& t);

}  // namespace sys
