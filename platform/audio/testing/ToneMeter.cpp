#include "platform/audio/testing/ToneMeter.h"

#include <cmath>

namespace audio::testing {

double tonePower(std::span<const int16_t> samples, int sampleRate, double frequency) {
  if (samples.empty()) return 0;
  const double coefficient = 2 * std::cos(2 * M_PI * frequency / sampleRate);
  double s1 = 0, s2 = 0;
  for (const int16_t x : samples) {
    const double s0 = x + coefficient * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
  return power / static_cast<double>(samples.size());
}

double dominantFrequency(std::span<const int16_t> samples, int sampleRate) {
  double best = 0, bestPower = 0;
  for (double f = 100; f <= sampleRate / 2.0 - 100; f += 5) {
    const double p = tonePower(samples, sampleRate, f);
    if (p > bestPower) {
      bestPower = p;
      best = f;
    }
  }
  return best;
}

double rms(std::span<const int16_t> samples) {
  if (samples.empty()) return 0;
  double sum = 0;
  for (const int16_t x : samples) sum += static_cast<double>(x) * x;
  return std::sqrt(sum / static_cast<double>(samples.size()));
}

size_t loudestWindow(std::span<const int16_t> samples, size_t length) {
  size_t best = 0;
  double bestRms = -1;
  const size_t step = length / 4 > 0 ? length / 4 : 1;
  for (size_t start = 0; start + length <= samples.size(); start += step) {
    const double r = rms(samples.subspan(start, length));
    if (r > bestRms) {
      bestRms = r;
      best = start;
    }
  }
  return best;
}

}  // namespace audio::testing
