#include "platform/sys/G711.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <tuple>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace {

// Every 16-bit sample once, from -32768 up.
std::vector<int16_t> everySample() {
  std::vector<int16_t> all;
  for (int v = -32768; v <= 32767; ++v) all.push_back(static_cast<int16_t>(v));
  return all;
}

// libavcodec's own PCM codec run over `in` (16-bit samples to codes, or
// codes to 16-bit samples). Empty when the codec cannot be opened.
std::vector<uint8_t> runCodec(AVCodecID id, bool encode, const std::vector<uint8_t>& in) {
  const AVCodec* codec = encode ? avcodec_find_encoder(id) : avcodec_find_decoder(id);
  if (codec == nullptr) return {};
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->sample_rate = 8000;
  av_channel_layout_default(&ctx->ch_layout, 1);
  ctx->sample_fmt = AV_SAMPLE_FMT_S16;
  std::vector<uint8_t> out;
  if (avcodec_open2(ctx, codec, nullptr) == 0) {
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (encode) {
      frame->nb_samples = static_cast<int>(in.size() / 2);
      frame->format = AV_SAMPLE_FMT_S16;
      frame->sample_rate = 8000;
      av_channel_layout_default(&frame->ch_layout, 1);
      if (av_frame_get_buffer(frame, 0) == 0) {
        std::copy(in.begin(), in.end(), frame->data[0]);
        if (avcodec_send_frame(ctx, frame) == 0) {
          while (avcodec_receive_packet(ctx, packet) == 0) {
            out.insert(out.end(), packet->data, packet->data + packet->size);
            av_packet_unref(packet);
          }
        }
      }
    } else if (av_new_packet(packet, static_cast<int>(in.size())) == 0) {
      std::copy(in.begin(), in.end(), packet->data);
      if (avcodec_send_packet(ctx, packet) == 0) {
        while (avcodec_receive_frame(ctx, frame) == 0) {
          const auto* data = frame->data[0];
          out.insert(out.end(), data, data + frame->nb_samples * 2);
        }
      }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
  }
  avcodec_free_context(&ctx);
  return out;
}

std::vector<uint8_t> bytesOf(const std::vector<int16_t>& samples) {
  const auto* p = reinterpret_cast<const uint8_t*>(samples.data());
  return std::vector<uint8_t>(p, p + samples.size() * 2);
}

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

// The designed μ-law worked out a second way: clip, bias, the exponent
// from the bit width, the mantissa below the leading bit (one bit less for
// exponent 0), inverted.
TEST(G711Test, DesignedMuLawMatchesItsFormulaForEverySample) {
  for (int v = -32768; v <= 32767; ++v) {
    const int magnitude = std::min(std::abs(v), 32635) + 132;
    const int exponent = std::max(0, static_cast<int>(std::bit_width(static_cast<unsigned>(magnitude))) - 8);
    const int mantissa = (magnitude >> (exponent == 0 ? 4 : exponent + 3)) & 0x0F;
    const int code = ~((v < 0 ? 0x80 : 0) | exponent << 4 | mantissa) & 0xFF;
    ASSERT_EQ(g711::encodeMuLawDesigned(static_cast<int16_t>(v)), code) << v;
  }
}

// Against libavcodec's PCM codecs: the decoders agree for every code. The
// standard encoders agree for every sample except where the two round a
// sample that lies on a step's decision boundary to the neighbouring code.
TEST(G711Test, StandardCodecsAgreeWithLibavcodec) {
  std::vector<uint8_t> codes(256);
  for (int c = 0; c < 256; ++c) codes[c] = static_cast<uint8_t>(c);
  for (const auto& [id, decode] : {std::pair{AV_CODEC_ID_PCM_MULAW, &g711::decodeMuLaw},
                                   std::pair{AV_CODEC_ID_PCM_ALAW, &g711::decodeALaw}}) {
    const std::vector<uint8_t> decoded = runCodec(id, false, codes);
    ASSERT_EQ(decoded.size(), 512u) << avcodec_get_name(id);
    for (int c = 0; c < 256; ++c) {
      const auto expected = static_cast<int16_t>(decoded[2 * c] | decoded[2 * c + 1] << 8);
      ASSERT_EQ(decode(static_cast<uint8_t>(c)), expected) << avcodec_get_name(id) << " code " << c;
    }
  }
  const std::vector<int16_t> samples = everySample();
  for (const auto& [id, encode, decode] :
       {std::tuple{AV_CODEC_ID_PCM_MULAW, &g711::encodeMuLawStandard, &g711::decodeMuLaw},
        std::tuple{AV_CODEC_ID_PCM_ALAW, &g711::encodeALaw, &g711::decodeALaw}}) {
    // Each code's place among the law's levels, lowest first.
    std::vector<int> levels;
    for (int c = 0; c < 256; ++c) levels.push_back(decode(static_cast<uint8_t>(c)));
    std::sort(levels.begin(), levels.end());
    levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
    const auto rank = [&](uint8_t code) {
      return std::lower_bound(levels.begin(), levels.end(), decode(code)) - levels.begin();
    };
    const std::vector<uint8_t> encoded = runCodec(id, true, bytesOf(samples));
    ASSERT_EQ(encoded.size(), samples.size()) << avcodec_get_name(id);
    int differing = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
      const uint8_t ours = encode(samples[i]);
      if (ours == encoded[i]) continue;
      ++differing;
      // The neighbouring level, never further.
      ASSERT_EQ(std::abs(rank(ours) - rank(encoded[i])), 1) << avcodec_get_name(id) << " sample " << samples[i];
    }
    std::printf("%s: %d of 65536 samples take the neighbouring level\n", avcodec_get_name(id), differing);
    EXPECT_LE(differing, 1024) << avcodec_get_name(id);
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
