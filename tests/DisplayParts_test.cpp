// The display side's parts without a network: a stream renderer fed
// directly with encoded frames (damaged ones, hostile ones, more than it
// can take), G.711 decoding and picture cropping.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/NullAudioSink.h"
#include "platform/devlink/PictureScaler.h"
#include "platform/devlink/SnapshotWriter.h"
#include "platform/devlink/StreamRenderer.h"
#include "platform/devlink/WireFormat.h"
#include "platform/sys/G711.h"
#include "platform/ui/Window.h"
#include "platform/ui/testing/UiTestSupport.h"
#include "tests/support/Settle.h"
#include "tools/devsim/EncodedLoop.h"

namespace {

using namespace std::chrono_literals;
using devlink::StreamRenderer;
using ui::COLORREF;
using ui::HWND;
using ui::pumpPendingMessages;
using ui::RGB;
using ui::SW_HIDE;
using ui::SW_SHOW;
using ui::WS_POPUP;
using ui::WS_VISIBLE;
namespace wire = devlink::wire;

// One frame as the SDK hands it on: header and payload in one block.
struct FrameBytes {
  std::vector<uint8_t> bytes;
  DLSDK_MediaFrame frame{};
};

FrameBytes makeFrame(const std::vector<uint8_t>& payload, int kind, int format, uint32_t seconds, uint16_t ms) {
  FrameBytes f;
  wire::FrameHeader h;
  h.streamType = DLSDK_STREAM_THIRD;
  h.kind = static_cast<uint8_t>(kind);
  h.format = static_cast<uint8_t>(format);
  h.seconds = seconds;
  h.milliseconds = ms;
  h.payloadLength = static_cast<uint32_t>(payload.size());
  f.bytes.resize(wire::kFrameHeaderSize + payload.size());
  wire::encodeFrameHeader(f.bytes.data(), h);
  if (!payload.empty()) std::memcpy(f.bytes.data() + wire::kFrameHeaderSize, payload.data(), payload.size());
  f.frame.data = f.bytes.data();
  f.frame.length = static_cast<int32_t>(f.bytes.size());
  f.frame.frameType = kind;
  f.frame.formatCode = format;
  f.frame.timeStamp = seconds;
  f.frame.milliseconds = ms;
  return f;
}

class RendererTest : public ui::test::HeadlessTest {
 protected:
  static void SetUpTestSuite() {
    av_log_set_level(AV_LOG_QUIET);
    std::string error;
    loop_ = devsim::EncodedLoop::encode(352, 288, 0, false, 2, &error);
  }
  static void TearDownTestSuite() { loop_.reset(); }

  void SetUp() override {
    HeadlessTest::SetUp();
    ASSERT_TRUE(loop_);
    window_.setClassBackground(RGB(0, 0, 0));
    hwnd_ = window_.create(0, {0, 0, 352, 288}, "video", WS_VISIBLE | WS_POPUP);
    pumpPendingMessages();
    renderer_ = std::make_shared<StreamRenderer>(7, false, sink_);
    renderer_->start();
    ASSERT_EQ(renderer_->setQueueFrames(100), DLSDK_OK);  // draw every frame that is fed
    ASSERT_EQ(renderer_->play(hwnd_), DLSDK_OK);
  }
  void TearDown() override {
    renderer_->shutdown();
    window_.destroyWindow();
    HeadlessTest::TearDown();
  }

  // Loop frame i (wrapping), as it would arrive: a key frame every 25.
  void feed(int i) {
    const int index = i % loop_->size();
    const bool key = devsim::EncodedLoop::isKey(index);
    feedPayload(loop_->frames[index], key ? DLSDK_FRAME_KEY : DLSDK_FRAME_DELTA, i);
  }
  void feedPayload(const std::vector<uint8_t>& payload, int kind, int i) {
    auto f = makeFrame(payload, kind, DLSDK_FORMAT_H264, 1000 + i / 25, static_cast<uint16_t>(i % 25 * 40));
    renderer_->onFrame(f.frame);
  }
  // Waits until everything fed so far went through the decoder.
  bool settle() {
    return kstest::eventually([&] { return renderer_->stats().queueLength == 0 && idle(); });
  }
  bool idle() {
    const uint64_t a = renderer_->stats().framesDecoded;
    std::this_thread::sleep_for(30ms);
    return renderer_->stats().framesDecoded == a;
  }

  static inline std::shared_ptr<const devsim::EncodedLoop> loop_;
  std::shared_ptr<devlink::NullAudioSink> sink_ = std::make_shared<devlink::NullAudioSink>();
  ui::Window window_;
  HWND hwnd_ = 0;
  std::shared_ptr<StreamRenderer> renderer_;
};

TEST_F(RendererTest, DamagedFramesSkipToTheNextKeyFrame) {
  for (int i = 0; i < 10; ++i) feed(i);
  ASSERT_TRUE(kstest::eventually([&] { return renderer_->stats().framesDrawn >= 10; }));

  // A delta frame with its slice data overwritten, then noise that claims
  // to be a key frame, then the rest of the second.
  std::mt19937 random(5);
  std::vector<uint8_t> damaged = loop_->frames[10];
  for (size_t i = 8; i < damaged.size(); ++i) damaged[i] = static_cast<uint8_t>(random());
  feedPayload(damaged, DLSDK_FRAME_DELTA, 10);
  std::vector<uint8_t> noise(3000);
  for (auto& b : noise) b = static_cast<uint8_t>(random());
  noise[0] = 0, noise[1] = 0, noise[2] = 1, noise[3] = 0x65;  // an IDR slice header of sorts
  feedPayload(noise, DLSDK_FRAME_KEY, 11);
  for (int i = 12; i < 25; ++i) feed(i);
  ASSERT_TRUE(settle());
  const auto damagedStats = renderer_->stats();
  EXPECT_GE(damagedStats.decodeErrors, 1u);
  // The frames after the damage that refer to it are not shown.
  EXPECT_LT(damagedStats.framesDrawn, 10u + 14u);

  // The next key frame brings the picture back, every frame of it.
  for (int i = 25; i < 50; ++i) feed(i);
  ASSERT_TRUE(kstest::eventually([&] { return renderer_->stats().framesDrawn >= damagedStats.framesDrawn + 25; }));
}

TEST_F(RendererTest, HostileFramesAreIgnored) {
  DLSDK_MediaFrame f{};
  renderer_->onFrame(f);  // no bytes at all
  uint8_t tiny[8] = {};
  f.data = tiny;
  f.length = 8;
  renderer_->onFrame(f);  // shorter than a header
  f.length = -5;
  renderer_->onFrame(f);
  auto end = makeFrame({}, DLSDK_FRAME_RECORDED_KEY, DLSDK_FORMAT_H264, 1, 0);  // end of data
  renderer_->onFrame(end.frame);
  auto odd = makeFrame(loop_->frames[0], DLSDK_FRAME_KEY, 77, 1, 0);  // unknown format
  renderer_->onFrame(odd.frame);
  auto oddAudio = makeFrame(std::vector<uint8_t>(320, 0xFF), DLSDK_FRAME_AUDIO, DLSDK_FORMAT_H264, 1, 0);
  renderer_->onFrame(oddAudio.frame);
  EXPECT_EQ(renderer_->stats().framesQueued, 0u);
  // A key frame claiming an absurd size is only a hint; the picture decides.
  auto big = makeFrame(loop_->frames[0], DLSDK_FRAME_KEY, DLSDK_FORMAT_H264, 1, 0);
  big.frame.width = 65535;
  big.frame.height = 65535;
  renderer_->onFrame(big.frame);
  feed(1);  // a decoder with more threads gives its first picture back with the next frame
  ASSERT_TRUE(kstest::eventually([&] { return renderer_->stats().framesDrawn >= 1; }));
  EXPECT_EQ(renderer_->stats().width, 352);
  // Delta frames before any key frame cannot be decoded and are not shown.
  renderer_->shutdown();
  auto fresh = std::make_shared<StreamRenderer>(8, false, sink_);
  fresh->start();
  fresh->play(hwnd_);
  auto delta = makeFrame(loop_->frames[3], DLSDK_FRAME_DELTA, DLSDK_FORMAT_H264, 1, 0);
  fresh->onFrame(delta.frame);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(fresh->stats().framesDecoded, 0u);
  fresh->shutdown();
}

// Holds the drawing thread inside the draw hook until released.
struct Gate {
  std::atomic<bool> entered{false};
  std::atomic<bool> open{false};
  static void hook(int32_t, void*, void* context) {
    auto* g = static_cast<Gate*>(context);
    g->entered = true;
    while (!g->open) std::this_thread::sleep_for(1ms);
  }
};

// A device that declares a picture wider than any camera's gets no decoder
// for it (its buffers would follow the declared size); the stream's next
// key frame of a sane size plays again.
TEST_F(RendererTest, APictureWiderThanAnyCameraIsRefused) {
  std::string error;
  const auto wide = devsim::EncodedLoop::encode(8208, 16, 0, false, 1, &error);
  ASSERT_TRUE(wide) << error;
  for (int i = 0; i < 5; ++i) feedPayload(wide->frames[i], i == 0 ? DLSDK_FRAME_KEY : DLSDK_FRAME_DELTA, i);
  ASSERT_TRUE(settle());
  EXPECT_EQ(renderer_->stats().framesDrawn, 0u);
  EXPECT_GE(renderer_->stats().decodeErrors, 1u);
  for (int i = 25; i < 35; ++i) feed(i);
  ASSERT_TRUE(kstest::eventually([&] { return renderer_->stats().framesDrawn >= 10; }));
}

TEST_F(RendererTest, AStalledWindowDropsOldWorkAndRecoversAtAKeyFrame) {
  Gate gate;
  renderer_->setDrawHook(&Gate::hook, &gate);
  feed(0);
  ASSERT_TRUE(kstest::eventually([&] { return gate.entered.load(); }));
  // The drawing thread is stuck; ten seconds of video arrive meanwhile.
  for (int i = 1; i < 250; ++i) feed(i);
  const auto stalled = renderer_->stats();
  EXPECT_EQ(stalled.framesQueued, 250u);
  // The queue never held more than its bound; whole key-frame periods went.
  EXPECT_GE(stalled.framesDropped, 250u - 1 - StreamRenderer::kMaxQueuedFrames);
  gate.open = true;
  renderer_->setDrawHook(nullptr, nullptr);
  ASSERT_TRUE(settle());
  const auto after = renderer_->stats();
  EXPECT_EQ(after.decodeErrors, 0u);  // decoding went on from key frames only
  for (int i = 250; i < 275; ++i) feed(i);
  EXPECT_TRUE(kstest::eventually([&] { return renderer_->stats().framesDrawn >= after.framesDrawn + 25; }));
}

TEST_F(RendererTest, AudioReachesTheSinkOnlyWhileSoundIsOn) {
  std::vector<uint8_t> tone(320);
  for (size_t i = 0; i < tone.size(); ++i)
    tone[i] = g711::encodeMuLawStandard(static_cast<int16_t>(i % 2 ? 8000 : -8000));
  auto audio = makeFrame(tone, DLSDK_FRAME_AUDIO, DLSDK_FORMAT_G711U, 1, 0);
  renderer_->onFrame(audio.frame);
  EXPECT_EQ(sink_->samples(), 0u);
  ASSERT_EQ(renderer_->playSound(), DLSDK_OK);
  renderer_->onFrame(audio.frame);
  EXPECT_EQ(sink_->samples(), 320u);
  EXPECT_NEAR(sink_->takePeak(), 8000, 300);
  ASSERT_EQ(renderer_->setVolume(0x8000), DLSDK_OK);
  renderer_->onFrame(audio.frame);
  EXPECT_NEAR(sink_->takePeak(), 4000, 200);
  renderer_->pause(true);  // a paused stream is silent
  renderer_->onFrame(audio.frame);
  EXPECT_EQ(sink_->samples(), 640u);
  renderer_->pause(false);
  ASSERT_EQ(renderer_->stopSound(), DLSDK_OK);
  renderer_->onFrame(audio.frame);
  EXPECT_EQ(sink_->samples(), 640u);
  EXPECT_EQ(sink_->starts(), 1);
}

TEST(G711DecoderTest, DecodesWhatTheEncoderMadeWithinItsStep) {
  for (int v = -32768; v <= 32767; v += 37) {
    const auto sample = static_cast<int16_t>(v);
    const int tolerance = std::max(16, std::abs(v) / 14);
    EXPECT_NEAR(g711::decodeMuLaw(g711::encodeMuLawStandard(sample)), v, tolerance) << v;
    EXPECT_NEAR(g711::decodeALaw(g711::encodeALaw(sample)), v, tolerance) << v;
  }
}

TEST(PictureScalerTest, CropsStayInsideThePictureAndOnTheChromaGrid) {
  AVFrame* picture = av_frame_alloc();
  picture->format = AV_PIX_FMT_YUV420P;
  picture->width = 352;
  picture->height = 288;
  ASSERT_EQ(av_frame_get_buffer(picture, 0), 0);
  using Crop = devlink::PictureScaler::Crop;
  const auto same = [](Crop a, Crop b) {
    return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height;
  };
  EXPECT_TRUE(same(devlink::PictureScaler::clampCrop(picture, {}), Crop{0, 0, 352, 288}));
  EXPECT_TRUE(same(devlink::PictureScaler::clampCrop(picture, {3, 5, 100, 100}), Crop{2, 4, 101, 101}));
  EXPECT_TRUE(same(devlink::PictureScaler::clampCrop(picture, {300, 200, 500, 500}), Crop{300, 200, 52, 88}));
  EXPECT_TRUE(same(devlink::PictureScaler::clampCrop(picture, {400, 0, 10, 10}), Crop{0, 0, 352, 288}));
  EXPECT_TRUE(
      same(devlink::PictureScaler::clampCrop(picture, {INT_MAX, INT_MAX, INT_MAX, INT_MAX}), Crop{0, 0, 352, 288}));
  EXPECT_TRUE(same(devlink::PictureScaler::clampCrop(picture, {INT_MIN, INT_MIN, 64, 64}), Crop{0, 0, 64, 64}));

  // Left half white, right half black: the left half's crop is all white.
  for (int y = 0; y < 288; ++y) {
    for (int x = 0; x < 352; ++x) picture->data[0][y * picture->linesize[0] + x] = x < 176 ? 235 : 16;
  }
  for (int p = 1; p < 3; ++p) {
    for (int y = 0; y < 144; ++y) std::memset(picture->data[p] + y * picture->linesize[p], 128, 176);
  }
  std::vector<uint32_t> out(100 * 80);
  devlink::PictureScaler scaler;
  ASSERT_TRUE(scaler.scale(picture, {0, 0, 176, 288}, reinterpret_cast<uint8_t*>(out.data()), 100, 80, 400));
  for (uint32_t px : out) ASSERT_GE(px & 0xFF, 240u);
  ASSERT_TRUE(scaler.scale(picture, {176, 0, 176, 288}, reinterpret_cast<uint8_t*>(out.data()), 100, 80, 400));
  for (uint32_t px : out) ASSERT_LE(px & 0xFF, 15u);
  EXPECT_FALSE(scaler.scale(picture, {}, reinterpret_cast<uint8_t*>(out.data()), 100, 80, 100));  // stride too small
  av_frame_free(&picture);
}

// Four quadrants of known colours in a picture of `format`: every target
// size (shrinking into cells of odd and even sizes, the same size,
// enlarging, wider and shorter at once) and row stride (tight, or padded
// as window images are) gets every pixel written and the quadrants in the
// right places, and nothing is written below the last row.
TEST(PictureScalerTest, EveryWayOfScalingKeepsTheQuadrantsAndStaysInsideTheTarget) {
  struct Quadrant {
    uint8_t y, u, v;
    uint32_t rgb;  // roughly, as BT.601 limited range gives it
  };
  const Quadrant quadrants[4] = {
      {235, 128, 128, 0xFFFFFF},  // white
      {16, 128, 128, 0x000000},   // black
      {81, 90, 240, 0xFF0000},    // red
      {145, 54, 34, 0x00FF00},    // green
  };
  struct Case {
    AVPixelFormat format;
    int width, height;  // target
  };
  const Case cases[] = {
      {AV_PIX_FMT_YUV420P, 320, 180}, {AV_PIX_FMT_YUV420P, 319, 179},   {AV_PIX_FMT_YUV420P, 64, 36},
      {AV_PIX_FMT_YUV420P, 704, 576}, {AV_PIX_FMT_YUV420P, 1280, 1000}, {AV_PIX_FMT_YUVJ420P, 235, 131},
      {AV_PIX_FMT_YUV422P, 320, 180}, {AV_PIX_FMT_YUV444P, 161, 91},    {AV_PIX_FMT_NV12, 320, 180},
      {AV_PIX_FMT_YUV420P, 1000, 300}, {AV_PIX_FMT_YUV422P, 900, 701},  {AV_PIX_FMT_YUV444P, 1409, 1153},
  };
  const auto near = [](uint32_t got, uint32_t want) {
    for (int shift = 0; shift < 24; shift += 8) {
      if (std::abs(static_cast<int>((got >> shift) & 0xFF) - static_cast<int>((want >> shift) & 0xFF)) > 24)
        return false;
    }
    return true;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << av_get_pix_fmt_name(c.format) << " to " << c.width << " x " << c.height);
    AVFrame* picture = av_frame_alloc();
    picture->format = c.format;
    picture->width = 704;
    picture->height = 576;
    ASSERT_EQ(av_frame_get_buffer(picture, 0), 0);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(c.format);
    for (int y = 0; y < 576; ++y) {
      for (int x = 0; x < 704; ++x) {
        const Quadrant& q = quadrants[(y < 288 ? 0 : 2) + (x < 352 ? 0 : 1)];
        picture->data[0][y * picture->linesize[0] + x] = q.y;
        const int cx = x >> desc->log2_chroma_w;
        const int cy = y >> desc->log2_chroma_h;
        if (c.format == AV_PIX_FMT_NV12) {
          picture->data[1][cy * picture->linesize[1] + 2 * cx] = q.u;
          picture->data[1][cy * picture->linesize[1] + 2 * cx + 1] = q.v;
        } else {
          picture->data[1][cy * picture->linesize[1] + cx] = q.u;
          picture->data[2][cy * picture->linesize[2] + cx] = q.v;
        }
      }
    }
    for (const int strideWords : {c.width, (c.width + 15) & ~15}) {
      SCOPED_TRACE(testing::Message() << "stride " << strideWords << " pixels");
      // Every pixel holds a guard beforehand, as do the rows below the target.
      constexpr uint32_t kGuard = 0xA5A5A5A5;
      std::vector<uint32_t> out(static_cast<size_t>(strideWords) * (c.height + 2), kGuard);
      devlink::PictureScaler scaler;
      // Twice: the cached contexts serve the second call as well as the first.
      for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(
            scaler.scale(picture, {}, reinterpret_cast<uint8_t*>(out.data()), c.width, c.height, strideWords * 4));
      }
      for (int y = 0; y < c.height + 2; ++y) {
        for (int x = 0; x < strideWords; ++x) {
          const uint32_t px = out[static_cast<size_t>(y) * strideWords + x];
          if (y >= c.height) {
            ASSERT_EQ(px, kGuard) << "written below the target at " << x << "," << y;
          }
          if (y < c.height && x < c.width) {
            ASSERT_NE(px, kGuard) << "not written at " << x << "," << y;
          }
        }
      }
      // The middle of each quadrant (well away from the edges the filters blend).
      for (int q = 0; q < 4; ++q) {
        const int x = (q % 2 == 0 ? c.width / 4 : 3 * c.width / 4);
        const int y = (q < 2 ? c.height / 4 : 3 * c.height / 4);
        const uint32_t px = out[static_cast<size_t>(y) * strideWords + x] & 0xFFFFFF;
        EXPECT_TRUE(near(px, quadrants[q].rgb)) << "quadrant " << q << " shows " << std::hex << px;
      }
    }
    av_frame_free(&picture);
  }
}

TEST(SnapshotWriterTest, NameChoosesTheFormat) {
  using F = devlink::SnapshotWriter::Format;
  EXPECT_EQ(devlink::SnapshotWriter::formatFor("/a/b.BMP"), F::kBmp);
  EXPECT_EQ(devlink::SnapshotWriter::formatFor("/a/b.jpeg"), F::kJpeg);
  EXPECT_EQ(devlink::SnapshotWriter::formatFor("/a/bmp"), F::kJpeg);
  EXPECT_EQ(devlink::SnapshotWriter::write(nullptr, "/tmp/x.bmp"), DLSDK_ERR_NO_PICTURE);
}

// A picture file decoded to packed RGB (R, G, B per pixel), or empty.
std::vector<uint8_t> decodeToRgb(const std::string& path, AVCodecID id, int width, int height) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const AVCodec* codec = avcodec_find_decoder(id);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  std::vector<uint8_t> rgb;
  if (avcodec_open2(ctx, codec, nullptr) == 0 && av_new_packet(packet, static_cast<int>(bytes.size())) == 0) {
    std::copy(bytes.begin(), bytes.end(), packet->data);
    if (avcodec_send_packet(ctx, packet) == 0 && avcodec_receive_frame(ctx, frame) == 0 && frame->width == width &&
        frame->height == height) {
      rgb.resize(static_cast<size_t>(width) * height * 3);
      SwsContext* sws = sws_getContext(width, height, static_cast<AVPixelFormat>(frame->format), width, height,
                                       AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr, nullptr);
      uint8_t* planes[1] = {rgb.data()};
      const int strides[1] = {width * 3};
      sws_scale(sws, frame->data, frame->linesize, 0, height, planes, strides);
      sws_freeContext(sws);
    }
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&ctx);
  return rgb;
}

// A snapshot is the decoded picture itself: a BMP holds exactly its colours
// (the picture converted once to RGB), a JPEG stays within 30 dB PSNR of
// them, and both agree with the picture's colours worked out by the BT.601
// formula.
TEST(SnapshotWriterTest, FilesHoldTheDecodedPicture) {
  constexpr int kW = 160;
  constexpr int kH = 96;
  AVFrame* picture = av_frame_alloc();
  picture->format = AV_PIX_FMT_YUV420P;
  picture->width = kW;
  picture->height = kH;
  ASSERT_EQ(av_frame_get_buffer(picture, 0), 0);
  // Texture and edges (so a poor JPEG shows), and flat colour blocks.
  std::mt19937 random(7);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      picture->data[0][y * picture->linesize[0] + x] =
          static_cast<uint8_t>(x < kW / 2 ? 16 + (x * 3 + y * 2) % 220 : 40 + random() % 180);
  for (int y = 0; y < kH / 2; ++y)
    for (int x = 0; x < kW / 2; ++x) {
      picture->data[1][y * picture->linesize[1] + x] = static_cast<uint8_t>(x < kW / 4 ? 90 : 200);
      picture->data[2][y * picture->linesize[2] + x] = static_cast<uint8_t>(y < kH / 4 ? 60 : 170);
    }
  // The picture in RGB, converted the one way a snapshot converts it.
  std::vector<uint8_t> expected(kW * kH * 3);
  {
    SwsContext* sws =
        sws_getContext(kW, kH, AV_PIX_FMT_YUV420P, kW, kH, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    std::vector<uint8_t> bgr(expected.size());
    uint8_t* planes[1] = {bgr.data()};
    const int strides[1] = {kW * 3};
    sws_scale(sws, picture->data, picture->linesize, 0, kH, planes, strides);
    sws_freeContext(sws);
    for (size_t i = 0; i < bgr.size(); i += 3) {
      expected[i] = bgr[i + 2];
      expected[i + 1] = bgr[i + 1];
      expected[i + 2] = bgr[i];
    }
  }
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("kestrova-shot-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string bmp = (folder / "shot.bmp").string();
  const std::string jpg = (folder / "shot.jpg").string();
  ASSERT_EQ(devlink::SnapshotWriter::write(picture, bmp), DLSDK_OK);
  ASSERT_EQ(devlink::SnapshotWriter::write(picture, jpg), DLSDK_OK);
  const std::vector<uint8_t> fromBmp = decodeToRgb(bmp, AV_CODEC_ID_BMP, kW, kH);
  const std::vector<uint8_t> fromJpg = decodeToRgb(jpg, AV_CODEC_ID_MJPEG, kW, kH);
  std::filesystem::remove_all(folder);
  ASSERT_EQ(fromBmp.size(), expected.size());
  ASSERT_EQ(fromJpg.size(), expected.size());
  EXPECT_TRUE(fromBmp == expected) << "the BMP differs from the picture";
  double squared = 0;
  for (size_t i = 0; i < expected.size(); ++i) squared += std::pow(double(fromJpg[i]) - expected[i], 2);
  const double psnr = 10 * std::log10(255.0 * 255.0 / (squared / expected.size()));
  EXPECT_GE(psnr, 30.0);
  // The BMP's colours by the BT.601 studio-range formula, in the flat part
  // of the picture (bicubic chroma is exact there), within rounding.
  // Chroma is flat (U 90, V 60) in the top-left quarter.
  for (int y = 4; y < kH / 2 - 4; y += 5)
    for (int x = 4; x < kW / 2 - 4; x += 5) {
      const double Y = picture->data[0][y * picture->linesize[0] + x] - 16.0;
      const double U = 90 - 128.0;
      const double V = 60 - 128.0;
      const double rgb[3] = {1.164 * Y + 1.596 * V, 1.164 * Y - 0.392 * U - 0.813 * V, 1.164 * Y + 2.017 * U};
      for (int c = 0; c < 3; ++c) {
        const double want = std::clamp(rgb[c], 0.0, 255.0);
        ASSERT_NEAR(fromBmp[(y * kW + x) * 3 + c], want, 3.0) << "pixel " << x << "," << y << " channel " << c;
      }
    }
  av_frame_free(&picture);
}

}  // namespace
