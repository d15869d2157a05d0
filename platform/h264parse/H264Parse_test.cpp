#include "platform/h264parse/H264Parse.h"

#include <gtest/gtest.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/sys/TempPath.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------
// Real streams from libx264 and libx265.

struct StreamCase {
  const char* name;
  const char* encoder;
  int width;
  int height;
  AVPixelFormat pixelFormat;
  const char* preset;
  const char* params;  // x264-params / x265-params
  int flags;           // AVCodecContext flags
  // What the set must say beyond the size; -1 leaves a field unchecked.
  int chromaFormatIdc;
  int bitDepth;
  int frameMbsOnly;
  int scalingMatrix;
  int subLayers;
};

struct Encoded {
  Bytes stream;    // every packet, in order
  Bytes keyFrame;  // the first packet
};

bool encoderTakes(const AVCodec* codec, AVPixelFormat format) {
  for (const AVPixelFormat* f = codec->pix_fmts; f != nullptr && *f != AV_PIX_FMT_NONE; ++f) {
    if (*f == format) return true;
  }
  return false;
}

// Encodes two flat frames; the first packet is the key frame with the
// parameter sets in front of its slices.
std::optional<Encoded> encode(const StreamCase& c, std::string& why) {
  const AVCodec* codec = avcodec_find_encoder_by_name(c.encoder);
  if (codec == nullptr || !encoderTakes(codec, c.pixelFormat)) {
    why = std::string(c.encoder) + " cannot encode " + av_get_pix_fmt_name(c.pixelFormat);
    return std::nullopt;
  }
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->width = c.width;
  ctx->height = c.height;
  ctx->pix_fmt = c.pixelFormat;
  ctx->time_base = AVRational{1, 25};
  ctx->framerate = AVRational{25, 1};
  ctx->gop_size = 25;
  ctx->flags |= c.flags;
  av_opt_set(ctx->priv_data, "preset", c.preset, 0);
  if (c.params != nullptr) {
    const bool x265 = std::strcmp(c.encoder, "libx265") == 0;
    av_opt_set(ctx->priv_data, x265 ? "x265-params" : "x264-params", c.params, 0);
  }
  std::optional<Encoded> out;
  if (avcodec_open2(ctx, codec, nullptr) < 0) {
    why = "cannot open the encoder";
    avcodec_free_context(&ctx);
    return out;
  }
  out.emplace();
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  frame->format = c.pixelFormat;
  frame->width = c.width;
  frame->height = c.height;
  av_frame_get_buffer(frame, 0);
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(c.pixelFormat);
  for (int plane = 0; plane < 4 && frame->data[plane] != nullptr; ++plane) {
    const int rows = plane == 0 ? c.height : AV_CEIL_RSHIFT(c.height, desc->log2_chroma_h);
    std::memset(frame->data[plane], 0x02, static_cast<size_t>(frame->linesize[plane]) * rows);
  }
  auto drain = [&] {
    while (avcodec_receive_packet(ctx, packet) == 0) {
      if (out->keyFrame.empty()) out->keyFrame.assign(packet->data, packet->data + packet->size);
      out->stream.insert(out->stream.end(), packet->data, packet->data + packet->size);
      av_packet_unref(packet);
    }
  };
  for (int i = 0; i < 2; ++i) {
    frame->pts = i;
    avcodec_send_frame(ctx, frame);
    drain();
  }
  avcodec_send_frame(ctx, nullptr);
  drain();
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&ctx);
  return out;
}

// The size libavcodec's decoder gives the first picture.
std::pair<int, int> decodedSize(AVCodecID id, const Bytes& stream) {
  const AVCodec* codec = avcodec_find_decoder(id);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  std::pair<int, int> size{0, 0};
  if (avcodec_open2(ctx, codec, nullptr) == 0) {
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    av_new_packet(packet, static_cast<int>(stream.size()));
    std::memcpy(packet->data, stream.data(), stream.size());
    avcodec_send_packet(ctx, packet);
    avcodec_send_packet(ctx, nullptr);
    if (avcodec_receive_frame(ctx, frame) == 0) size = {frame->width, frame->height};
    av_frame_free(&frame);
    av_packet_free(&packet);
  }
  avcodec_free_context(&ctx);
  return size;
}

// The size ffprobe reports for the stream written to a file of its own.
std::pair<int, int> probedSize(const Bytes& stream, const char* suffix) {
  std::string path = sys::tempFolder() + "h264parse_test_XXXXXX" + suffix;
  const int fd = mkstemps(path.data(), static_cast<int>(std::strlen(suffix)));
  if (fd < 0) return {0, 0};
  const bool written = write(fd, stream.data(), stream.size()) == static_cast<ssize_t>(stream.size());
  close(fd);
  std::pair<int, int> size{0, 0};
  if (written) {
    const std::string command =
        "ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 '" + path + "'";
    if (FILE* pipe = popen(command.c_str(), "r")) {
      if (std::fscanf(pipe, "%d,%d", &size.first, &size.second) != 2) size = {0, 0};
      pclose(pipe);
    }
  }
  unlink(path.c_str());
  return size;
}

struct Parsed {
  int result = kH264ParseNotFound;
  int width = 0;
  int height = 0;
  H264SpsInfo h264{};
  H265SpsInfo h265{};
};

// Parses `length` bytes of the unit at `nal`, copied into a buffer of
// exactly that size so that the sanitizer catches any read past it.
Parsed parseUnit(int codec, const uint8_t* nal, int length) {
  const Bytes exact(nal, nal + length);
  Parsed p;
  if (codec == kH264ParseCodecH264) {
    p.result = h264_parse_sequence_parameter_set(exact.data(), length * 8, &p.h264);
    p.width = p.h264.width;
    p.height = p.h264.height;
  } else {
    p.result = h265_parse_sequence_parameter_set(exact.data(), length, &p.h265);
    p.width = p.h265.width;
    p.height = p.h265.height;
  }
  return p;
}

class RealStream : public ::testing::TestWithParam<StreamCase> {
 protected:
  static void SetUpTestSuite() { av_log_set_level(AV_LOG_QUIET); }
};

TEST_P(RealStream, SizeMatchesDecoderAndFfprobeAndTruncationIsRefused) {
  const StreamCase& c = GetParam();
  std::string why;
  const std::optional<Encoded> encoded = encode(c, why);
  if (!encoded) GTEST_SKIP() << why;
  const bool h264 = std::strcmp(c.encoder, "libx264") == 0;

  // The caller's way: locate, then parse at offset + 4.
  const Bytes& frame = encoded->keyFrame;
  int offset = -9, length = 0, codec = 0;
  ASSERT_EQ(get_sps_info_from_frame(frame.data(), static_cast<int>(frame.size()), &offset, &length, &codec),
            kH264ParseOk);
  ASSERT_EQ(codec, h264 ? kH264ParseCodecH264 : kH264ParseCodecH265);
  const Parsed parsed = parseUnit(codec, frame.data() + offset + 4, length);
  ASSERT_EQ(parsed.result, kH264ParseOk);

  EXPECT_EQ(parsed.width, c.width);
  EXPECT_EQ(parsed.height, c.height);
  const auto decoded = decodedSize(h264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_HEVC, encoded->stream);
  EXPECT_EQ(decoded, std::make_pair(parsed.width, parsed.height)) << "libavcodec";
  const auto probed = probedSize(encoded->stream, h264 ? ".h264" : ".hevc");
  EXPECT_EQ(probed, std::make_pair(parsed.width, parsed.height)) << "ffprobe";

  if (h264) {
    if (c.chromaFormatIdc >= 0) {
      EXPECT_EQ(parsed.h264.chromaFormatIdc, c.chromaFormatIdc);
    }
    if (c.bitDepth >= 0) {
      EXPECT_EQ(parsed.h264.bitDepthLuma, c.bitDepth);
    }
    if (c.frameMbsOnly >= 0) {
      EXPECT_EQ(parsed.h264.frameMbsOnly, c.frameMbsOnly);
    }
    if (c.scalingMatrix >= 0) {
      EXPECT_EQ(parsed.h264.scalingMatrixPresent, c.scalingMatrix);
    }
    EXPECT_EQ(parsed.h264.codedWidth - parsed.h264.cropLeft - parsed.h264.cropRight, c.width);
  } else {
    if (c.chromaFormatIdc >= 0) {
      EXPECT_EQ(parsed.h265.chromaFormatIdc, c.chromaFormatIdc);
    }
    if (c.bitDepth >= 0) {
      EXPECT_EQ(parsed.h265.bitDepthLuma, c.bitDepth);
    }
    if (c.subLayers >= 0) {
      EXPECT_EQ(parsed.h265.maxSubLayers, c.subLayers);
    }
  }

  // Every shorter cut of the set is refused, and so is every cut of the
  // frame that ends inside it.
  for (int cut = 0; cut < length; ++cut) {
    EXPECT_LT(parseUnit(codec, frame.data() + offset + 4, cut).result, 0) << "cut at " << cut;
  }
  const int spsEnd = offset + 4 + length;
  for (int cut = 0; cut <= spsEnd && cut <= static_cast<int>(frame.size()); ++cut) {
    const Bytes prefix(frame.begin(), frame.begin() + cut);
    int o = 0, l = 0, k = 0;
    const int result = get_sps_info_from_frame(prefix.data(), cut, &o, &l, &k);
    if (cut < spsEnd) {
      EXPECT_LT(result, 0) << "frame cut at " << cut;
    } else {
      EXPECT_EQ(result, kH264ParseOk);
      EXPECT_EQ(l, length);
    }
  }
}

constexpr int kAny = -1;

INSTANTIATE_TEST_SUITE_P(
    Encoders, RealStream,
    ::testing::Values(
        // 1080 lines are 68 macroblock rows: the set crops 8 lines.
        StreamCase{"h264_1920x1080", "libx264", 1920, 1080, AV_PIX_FMT_YUV420P, "ultrafast", nullptr, 0, 1, 8, 1, 0, kAny},
        StreamCase{"h264_704x576_high", "libx264", 704, 576, AV_PIX_FMT_YUV420P, "veryfast", nullptr, 0, 1, 8, 1, 0, kAny},
        StreamCase{"h264_352x288_422", "libx264", 352, 288, AV_PIX_FMT_YUV422P, "ultrafast", nullptr, 0, 2, 8, kAny, kAny, kAny},
        StreamCase{"h264_642x362_444", "libx264", 642, 362, AV_PIX_FMT_YUV444P, "ultrafast", nullptr, 0, 3, 8, kAny, kAny, kAny},
        StreamCase{"h264_250x150_10bit", "libx264", 250, 150, AV_PIX_FMT_YUV420P10LE, "ultrafast", nullptr, 0, 1, 10, kAny, kAny, kAny},
        StreamCase{"h264_250x150_gray", "libx264", 250, 150, AV_PIX_FMT_GRAY8, "ultrafast", nullptr, 0, 0, 8, kAny, kAny, kAny},
        // Field coding counts crop lines in pairs of field lines.
        StreamCase{"h264_1920x1080_interlaced", "libx264", 1920, 1080, AV_PIX_FMT_YUV420P, "ultrafast", nullptr, AV_CODEC_FLAG_INTERLACED_DCT, 1, 8, 0, kAny, kAny},
        StreamCase{"h264_1280x720_hrd", "libx264", 1280, 720, AV_PIX_FMT_YUV420P, "ultrafast", "nal-hrd=vbr:vbv-bufsize=2000:vbv-maxrate=1000", 0, 1, 8, kAny, kAny, kAny},
        StreamCase{"h265_1920x1080", "libx265", 1920, 1080, AV_PIX_FMT_YUV420P, "ultrafast", "log-level=error", 0, 1, 8, kAny, kAny, 1},
        StreamCase{"h265_704x576", "libx265", 704, 576, AV_PIX_FMT_YUV420P, "ultrafast", "log-level=error", 0, 1, 8, kAny, kAny, kAny},
        StreamCase{"h265_352x288_422", "libx265", 352, 288, AV_PIX_FMT_YUV422P, "ultrafast", "log-level=error", 0, 2, 8, kAny, kAny, kAny},
        // 642 x 362 is coded as 648 x 368 with a conformance window.
        StreamCase{"h265_642x362", "libx265", 642, 362, AV_PIX_FMT_YUV420P, "ultrafast", "log-level=error", 0, 1, 8, kAny, kAny, kAny},
        StreamCase{"h265_250x150_444", "libx265", 250, 150, AV_PIX_FMT_YUV444P, "ultrafast", "log-level=error", 0, 3, 8, kAny, kAny, kAny},
        StreamCase{"h265_250x150_10bit", "libx265", 250, 150, AV_PIX_FMT_YUV420P10LE, "ultrafast", "log-level=error", 0, 1, 10, kAny, kAny, kAny},
        StreamCase{"h265_352x288_sublayers_hrd_scaling", "libx265", 352, 288, AV_PIX_FMT_YUV420P, "ultrafast",
                   "log-level=error:temporal-layers=1:bframes=2:hrd=1:vbv-bufsize=2000:vbv-maxrate=1000:scaling-list=default",
                   0, 1, 8, kAny, kAny, 2}),
    [](const ::testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Hand-made parameter sets, for what the encoders above never write.

class BitWriter {
 public:
  void u(unsigned count, uint64_t value) {
    for (unsigned i = count; i-- > 0;) bits_.push_back(((value >> i) & 1) != 0);
  }
  void ue(uint64_t value) {
    unsigned length = 0;
    while (((value + 1) >> length) > 1) ++length;
    u(length, 0);
    u(length + 1, value + 1);
  }
  void se(int64_t value) { ue(value > 0 ? 2 * static_cast<uint64_t>(value) - 1 : 2 * static_cast<uint64_t>(-value)); }
  void trailing() {
    u(1, 1);
    while (bits_.size() % 8 != 0) u(1, 0);
  }
  // The NAL unit: `headerBytes` as they are, the rest escaped.
  Bytes nal(size_t headerBytes) const {
    Bytes raw;
    for (size_t i = 0; i < bits_.size(); i += 8) {
      uint8_t byte = 0;
      for (size_t b = 0; b < 8; ++b) byte = static_cast<uint8_t>(byte << 1 | (i + b < bits_.size() && bits_[i + b]));
      raw.push_back(byte);
    }
    Bytes out(raw.begin(), raw.begin() + static_cast<long>(headerBytes));
    int zeros = 0;
    for (size_t i = headerBytes; i < raw.size(); ++i) {
      if (zeros >= 2 && raw[i] <= 3) {
        out.push_back(3);
        zeros = 0;
      }
      out.push_back(raw[i]);
      zeros = raw[i] == 0 ? zeros + 1 : 0;
    }
    return out;
  }

 private:
  std::vector<bool> bits_;
};

struct H264Fields {
  uint32_t header = 0x67;
  uint32_t profile = 100;
  uint32_t spsId = 0;
  uint32_t chroma = 1;
  uint32_t bitDepthMinus8 = 0;
  bool scaling = false;
  uint32_t log2MaxFrameNumMinus4 = 0;
  uint32_t pocType = 0;
  std::vector<int64_t> pocCycle;  // offsets when pocType is 1
  int64_t offsetForNonRefPic = 0;
  uint32_t refFrames = 1;
  uint64_t widthMbsMinus1 = 39;
  uint64_t heightMapUnitsMinus1 = 29;
  bool frameMbsOnly = true;
  bool cropping = false;
  uint64_t crop[4] = {0, 0, 0, 0};
  bool vui = false;
  bool trailing = true;
};

Bytes buildH264(const H264Fields& f) {
  BitWriter w;
  w.u(8, f.header);
  w.u(8, f.profile);
  w.u(8, 0);
  w.u(8, 40);
  w.ue(f.spsId);
  if (f.profile == 100) {
    w.ue(f.chroma);
    if (f.chroma == 3) w.u(1, 0);
    w.ue(f.bitDepthMinus8);
    w.ue(f.bitDepthMinus8);
    w.u(1, 0);
    w.u(1, f.scaling);
    if (f.scaling) {
      w.u(1, 1);  // list 0: 9, 10, 11 ... (deltas of +1)
      for (int j = 0; j < 16; ++j) w.se(1);
      w.u(1, 1);  // list 1: the default list
      w.se(-8);
      for (int i = 2; i < 8; ++i) w.u(1, 0);
    }
  }
  w.ue(f.log2MaxFrameNumMinus4);
  w.ue(f.pocType);
  if (f.pocType == 0) w.ue(2);
  if (f.pocType == 1) {
    w.u(1, 0);
    w.se(f.offsetForNonRefPic);
    w.se(0);
    w.ue(f.pocCycle.size());
    for (int64_t offset : f.pocCycle) w.se(offset);
  }
  w.ue(f.refFrames);
  w.u(1, 0);
  w.ue(f.widthMbsMinus1);
  w.ue(f.heightMapUnitsMinus1);
  w.u(1, f.frameMbsOnly);
  if (!f.frameMbsOnly) w.u(1, 0);
  w.u(1, 1);
  w.u(1, f.cropping);
  if (f.cropping) {
    for (uint64_t c : f.crop) w.ue(c);
  }
  w.u(1, f.vui);
  if (f.vui) {
    w.u(1, 1);  // aspect ratio 40:33, sent explicitly
    w.u(8, 255);
    w.u(16, 40);
    w.u(16, 33);
    w.u(1, 0);
    w.u(1, 0);
    w.u(1, 0);
    w.u(1, 1);  // timing: 1 / 50
    w.u(32, 1);
    w.u(32, 50);
    w.u(1, 1);
    w.u(1, 1);  // NAL HRD with two schedules
    w.ue(1);
    w.u(8, 0x34);
    for (int i = 0; i < 2; ++i) {
      w.ue(1000 + i);
      w.ue(3000);
      w.u(1, i);
    }
    w.u(20, 0xABCDE);
    w.u(1, 0);
    w.u(1, 1);  // low_delay_hrd_flag
    w.u(1, 0);
    w.u(1, 1);  // bitstream restriction
    w.u(1, 1);
    for (int i = 0; i < 6; ++i) w.ue(i == 5 ? 4 : 2);
  }
  if (f.trailing) w.trailing();
  return w.nal(1);
}

int parseH264(const Bytes& nal, H264SpsInfo& sps) {
  return h264_parse_sequence_parameter_set(nal.data(), static_cast<int>(nal.size() * 8), &sps);
}

TEST(H264Sps, FieldCodedMonochromeWithCroppingPocCycleAndVui) {
  H264Fields f;
  f.chroma = 0;
  f.pocType = 1;
  f.pocCycle = {-3, 7, 12};
  f.frameMbsOnly = false;
  f.cropping = true;
  f.crop[0] = 1;  // monochrome crops in single samples horizontally ...
  f.crop[1] = 3;
  f.crop[2] = 1;  // ... and in pairs of lines when coded as fields
  f.crop[3] = 2;
  f.vui = true;
  H264SpsInfo sps{};
  ASSERT_EQ(parseH264(buildH264(f), sps), kH264ParseOk);
  EXPECT_EQ(sps.codedWidth, 640);
  EXPECT_EQ(sps.codedHeight, 960);
  EXPECT_EQ(sps.width, 640 - 4);
  EXPECT_EQ(sps.height, 960 - 6);
  EXPECT_EQ(sps.cropBottom, 4);
  EXPECT_EQ(sps.chromaFormatIdc, 0);
  EXPECT_EQ(sps.frameMbsOnly, 0);
  EXPECT_EQ(sps.picOrderCntType, 1);
  EXPECT_EQ(sps.sarWidth, 40);
  EXPECT_EQ(sps.sarHeight, 33);
  EXPECT_EQ(sps.numUnitsInTick, 1u);
  EXPECT_EQ(sps.timeScale, 50u);
  EXPECT_EQ(sps.fixedFrameRate, 1);
}

TEST(H264Sps, ScalingListsExplicitAndDefault) {
  H264Fields f;
  f.scaling = true;
  H264SpsInfo sps{};
  ASSERT_EQ(parseH264(buildH264(f), sps), kH264ParseOk);
  EXPECT_EQ(sps.scalingMatrixPresent, 1);
  EXPECT_EQ(sps.scalingListState[0], 1);
  EXPECT_EQ(sps.scalingList4x4[0][0], 9);
  EXPECT_EQ(sps.scalingList4x4[0][15], 24);
  EXPECT_EQ(sps.scalingListState[1], 2);
  EXPECT_EQ(sps.scalingListState[2], 0);
  EXPECT_EQ(sps.width, 640);
  EXPECT_EQ(sps.height, 480);
}

TEST(H264Sps, EscapedPayloadReadsAsUnescaped) {
  // Large picture-order offsets need long runs of zero bits, which the
  // writer has to escape; the size behind them must still come out right.
  H264Fields f;
  f.pocType = 1;
  f.offsetForNonRefPic = 1 << 24;
  f.pocCycle = {1 << 20, -(1 << 22), 0, 1 << 25};
  const Bytes nal = buildH264(f);
  bool escaped = false;
  for (size_t i = 2; i < nal.size(); ++i) escaped |= nal[i - 2] == 0 && nal[i - 1] == 0 && nal[i] == 3;
  ASSERT_TRUE(escaped);
  H264SpsInfo sps{};
  ASSERT_EQ(parseH264(nal, sps), kH264ParseOk);
  EXPECT_EQ(sps.width, 640);
  EXPECT_EQ(sps.height, 480);
}

TEST(H264Sps, RefusesFieldsOutOfRangeAndLeavesTheResultAlone) {
  const std::vector<std::pair<const char*, std::function<void(H264Fields&)>>> cases = {
      {"picture parameter set header", [](H264Fields& f) { f.header = 0x68; }},
      {"forbidden bit", [](H264Fields& f) { f.header = 0xE7; }},
      {"set id 32", [](H264Fields& f) { f.spsId = 32; }},
      {"chroma format 4", [](H264Fields& f) { f.chroma = 4; }},
      {"bit depth 15", [](H264Fields& f) { f.bitDepthMinus8 = 7; }},
      {"frame number of 17 bits", [](H264Fields& f) { f.log2MaxFrameNumMinus4 = 13; }},
      {"order type 3", [](H264Fields& f) { f.pocType = 3; }},
      {"256 cycle offsets", [](H264Fields& f) { f.pocType = 1; f.pocCycle.assign(256, 1); }},
      {"17 reference frames", [](H264Fields& f) { f.refFrames = 17; }},
      {"width beyond 16384", [](H264Fields& f) { f.widthMbsMinus1 = 1024; }},
      {"width of 2^32 macroblocks", [](H264Fields& f) { f.widthMbsMinus1 = 0xFFFFFFFFull; }},
      {"field height beyond 16384", [](H264Fields& f) { f.frameMbsOnly = false; f.heightMapUnitsMinus1 = 600; }},
      {"crop the whole width", [](H264Fields& f) { f.cropping = true; f.crop[0] = 160; f.crop[1] = 160; }},
      {"crop overflowing 32 bits", [](H264Fields& f) { f.cropping = true; f.crop[2] = 0xFFFFFFFEull; f.crop[3] = 0xFFFFFFFEull; }},
  };
  for (const auto& [name, mutate] : cases) {
    H264Fields f;
    mutate(f);
    H264SpsInfo sps{};
    sps.width = 1234;
    EXPECT_EQ(parseH264(buildH264(f), sps), kH264ParseInvalid) << name;
    EXPECT_EQ(sps.width, 1234) << name;
  }

  H264Fields noStop;
  noStop.trailing = false;  // zero padding where the stop bit belongs
  H264SpsInfo sps{};
  Bytes nal = buildH264(noStop);
  EXPECT_EQ(parseH264(nal, sps), kH264ParseInvalid);
  nal = buildH264(H264Fields{});
  nal.push_back(0x40);  // something after the trailing bits
  EXPECT_EQ(parseH264(nal, sps), kH264ParseInvalid);

  EXPECT_EQ(h264_parse_sequence_parameter_set(nullptr, 8, &sps), kH264ParseBadArgument);
  EXPECT_EQ(h264_parse_sequence_parameter_set(nal.data(), -8, &sps), kH264ParseBadArgument);
  EXPECT_EQ(h264_parse_sequence_parameter_set(nal.data(), 8, nullptr), kH264ParseBadArgument);
}

// An H.265 set with four short-term reference picture sets, the last three
// each predicted from the one before. How many flags a predicted set has
// depends on how many pictures the set before it holds, so reading one of
// them wrong shifts everything after it.
struct H265Fields {
  uint32_t header = 0x4201;
  uint32_t chroma = 1;
  uint64_t width = 648;
  uint64_t height = 368;
  bool window = true;
  uint64_t windowOffsets[4] = {0, 3, 0, 3};
  uint32_t log2MinCbMinus3 = 0;
};

Bytes buildH265(const H265Fields& f) {
  BitWriter w;
  w.u(16, f.header);
  w.u(4, 0);
  w.u(3, 0);  // one sub-layer
  w.u(1, 1);
  w.u(8, 0x01);  // Main profile, main tier
  w.u(32, 0x60000000);
  w.u(48, 0x900000000000ull);
  w.u(8, 93);
  w.ue(0);
  w.ue(f.chroma);
  if (f.chroma == 3) w.u(1, 0);
  w.ue(f.width);
  w.ue(f.height);
  w.u(1, f.window);
  if (f.window) {
    for (uint64_t o : f.windowOffsets) w.ue(o);
  }
  w.ue(0);
  w.ue(0);
  w.ue(4);  // 8-bit order counts
  w.u(1, 1);
  w.ue(4);
  w.ue(2);
  w.ue(0);
  w.ue(f.log2MinCbMinus3);
  w.ue(1);
  w.ue(0);
  w.ue(2);
  w.ue(1);
  w.ue(1);
  w.u(1, 0);  // no scaling lists
  w.u(1, 1);
  w.u(1, 1);
  w.u(1, 0);  // no PCM
  w.ue(4);    // four short-term sets
  // Set 0, explicit: -1, -3 and +2.
  w.ue(2);
  w.ue(1);
  w.ue(0), w.u(1, 1);
  w.ue(1), w.u(1, 1);
  w.ue(1), w.u(1, 1);
  // Set 1 from set 0 moved by -1: -2, dropped -4, +1, -1 -> {-1, -2 | +1}.
  w.u(1, 1);
  w.u(1, 1);
  w.ue(0);
  w.u(1, 1);
  w.u(1, 0), w.u(1, 0);
  w.u(1, 1);
  w.u(1, 1);
  // Set 2 from set 1 moved by +1: 0 (never kept), -1, +2, +1 -> {-1 | +1, +2}.
  w.u(1, 1);
  w.u(1, 0);
  w.ue(0);
  for (int j = 0; j < 4; ++j) w.u(1, 1);
  // Set 3 from set 2 moved by -2: four flags, because set 2 holds three pictures.
  w.u(1, 1);
  w.u(1, 1);
  w.ue(1);
  for (int j = 0; j < 4; ++j) w.u(1, 1);
  w.u(1, 1);  // long-term pictures: two, with 8-bit order counts
  w.ue(2);
  w.u(9, 0x155);
  w.u(9, 0x0AA);
  w.u(1, 1);
  w.u(1, 1);
  w.u(1, 0);  // no VUI
  w.u(1, 0);  // no extensions
  w.trailing();
  return w.nal(2);
}

int parseH265(const Bytes& nal, H265SpsInfo& sps) {
  return h265_parse_sequence_parameter_set(nal.data(), static_cast<int>(nal.size()), &sps);
}

TEST(H265Sps, PredictedReferenceSetsAndConformanceWindow) {
  H265SpsInfo sps{};
  ASSERT_EQ(parseH265(buildH265(H265Fields{}), sps), kH264ParseOk);
  EXPECT_EQ(sps.codedWidth, 648);
  EXPECT_EQ(sps.codedHeight, 368);
  EXPECT_EQ(sps.width, 642);
  EXPECT_EQ(sps.height, 362);
  EXPECT_EQ(sps.profileIdc, 1);
  EXPECT_EQ(sps.levelIdc, 93);

  H265Fields full444;
  full444.chroma = 3;  // 4:4:4 counts the window in single samples
  ASSERT_EQ(parseH265(buildH265(full444), sps), kH264ParseOk);
  EXPECT_EQ(sps.width, 645);
  EXPECT_EQ(sps.height, 365);
}

TEST(H265Sps, RefusesFieldsOutOfRange) {
  const std::vector<std::pair<const char*, std::function<void(H265Fields&)>>> cases = {
      {"picture parameter set header", [](H265Fields& f) { f.header = 0x4401; }},
      {"temporal id zero", [](H265Fields& f) { f.header = 0x4200; }},
      {"zero width", [](H265Fields& f) { f.width = 0; f.window = false; }},
      {"width beyond the highest level", [](H265Fields& f) { f.width = 16896; }},
      {"width not a whole number of coding blocks", [](H265Fields& f) { f.width = 644; }},
      {"coding blocks of 128", [](H265Fields& f) { f.log2MinCbMinus3 = 3; }},
      {"window wider than the picture", [](H265Fields& f) { f.windowOffsets[0] = 200; f.windowOffsets[1] = 124; }},
      {"window overflowing 32 bits", [](H265Fields& f) { f.windowOffsets[2] = 0xFFFFFFFEull; }},
  };
  for (const auto& [name, mutate] : cases) {
    H265Fields f;
    mutate(f);
    H265SpsInfo sps{};
    EXPECT_EQ(parseH265(buildH265(f), sps), kH264ParseInvalid) << name;
    EXPECT_EQ(sps.width, 0) << name;
  }
  H265Fields upperLayer;
  upperLayer.header = 0x4209;
  H265SpsInfo sps{};
  EXPECT_EQ(parseH265(buildH265(upperLayer), sps), kH264ParseUnsupported);
}

// ---------------------------------------------------------------------------
// Finding the set in a frame.

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(SpsLocator, StartCodesOfThreeAndFourBytes) {
  const Bytes sps = buildH264(H264Fields{});
  const Bytes pps = {0x68, 0xCE, 0x38, 0x80};
  const Bytes idr = {0x65, 0x88, 0x84, 0x00, 0x33};

  // A three-byte start code at the very start: offset + 4 still lands on
  // the unit, so the caller's fixed four-byte skip works.
  const Bytes three = concat({{0, 0, 1}, sps, {0, 0, 1}, pps});
  int offset = 0, length = 0, codec = 0;
  ASSERT_EQ(get_sps_info_from_frame(three.data(), static_cast<int>(three.size()), &offset, &length, &codec), kH264ParseOk);
  EXPECT_EQ(offset, -1);
  EXPECT_EQ(length, static_cast<int>(sps.size()));
  EXPECT_EQ(codec, kH264ParseCodecH264);
  H264SpsInfo info{};
  EXPECT_EQ(h264_parse_sequence_parameter_set(three.data() + offset + 4, length * 8, &info), kH264ParseOk);

  // Four-byte start codes, an access unit delimiter first and padding
  // zeros after the set, which do not belong to it.
  const Bytes four = concat({{0, 0, 0, 1, 0x09, 0xF0}, {0, 0, 0, 1}, sps, {0, 0, 0, 0, 0, 1}, pps, {0, 0, 1}, idr});
  ASSERT_EQ(get_sps_info_from_frame(four.data(), static_cast<int>(four.size()), &offset, &length, &codec), kH264ParseOk);
  EXPECT_EQ(offset, 6);
  EXPECT_EQ(length, static_cast<int>(sps.size()));
}

TEST(SpsLocator, SkipsLookalikesAndAnswersNotFound) {
  const Bytes sps = buildH264(H264Fields{});
  // A frame header in front whose bytes happen to contain a start code and
  // something shaped like a set, then a damaged set, then the real one.
  Bytes damaged = sps;
  damaged.resize(damaged.size() / 2);
  const Bytes frame = concat({{0x4B, 0x53, 0, 0, 1, 0x67, 0xFF, 0xFF, 0xFF, 0x10},
                              {0, 0, 0, 1}, damaged, {0, 0, 0, 1}, sps, {0, 0, 0, 1, 0x65, 0x88}});
  int offset = 0, length = 0, codec = 0;
  ASSERT_EQ(get_sps_info_from_frame(frame.data(), static_cast<int>(frame.size()), &offset, &length, &codec), kH264ParseOk);
  EXPECT_EQ(offset + 4, static_cast<int>(frame.size() - 6 - sps.size()));

  const Bytes onlyDamaged = concat({{0, 0, 0, 1}, damaged});
  offset = 77;
  EXPECT_EQ(get_sps_info_from_frame(onlyDamaged.data(), static_cast<int>(onlyDamaged.size()), &offset, &length, &codec),
            kH264ParseTruncated);
  EXPECT_EQ(offset, 77);
  const Bytes slices = {0, 0, 0, 1, 0x41, 0x9A, 0x00, 0x00, 0x01, 0x41, 0x9B};
  EXPECT_EQ(get_sps_info_from_frame(slices.data(), static_cast<int>(slices.size()), &offset, &length, &codec),
            kH264ParseNotFound);
  EXPECT_EQ(get_sps_info_from_frame(slices.data(), 0, &offset, &length, &codec), kH264ParseNotFound);
  EXPECT_EQ(get_sps_info_from_frame(slices.data(), -1, &offset, &length, &codec), kH264ParseBadArgument);
  EXPECT_EQ(get_sps_info_from_frame(nullptr, 4, &offset, &length, &codec), kH264ParseBadArgument);
  EXPECT_EQ(get_sps_info_from_frame(slices.data(), 4, &offset, nullptr, &codec), kH264ParseBadArgument);
}

TEST(SpsLocator, FindsH265SetBehindTheVideoParameterSet) {
  const Bytes sps = buildH265(H265Fields{});
  const Bytes frame = concat({{0, 0, 0, 1, 0x40, 0x01, 0x0C, 0x01, 0xFF, 0xFF}, {0, 0, 0, 1}, sps, {0, 0, 0, 1, 0x44, 0x01, 0xC1}});
  int offset = 0, length = 0, codec = 0;
  ASSERT_EQ(get_sps_info_from_frame(frame.data(), static_cast<int>(frame.size()), &offset, &length, &codec), kH264ParseOk);
  EXPECT_EQ(codec, kH264ParseCodecH265);
  EXPECT_EQ(offset, 10);
  EXPECT_EQ(length, static_cast<int>(sps.size()));
}

}  // namespace
