#include "platform/sys/G711.h"

#include <array>

namespace g711 {

namespace {

constexpr int kMuLawBias = 132;
constexpr int kMuLawClip = 32635;

constexpr int16_t muLawToLinear(uint8_t code) {
  const int value = ~code & 0xFF;
  const int exponent = (value >> 4) & 0x07;
  const int mantissa = value & 0x0F;
  const int magnitude = (((mantissa << 3) + kMuLawBias) << exponent) - kMuLawBias;
  return static_cast<int16_t>((value & 0x80) ? -magnitude : magnitude);
}

constexpr int16_t aLawToLinear(uint8_t code) {
  const int value = code ^ 0x55;
  const int exponent = (value >> 4) & 0x07;
  const int mantissa = value & 0x0F;
  const int magnitude = exponent == 0 ? (mantissa << 4) + 8 : ((mantissa << 4) + 0x108) << (exponent - 1);
  return static_cast<int16_t>((value & 0x80) ? magnitude : -magnitude);
}

// Decoding is a table lookup; both tables are built at compile time.
template <int16_t (*Decode)(uint8_t)>
constexpr std::array<int16_t, 256> makeTable() {
  std::array<int16_t, 256> table{};
  for (int i = 0; i < 256; ++i) table[i] = Decode(static_cast<uint8_t>(i));
  return table;
}
constexpr std::array<int16_t, 256> kMuLawTable = makeTable<muLawToLinear>();
constexpr std::array<int16_t, 256> kALawTable = makeTable<aLawToLinear>();

}  // namespace

uint8_t encodeMuLawDesigned(int16_t sample) {
  int value = sample;
  int sign = 0;
  if (value < 0) {
    sign = 0x80;
    value = -value;
  }
  if (value > kMuLawClip) value = kMuLawClip;
  value += kMuLawBias;
  // Highest set bit among bits 14..8 gives exponents 7..1; none gives 0.
  int exponent = 0;
  for (int bit = 14; bit >= 8; --bit) {
    if (value & (1 << bit)) {
      exponent = bit - 7;
      break;
    }
  }
  // The designed difference: exponent 0 drops one more mantissa bit.
  const int shift = exponent == 0 ? 4 : exponent + 3;
  const int mantissa = (value >> shift) & 0x0F;
  return static_cast<uint8_t>(~(sign | (exponent << 4) | mantissa));
}

uint8_t encodeMuLawStandard(int16_t sample) {
  int value = sample;
  const int sign = value < 0 ? 0x80 : 0;
  if (value < 0) value = -value;
  if (value > kMuLawClip) value = kMuLawClip;
  value += kMuLawBias;
  int exponent = 7;
  for (int mask = 0x4000; (value & mask) == 0 && exponent > 0; mask >>= 1) --exponent;
  const int mantissa = (value >> (exponent + 3)) & 0x0F;
  return static_cast<uint8_t>(~(sign | (exponent << 4) | mantissa));
}

uint8_t encodeALaw(int16_t sample) {
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

int16_t decodeMuLaw(uint8_t code) { return kMuLawTable[code]; }

int16_t decodeALaw(uint8_t code) { return kALawTable[code]; }

void decodeScaled(Law law, std::span<const uint8_t> in, int volume, int16_t* out) {
  const auto& table = law == Law::kMuLaw ? kMuLawTable : kALawTable;
  if (volume >= 0xFFFF) {
    for (size_t i = 0; i < in.size(); ++i) out[i] = table[in[i]];
    return;
  }
  if (volume < 0) volume = 0;
  for (size_t i = 0; i < in.size(); ++i) out[i] = static_cast<int16_t>(table[in[i]] * volume / 0xFFFF);
}

}  // namespace g711
