#include "platform/sys/G711.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

// FNV-1a over a whole code table. The expected values were taken from the
// encoders and decoders that the talk channel, the device simulator and the
// SDK used before they shared this module; any change to any output byte
// changes them.
template <typename Encode>
uint64_t encoderFingerprint(Encode encode) {
  uint64_t h = 1469598103934665603ull;
  for (int v = -32768; v <= 32767; ++v) {
    h ^= encode(static_cast<int16_t>(v));
    h *= 1099511628211ull;
  }
  return h;
}

template <typename Decode>
uint64_t decoderFingerprint(Decode decode) {
  uint64_t h = 1469598103934665603ull;
  for (int c = 0; c < 256; ++c) {
    const auto s = static_cast<uint16_t>(decode(static_cast<uint8_t>(c)));
    for (const int byte : {s & 0xFF, s >> 8}) {
      h ^= static_cast<uint64_t>(byte);
      h *= 1099511628211ull;
    }
  }
  return h;
}

TEST(G711Test, EveryOutputStaysAsTheDevicesKnowIt) {
  EXPECT_EQ(encoderFingerprint(g711::encodeMuLawDesigned), 0xb9c91ddf4e7c3cecull);
  EXPECT_EQ(encoderFingerprint(g711::encodeMuLawStandard), 0x11c3ac46acafa694ull);
  EXPECT_EQ(encoderFingerprint(g711::encodeALaw), 0x2bf3f2a346dc0483ull);
  EXPECT_EQ(decoderFingerprint(g711::decodeMuLaw), 0x501fc75f31f3bd0aull);
  EXPECT_EQ(decoderFingerprint(g711::decodeALaw), 0xdbd363400f5ef9c3ull);
}

TEST(G711Test, KnownCodeWords) {
  EXPECT_EQ(g711::encodeMuLawDesigned(0), 0xF7);
  EXPECT_EQ(g711::encodeMuLawStandard(0), 0xFF);
  EXPECT_EQ(g711::encodeALaw(0), 0xD5);
  EXPECT_EQ(g711::encodeALaw(-1), 0x55);
  for (const auto encode : {g711::encodeMuLawDesigned, g711::encodeMuLawStandard}) {
    EXPECT_EQ(encode(32767), 0x80);
    EXPECT_EQ(encode(-32768), 0x00);
  }
  EXPECT_EQ(g711::encodeALaw(32767), 0xAA);
  EXPECT_EQ(g711::encodeALaw(-32768), 0x2A);
}

// The two μ-law encoders differ exactly for the quiet samples of exponent 0,
// and there the designed one still decodes near the input.
TEST(G711Test, DesignedMuLawDiffersFromTheStandardOnlyNearSilence) {
  for (int v = -32768; v <= 32767; ++v) {
    const auto s = static_cast<int16_t>(v);
    const uint8_t designed = g711::encodeMuLawDesigned(s);
    if (std::abs(v) <= 115) {
      ASSERT_NE(designed, g711::encodeMuLawStandard(s)) << v;
      ASSERT_LE(std::abs(g711::decodeMuLaw(designed) - v), 128) << v;
    } else {
      ASSERT_EQ(designed, g711::encodeMuLawStandard(s)) << v;
    }
  }
}

TEST(G711Test, StandardCodesDecodeWithinOneStep) {
  for (int v = -32768; v <= 32767; ++v) {
    const auto s = static_cast<int16_t>(v);
    const int tolerance = std::max(16, std::abs(v) / 14);
    ASSERT_NEAR(g711::decodeMuLaw(g711::encodeMuLawStandard(s)), v, tolerance) << v;
    ASSERT_NEAR(g711::decodeALaw(g711::encodeALaw(s)), v, tolerance) << v;
  }
}

TEST(G711Test, ScaledDecodingAppliesTheVolume) {
  const std::vector<uint8_t> codes{g711::encodeALaw(16000), g711::encodeALaw(-16000), g711::encodeALaw(0)};
  std::vector<int16_t> out(codes.size());
  g711::decodeScaled(g711::Law::kALaw, codes, 0xFFFF, out.data());
  EXPECT_EQ(out, (std::vector<int16_t>{g711::decodeALaw(codes[0]), g711::decodeALaw(codes[1]),
                                        g711::decodeALaw(codes[2])}));
  g711::decodeScaled(g711::Law::kALaw, codes, 0xFFFF / 2, out.data());
  EXPECT_EQ(out[0], g711::decodeALaw(codes[0]) * (0xFFFF / 2) / 0xFFFF);
  EXPECT_EQ(out[1], g711::decodeALaw(codes[1]) * (0xFFFF / 2) / 0xFFFF);
  g711::decodeScaled(g711::Law::kMuLaw, codes, -1, out.data());
  EXPECT_EQ(out, (std::vector<int16_t>{0, 0, 0}));
}

}  // namespace
