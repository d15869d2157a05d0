#include "tools/devsim/G711.h"

#include <cstdlib>

namespace devsim {

uint8_t linearToUlaw(int16_t sample) {
  constexpr int kBias = 0x84;
  constexpr int kClip = 32635;
  int s = sample;
  const int sign = s < 0 ? 0x80 : 0;
  if (s < 0) s = -s;
  if (s > kClip) s = kClip;
  s += kBias;
  int exponent = 7;
  for (int mask = 0x4000; (s & mask) == 0 && exponent > 0; mask >>= 1) --exponent;
  const int mantissa = (s >> (exponent + 3)) & 0x0F;
  return static_cast<uint8_t>(~(sign | (exponent << 4) | mantissa));
}

uint8_t linearToAlaw(int16_t sample) {
  int s = sample;
  const int sign = s >= 0 ? 0x80 : 0;
  if (s < 0) s = -s - 1;
  if (s > 32767) s = 32767;
  int value;
  if (s < 256) {
    value = s >> 4;
  } else {
    int exponent = 7;
    for (int mask = 0x4000; (s & mask) == 0 && exponent > 1; mask >>= 1) --exponent;
    value = (exponent << 4) | ((s >> (exponent + 3)) & 0x0F);
  }
  return static_cast<uint8_t>((sign | value) ^ 0x55);
}

}  // namespace devsim
