#pragma once
// G.711 (ITU-T) mu-law and A-law bytes to 16-bit linear samples.
#include <cstddef>
#include <cstdint>

namespace devlink {

class G711Decoder {
 public:
  enum class Law { kUlaw, kAlaw };

  static int16_t decode(Law law, uint8_t code);
  // Decodes `count` bytes into `out` (room for `count` samples), scaling
  // each sample by volume / 0xFFFF (0xFFFF leaves them unchanged).
  static void decode(Law law, const uint8_t* in, size_t count, int volume, int16_t* out);
};

}  // namespace devlink
