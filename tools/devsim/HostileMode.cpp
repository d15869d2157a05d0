#include "tools/devsim/HostileMode.h"

#include <array>
#include <utility>

namespace devsim {
namespace {

constexpr std::array<std::pair<HostileMode, std::string_view>, 10> kNames{{
    {HostileMode::kNone, "none"},
    {HostileMode::kStallLogin, "stall-login"},
    {HostileMode::kCloseLogin, "close-login"},
    {HostileMode::kSlowReplies, "slow-replies"},
    {HostileMode::kTrickle, "trickle"},
    {HostileMode::kStallStream, "stall-stream"},
    {HostileMode::kDropMidFrame, "drop-mid-frame"},
    {HostileMode::kHugePicture, "huge-picture"},
    {HostileMode::kCloseStream, "close-stream"},
    {HostileMode::kCloseDownload, "close-download"},
}};

}  // namespace

std::optional<HostileMode> hostileModeNamed(std::string_view name) {
  for (const auto& [mode, text] : kNames)
    if (text == name) return mode;
  return std::nullopt;
}

std::string_view hostileModeName(HostileMode mode) {
  for (const auto& [m, text] : kNames)
    if (m == mode) return text;
  return "none";
}

const char* hostileModeList() {
  return "none|stall-login|close-login|slow-replies|trickle|stall-stream|drop-mid-frame|huge-picture|close-stream|"
         "close-download";
}

}  // namespace devsim
