// Feeds arbitrary text to the time-text reader; a time it accepts must
// format and read back to the same calendar fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/sys/TimeText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto time = sys::parseTimeText(text);
  if (!time) return 0;
  const auto again = sys::parseTimeText(sys::formatTimeText(*time));
  if (!again || again->year != time->year || again->month != time->month || again->day != time->day ||
      again->hour != time->hour || again->minute != time->minute || again->second != time->second) {
    std::abort();
  }
  sys::localToSeconds(*time);
  return 0;
}
