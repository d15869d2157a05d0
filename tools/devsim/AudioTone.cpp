#include "tools/devsim/AudioTone.h"

#include <cmath>

#include "platform/devlink/WireFormat.h"
#include "platform/sys/G711.h"

namespace devsim {

AudioTone::AudioTone(uint8_t audioFormat) {
  const bool alaw = audioFormat == devlink::wire::kG711Alaw;
  for (int f = 0; f < kFramesPerSecond; ++f) {
    std::vector<uint8_t> frame(kBytesPerFrame);
    for (int i = 0; i < kBytesPerFrame; ++i) {
      const double t = (f * kBytesPerFrame + i) / 8000.0;
      const int16_t sample = f < 12 ? static_cast<int16_t>(8000 * std::sin(2 * M_PI * 400 * t)) : 0;
      frame[i] = alaw ? g711::encodeALaw(sample) : g711::encodeMuLawStandard(sample);
    }
    frames_.push_back(std::move(frame));
  }
}

}  // namespace devsim
