// Transitional: the new module against the three G.711 implementations it
// replaces, for every input, before those are removed.
#include "platform/sys/G711.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/devlink/G711Decoder.cpp"
#include "shell/services/G711.cpp"
#include "tools/devsim/G711.cpp"

namespace {

TEST(G711Transition, EveryEncoderInputGivesTodaysByte) {
  for (int v = -32768; v <= 32767; ++v) {
    const auto s = static_cast<int16_t>(v);
    ASSERT_EQ(g711::encodeMuLawDesigned(s), kestrova::encodeUlaw(s)) << v;
    ASSERT_EQ(g711::encodeMuLawStandard(s), devsim::linearToUlaw(s)) << v;
    ASSERT_EQ(g711::encodeALaw(s), kestrova::encodeAlaw(s)) << v;
    ASSERT_EQ(g711::encodeALaw(s), devsim::linearToAlaw(s)) << v;
  }
}

TEST(G711Transition, EveryCodeDecodesAsToday) {
  using Law = devlink::G711Decoder::Law;
  for (int c = 0; c < 256; ++c) {
    const auto code = static_cast<uint8_t>(c);
    ASSERT_EQ(g711::decodeMuLaw(code), kestrova::decodeUlaw(code)) << c;
    ASSERT_EQ(g711::decodeMuLaw(code), devlink::G711Decoder::decode(Law::kUlaw, code)) << c;
    ASSERT_EQ(g711::decodeALaw(code), kestrova::decodeAlaw(code)) << c;
    ASSERT_EQ(g711::decodeALaw(code), devlink::G711Decoder::decode(Law::kAlaw, code)) << c;
  }
  std::vector<uint8_t> all(256);
  for (int c = 0; c < 256; ++c) all[c] = static_cast<uint8_t>(c);
  for (int volume : {-5, 0, 1, 300, 0x7FFF, 0xFFFE, 0xFFFF, 0x10000}) {
    for (Law law : {Law::kUlaw, Law::kAlaw}) {
      std::vector<int16_t> before(256), after(256);
      devlink::G711Decoder::decode(law, all.data(), all.size(), volume, before.data());
      g711::decodeScaled(law == Law::kUlaw ? g711::Law::kMuLaw : g711::Law::kALaw, all, volume, after.data());
      ASSERT_EQ(before, after) << volume;
    }
  }
}

}  // namespace
