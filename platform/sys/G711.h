#pragma once
// G.711 companding: 16-bit linear samples to 8-bit μ-law and A-law codes and
// back.
//
// Two μ-law encoders live here on purpose. The talk channel has always sent
// the devices the designed variant, which differs from the standard one for
// quiet samples (magnitudes up to 115); the device simulator produces
// standard μ-law. The names say which is which so that a caller cannot take
// one for the other. A-law and both decoders are the standard ones.
#include <cstddef>
#include <cstdint>
#include <span>

namespace g711 {

// μ-law as the talk channel sends it: the standard bias of 132 and clip at
// 32635, except that magnitudes whose biased value stays below 256
// (exponent 0) take their mantissa with a shift of 4 rather than 3. Silence
// encodes as 0xF7, not the standard 0xFF.
uint8_t encodeMuLawDesigned(int16_t sample);

// Standard G.711 μ-law (bias 132, clip 32635): silence is 0xFF.
uint8_t encodeMuLawStandard(int16_t sample);

// Standard G.711 A-law of the sample's top 13 bits: silence is 0xD5.
uint8_t encodeALaw(int16_t sample);

// Standard G.711 decoders to 16-bit linear (A-law levels scaled by 8, so
// that both laws share one range).
int16_t decodeMuLaw(uint8_t code);
int16_t decodeALaw(uint8_t code);

enum class Law { kMuLaw, kALaw };

// Decodes `in` into `out` (room for in.size() samples), scaling each sample
// by volume / 0xFFFF: 0xFFFF and above leave them unchanged, 0 and below
// silence them.
void decodeScaled(Law law, std::span<const uint8_t> in, int volume, int16_t* out);

}  // namespace g711
