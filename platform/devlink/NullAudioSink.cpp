#include "platform/devlink/NullAudioSink.h"

#include <cstdlib>

namespace devlink {

void NullAudioSink::start(int sampleRate) {
  sampleRate_ = sampleRate;
  playing_ = true;
  starts_.fetch_add(1);
}

void NullAudioSink::write(const int16_t* samples, size_t count) {
  int peak = 0;
  for (size_t i = 0; i < count; ++i) {
    const int v = std::abs(static_cast<int>(samples[i]));
    if (v > peak) peak = v;
  }
  int seen = peak_.load();
  while (peak > seen && !peak_.compare_exchange_weak(seen, peak)) {
  }
  samples_.fetch_add(count);
}

void NullAudioSink::stop() { playing_ = false; }

}  // namespace devlink
