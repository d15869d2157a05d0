#include "shell/services/G711.h"

namespace kestrova {

uint8_t encodeUlaw(int16_t sample) {
  int value = sample;
  int sign = 0;
  if (value < 0) {
    sign = 0x80;
    value = -value;
  }
  if (value > 32635) value = 32635;
  value += 132;
  // Highest set bit among bits 14..8 gives exponents 7..1; none gives 0.
  int exponent = 0;
  for (int bit = 14; bit >= 8; --bit) {
    if (value & (1 << bit)) {
      exponent = bit - 7;
      break;
    }
  }
  const int shift = exponent == 0 ? 4 : exponent + 3;
  const int mantissa = (value >> shift) & 0x0F;
  return static_cast<uint8_t>(~(sign | (exponent << 4) | mantissa));
}

uint8_t encodeAlaw(int16_t sample) {
  int value = sample >> 3;  // arithmetic shift: 13-bit signed value
  int mask = 0xD5;
  if (value < 0) {
    mask = 0x55;
    value = -value - 1;
  }
  // Segment ends of the 13-bit magnitude: 0x1F, 0x3F, ..., 0xFFF.
  int segment = 0;
  while (segment < 8 && value > (0x20 << segment) - 1) ++segment;
  if (segment >= 8) return static_cast<uint8_t>(0x7F ^ mask);
  const int quant = segment < 2 ? (value >> 1) & 0x0F : (value >> segment) & 0x0F;
  return static_cast<uint8_t>(((segment << 4) | quant) ^ mask);
}

int16_t decodeAlaw(uint8_t code) {
  const int value = code ^ 0x55;
  int magnitude = (value & 0x0F) << 4;
  const int segment = (value & 0x70) >> 4;
  if (segment == 0) {
    magnitude += 8;
  } else if (segment == 1) {
    magnitude += 0x108;
  } else {
    magnitude = (magnitude + 0x108) << (segment - 1);
  }
  return static_cast<int16_t>((value & 0x80) ? magnitude : -magnitude);
}

int16_t decodeUlaw(uint8_t code) {
  const int value = ~code & 0xFF;
  int magnitude = (((value & 0x0F) << 3) + 0x84) << ((value & 0x70) >> 4);
  magnitude -= 0x84;
  return static_cast<int16_t>((value & 0x80) ? -magnitude : magnitude);
}

}  // namespace kestrova
