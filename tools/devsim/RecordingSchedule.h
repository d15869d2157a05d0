#pragma once
// Which times of a channel's days hold recordings. The same answer every
// time for the same channel and day, so record queries, history streams and
// tests agree without any stored files.
//
// Times are calendar seconds (seconds since 1970 on the device's own
// calendar, no time zone): day d covers [d*86400, (d+1)*86400).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace devsim {

struct RecordingSpan {
  int64_t begin = 0;  // calendar seconds, inclusive
  int64_t end = 0;    // calendar seconds, exclusive
  uint32_t type = 1;  // recording type bit: 1 timed, 2 motion, 4 alarm, ...
  bool operator==(const RecordingSpan&) const = default;
};

class RecordingSchedule {
 public:
  // Every day of every channel: 00:00-06:00 timed, 09:30-10:20 motion,
  // 10:40-12:00 timed, 14:00-23:59:59 timed.
  static RecordingSchedule defaults();

  // Reads rules, one a line: `<channel|*> <YYYY-MM-DD|*> HH:MM[:SS]-HH:MM[:SS] [type]`
  // ('#' starts a comment; channels are zero-based). The most specific rules
  // win: a channel and day with any rule of its own uses only those.
  static std::optional<RecordingSchedule> parse(std::string_view text, std::string* error);

  // The spans of the channel that overlap [from, to), of the types in the
  // mask, clipped to the window and in time order.
  std::vector<RecordingSpan> query(int channel, int64_t from, int64_t to, uint32_t typeMask) const;

 private:
  struct Rule {
    int channel = -1;  // -1: every channel
    int64_t day = -1;  // -1: every day
    int begin = 0;     // seconds of the day
    int end = 0;
    uint32_t type = 1;
  };
  std::vector<Rule> rulesFor(int channel, int64_t day) const;

  std::vector<Rule> rules_;
};

}  // namespace devsim
