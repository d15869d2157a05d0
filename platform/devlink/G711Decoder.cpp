#include "platform/devlink/G711Decoder.h"

#include <array>

namespace devlink {

namespace {

int16_t ulawToLinear(uint8_t code) {
  code = static_cast<uint8_t>(~code);
  const int exponent = (code >> 4) & 0x07;
  const int mantissa = code & 0x0F;
  int magnitude = ((mantissa << 3) + 0x84) << exponent;
  magnitude -= 0x84;
  return static_cast<int16_t>((code & 0x80) ? -magnitude : magnitude);
}

int16_t alawToLinear(uint8_t code) {
  code ^= 0x55;
  const int exponent = (code >> 4) & 0x07;
  const int mantissa = code & 0x0F;
  int magnitude = exponent == 0 ? (mantissa << 4) + 8 : ((mantissa << 4) + 0x108) << (exponent - 1);
  return static_cast<int16_t>((code & 0x80) ? magnitude : -magnitude);
}

// Both laws as 256-entry tables, built once.
struct Tables {
  std::array<int16_t, 256> ulaw{};
  std::array<int16_t, 256> alaw{};
  Tables() {
    for (int i = 0; i < 256; ++i) {
      ulaw[i] = ulawToLinear(static_cast<uint8_t>(i));
      alaw[i] = alawToLinear(static_cast<uint8_t>(i));
    }
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

}  // namespace

int16_t G711Decoder::decode(Law law, uint8_t code) {
  return law == Law::kUlaw ? tables().ulaw[code] : tables().alaw[code];
}

void G711Decoder::decode(Law law, const uint8_t* in, size_t count, int volume, int16_t* out) {
  const auto& table = law == Law::kUlaw ? tables().ulaw : tables().alaw;
  if (volume >= 0xFFFF) {
    for (size_t i = 0; i < count; ++i) out[i] = table[in[i]];
    return;
  }
  if (volume < 0) volume = 0;
  for (size_t i = 0; i < count; ++i) out[i] = static_cast<int16_t>(table[in[i]] * volume / 0xFFFF);
}

}  // namespace devlink
