#pragma once
// 8-bit companding of 16-bit linear samples for the devices' talk channel.
#include <cstdint>

namespace kestrova {

// μ-law with the classic bias of 132 and clip at 32635. Magnitudes below 124
// (exponent 0) take their mantissa with a shift of 4 rather than 3, which the
// devices have always received: silence is 0xF7, not 0xFF.
uint8_t encodeUlaw(int16_t sample);

// Standard G.711 A-law of the sample's top 13 bits (the sample shifted right
// by 3), as the devices decode it.
uint8_t encodeAlaw(int16_t sample);

// Standard G.711 decoders, to 16-bit linear (A-law levels scaled by 8).
int16_t decodeAlaw(uint8_t code);
int16_t decodeUlaw(uint8_t code);

}  // namespace kestrova
