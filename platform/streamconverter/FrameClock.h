#pragma once
// Turns the device's frame times into the file's times, in milliseconds
// from the first key frame. A device sends a time range that spans two
// recordings as one stream: the frame times jump forward over the time
// nothing was recorded (10:20 to 10:40, say). Every jump of more than
// kMaxJumpMs beyond the expected frame interval, forward or back, is
// collapsed to one frame interval, so the file lasts as long as the
// recorded content. Video and audio share one clock, so whichever track
// crosses the gap first moves both, and they stay in step.
#include <cstdint>

namespace streamconverter {

class FrameClock {
 public:
  static constexpr int64_t kMaxJumpMs = 1000;
  static constexpr int64_t kDefaultIntervalMs = 40;

  // The file time of a frame stamped `sourceMs`; the first call answers 0.
  // Small steps back (jitter) are answered as they are: each track keeps
  // its own times increasing.
  int64_t map(int64_t sourceMs);

  // The time between two video frames, from the frame rate the device
  // announces or the last step between frames; kept within 1..1000 ms.
  void setInterval(int64_t ms);
  int64_t interval() const { return interval_; }
  bool started() const { return started_; }

 private:
  bool started_ = false;
  int64_t offset_ = 0;  // source time minus file time
  int64_t latest_ = 0;  // the latest source time seen, after the last collapse
  int64_t interval_ = kDefaultIntervalMs;
};

}  // namespace streamconverter
