#include "tools/devsim/RecordingSchedule.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "platform/devlink/WireFormat.h"

namespace devsim {
namespace {

constexpr int64_t kDay = 86400;

bool parseClock(const std::string& s, int& seconds) {
  int h = 0, m = 0, sec = 0;
  char tail = 0;
  const int n = std::sscanf(s.c_str(), "%d:%d:%d%c", &h, &m, &sec, &tail);
  if (n < 2 || n > 3 || h < 0 || m < 0 || m > 59 || sec < 0 || sec > 59) return false;
  if (h > 24 || (h == 24 && (m != 0 || sec != 0))) return false;
  seconds = h * 3600 + m * 60 + sec;
  return true;
}

}  // namespace

RecordingSchedule RecordingSchedule::defaults() {
  RecordingSchedule s;
  s.rules_ = {
      {-1, -1, 0, 6 * 3600, 1},
      {-1, -1, 9 * 3600 + 30 * 60, 10 * 3600 + 20 * 60, 2},
      {-1, -1, 10 * 3600 + 40 * 60, 12 * 3600, 1},
      {-1, -1, 14 * 3600, 23 * 3600 + 59 * 60 + 59, 1},
  };
  return s;
}

std::optional<RecordingSchedule> RecordingSchedule::parse(std::string_view text, std::string* error) {
  RecordingSchedule s;
  std::istringstream in{std::string(text)};
  std::string line;
  int lineNo = 0;
  auto fail = [&](const std::string& why) -> std::optional<RecordingSchedule> {
    if (error) *error = "line " + std::to_string(lineNo) + ": " + why;
    return std::nullopt;
  };
  while (std::getline(in, line)) {
    ++lineNo;
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream fields(line);
    std::string channel, day, span, type;
    if (!(fields >> channel)) continue;
    if (!(fields >> day >> span)) return fail("expected: channel day begin-end [type]");
    fields >> type;
    Rule r;
    if (channel != "*") {
      char* end = nullptr;
      const long c = std::strtol(channel.c_str(), &end, 10);
      if (*end || c < 0 || c > 1023) return fail("bad channel");
      r.channel = static_cast<int>(c);
    }
    if (day != "*") {
      devlink::wire::WireTime t;
      unsigned y = 0, m = 0, d = 0;
      char tail = 0;
      if (std::sscanf(day.c_str(), "%u-%u-%u%c", &y, &m, &d, &tail) != 3) return fail("bad day");
      t.year = static_cast<uint16_t>(y);
      t.month = static_cast<uint16_t>(m);
      t.day = static_cast<uint16_t>(d);
      const auto secs = devlink::wire::calendarSeconds(t);
      if (!secs || y > 2105) return fail("bad day");
      r.day = *secs / kDay;
    }
    const auto dash = span.find('-');
    if (dash == std::string::npos || !parseClock(span.substr(0, dash), r.begin) ||
        !parseClock(span.substr(dash + 1), r.end) || r.begin >= r.end) {
      return fail("bad span");
    }
    if (!type.empty()) {
      char* end = nullptr;
      const long t = std::strtol(type.c_str(), &end, 10);
      if (*end || t < 1 || t > 0xFFFF) return fail("bad type");
      r.type = static_cast<uint32_t>(t);
    }
    s.rules_.push_back(r);
  }
  return s;
}

std::vector<RecordingSchedule::Rule> RecordingSchedule::rulesFor(int channel, int64_t day) const {
  // Most specific first: channel and day, then day, then channel, then all.
  const auto pick = [&](bool wantChannel, bool wantDay) {
    std::vector<Rule> out;
    for (const Rule& r : rules_) {
      const bool channelMatches = wantChannel ? r.channel == channel : r.channel == -1;
      const bool dayMatches = wantDay ? r.day == day : r.day == -1;
      if (channelMatches && dayMatches) out.push_back(r);
    }
    return out;
  };
  for (const auto& [c, d] : {std::pair{true, true}, {false, true}, {true, false}, {false, false}}) {
    auto out = pick(c, d);
    if (!out.empty()) return out;
  }
  return {};
}

std::vector<RecordingSpan> RecordingSchedule::query(int channel, int64_t from, int64_t to, uint32_t typeMask) const {
  std::vector<RecordingSpan> out;
  if (from >= to || from < 0) return out;
  // A window of more than a few weeks is cut: no caller asks for more, and
  // the reply must stay bounded.
  to = std::min(to, from + 62 * kDay);
  for (int64_t day = from / kDay; day * kDay < to; ++day) {
    for (const Rule& r : rulesFor(channel, day)) {
      if ((r.type & typeMask) == 0) continue;
      const int64_t b = std::max(from, day * kDay + r.begin);
      const int64_t e = std::min(to, day * kDay + r.end);
      if (b < e) out.push_back(RecordingSpan{b, e, r.type});
    }
  }
  std::sort(out.begin(), out.end(), [](const RecordingSpan& a, const RecordingSpan& b) { return a.begin < b.begin; });
  return out;
}

}  // namespace devsim
