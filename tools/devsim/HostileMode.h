#pragma once
// Ways the simulated device can misbehave on purpose, so that tests can see
// what a client does when a device stalls, lies or goes away at the worst
// moment. The default is a well-behaved device.
#include <optional>
#include <string_view>

namespace devsim {

enum class HostileMode {
  kNone,
  kStallLogin,     // reads the login's opening request and never answers
  kCloseLogin,     // reads the login's opening request and closes the connection
  kSlowReplies,    // every command-port reply and stream opening waits kSlowReplyMs first
  kTrickle,        // sends every reply and frame one byte at a time
  kStallStream,    // a stream sends a few frames, then nothing (no frames, no replies)
  kDropMidFrame,   // a stream sends a few frames, then half a frame, then closes
  kHugePicture,    // key frames declare a 16384 x 16384 picture in their parameter sets
  kCloseStream,    // live and history streams close after a few frames
  kCloseDownload,  // history streams played as fast as the client reads close after a few frames
};

// Command-line names ("stall-login", ...); nothing for an unknown name.
std::optional<HostileMode> hostileModeNamed(std::string_view name);
std::string_view hostileModeName(HostileMode mode);
// The names, separated by '|', for the usage text.
const char* hostileModeList();

// How long a slow reply waits; below the SDK's command time-outs.
constexpr int kSlowReplyMs = 1500;
// Frames a stream sends before it turns hostile.
constexpr int kFramesBeforeHostile = 10;
// The picture size the huge parameter sets declare.
constexpr int kHugePictureSide = 16384;

}  // namespace devsim
