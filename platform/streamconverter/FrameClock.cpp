#include "platform/streamconverter/FrameClock.h"

#include <algorithm>

namespace streamconverter {

int64_t FrameClock::map(int64_t sourceMs) {
  if (!started_) {
    started_ = true;
    offset_ = sourceMs;
    latest_ = sourceMs;
    return 0;
  }
  const int64_t step = sourceMs - latest_;
  if (step > interval_ + kMaxJumpMs || step < -kMaxJumpMs) {
    // The frame lands one interval after the latest one seen.
    offset_ += step - interval_;
    latest_ = sourceMs;
  } else if (step > 0) {
    latest_ = sourceMs;
  }
  return sourceMs - offset_;
}

void FrameClock::setInterval(int64_t ms) { interval_ = std::clamp<int64_t>(ms, 1, 1000); }

}  // namespace streamconverter
