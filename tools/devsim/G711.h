#pragma once
// G.711 companding of 16-bit linear samples (ITU-T G.711, mu-law and A-law).
#include <cstdint>

namespace devsim {

uint8_t linearToUlaw(int16_t sample);
uint8_t linearToAlaw(int16_t sample);

}  // namespace devsim
