#include "shell/command/HandlerSupport.h"

#include <cstring>

#include "platform/sys/TimeText.h"

namespace kestrova {

std::string textOfBuffer(const char* buffer, size_t capacity) {
  if (buffer == nullptr) return {};
  return std::string(buffer, strnlen(buffer, capacity));
}

bool parseSystemTime(std::string_view text, SystemTime& out) {
  const auto parsed = sys::parseTimeText(text);
  if (!parsed) return false;
  out = SystemTime{parsed->year, parsed->month,  parsed->dayOfWeek, parsed->day,
                   parsed->hour, parsed->minute, parsed->second,    0};
  return true;
}

bool systemTimeToSeconds(const SystemTime& time, int64_t& seconds) {
  sys::CalendarTime t;
  t.year = time.year;
  t.month = time.month;
  t.day = time.day;
  t.hour = time.hour;
  t.minute = time.minute;
  t.second = time.second;
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31) return false;
  const auto s = sys::localToSeconds(t);
  if (!s) return false;
  seconds = *s;
  return true;
}

}  // namespace kestrova
