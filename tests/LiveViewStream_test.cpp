// The live stream's picture-size detection and recording hand-off, fed with
// real encoded key frames of the device simulator's test picture (H.264 and
// H.265, several sizes) and with damaged frames.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/devlink/DevLinkSdk.h"
#include "plugin/api/ksplugs.h"
#include "plugin/files/FileCounter.h"
#include "plugin/video/RecordingSink.h"
#include "plugin/video/live/LiveStream.h"
#include "tools/devsim/EncodedLoop.h"

namespace ksplugs {
namespace {

// A frame as the SDK hands it over: a 32-byte header, then the access unit.
std::vector<uint8_t> wireFrame(const std::vector<uint8_t>& payload, uint8_t kind, uint8_t format) {
  std::vector<uint8_t> bytes(32, 0);
  bytes[8] = kind;
  bytes[9] = format;
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  return bytes;
}

DLSDK_MediaFrame frameOf(const std::vector<uint8_t>& bytes, int type) {
  DLSDK_MediaFrame frame{};
  frame.data = bytes.data();
  frame.length = static_cast<int32_t>(bytes.size());
  frame.frameType = type;
  return frame;
}

class CountingSink : public RecordingSink {
 public:
  void onFrame(int32_t streamHandle, const DLSDK_MediaFrame& frame) override {
    ++frames;
    lastHandle = streamHandle;
    if (frame.frameType == DLSDK_FRAME_AUDIO) ++audio;
  }
  std::atomic<int> frames{0};
  std::atomic<int> audio{0};
  std::atomic<int32_t> lastHandle{-1};
};

class LiveViewStream : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { av_log_set_level(AV_LOG_QUIET); }
  static std::shared_ptr<const devsim::EncodedLoop> loop(int width, int height, bool h265) {
    std::string error;
    auto encoded = devsim::EncodedLoop::encode(width, height, 0, h265, 1, &error);
    EXPECT_TRUE(encoded) << error;
    return encoded;
  }
};

TEST_F(LiveViewStream, KeyFramesOfEveryCodecAndSizeGiveTheirPictureSize) {
  for (const auto& [w, h, h265] : std::vector<std::tuple<int, int, bool>>{
           {704, 576, false}, {1280, 720, false}, {352, 288, true}, {1920, 1080, true}}) {
    auto encoded = loop(w, h, h265);
    ASSERT_TRUE(encoded);
    const auto bytes = wireFrame(encoded->frames[0], DLSDK_FRAME_KEY, h265 ? 3 : 2);
    int width = 0, height = 0;
    ASSERT_TRUE(LiveStream::parsePictureSize(bytes.data(), static_cast<int>(bytes.size()), width, height))
        << w << "x" << h;
    EXPECT_EQ(width, w);
    EXPECT_EQ(height, h);
    // A frame between key frames carries no parameter set.
    const auto delta = wireFrame(encoded->frames[1], DLSDK_FRAME_DELTA, 2);
    EXPECT_FALSE(LiveStream::parsePictureSize(delta.data(), static_cast<int>(delta.size()), width, height));
  }
}

TEST_F(LiveViewStream, DamagedFramesLeaveTheSizeAlone) {
  auto encoded = loop(704, 576, false);
  ASSERT_TRUE(encoded);
  const auto whole = wireFrame(encoded->frames[0], DLSDK_FRAME_KEY, 2);
  int width = -1, height = -1;
  // Every cut of the parameter set fails cleanly or still reads the right size.
  for (size_t cut = 0; cut < 64 && cut < whole.size(); ++cut) {
    if (LiveStream::parsePictureSize(whole.data(), static_cast<int>(cut), width, height)) {
      EXPECT_EQ(width, 704);
      EXPECT_EQ(height, 576);
    }
  }
  std::vector<uint8_t> noise(4096, 0);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 131 + 7);
  noise[100] = 0;
  noise[101] = 0;
  noise[102] = 1;
  noise[103] = 0x67;  // a start code and an SPS header followed by garbage
  width = -1;
  LiveStream::parsePictureSize(noise.data(), static_cast<int>(noise.size()), width, height);
  EXPECT_FALSE(LiveStream::parsePictureSize(nullptr, 100, width, height));
  EXPECT_FALSE(LiveStream::parsePictureSize(whole.data(), -5, width, height));
}

TEST_F(LiveViewStream, EveryFrameReachesTheRecordingSinkAndOnlyKeyFramesAreParsed) {
  auto counting = std::make_shared<CountingSink>();
  CountingSink& sink = *counting;
  auto small = loop(704, 576, false);
  auto large = loop(1280, 720, false);
  ASSERT_TRUE(small && large);
  LiveStream stream(nullptr, 0, counting);

  const auto key = wireFrame(small->frames[0], DLSDK_FRAME_KEY, 2);
  const auto delta = wireFrame(small->frames[1], DLSDK_FRAME_DELTA, 2);
  const std::vector<uint8_t> audio = wireFrame(std::vector<uint8_t>(320, 0xFF), DLSDK_FRAME_AUDIO, 10);
  auto keyFrame = frameOf(key, DLSDK_FRAME_KEY);
  auto deltaFrame = frameOf(delta, DLSDK_FRAME_DELTA);
  auto audioFrame = frameOf(audio, DLSDK_FRAME_AUDIO);
  EXPECT_EQ(LiveStream::mediaCallback(42, &keyFrame, &stream), 1);
  EXPECT_EQ(LiveStream::mediaCallback(42, &deltaFrame, &stream), 1);
  EXPECT_EQ(LiveStream::mediaCallback(42, &audioFrame, &stream), 1);
  EXPECT_EQ(stream.pictureWidth(), 704);
  EXPECT_EQ(stream.pictureHeight(), 576);
  EXPECT_EQ(sink.frames.load(), 3);
  EXPECT_EQ(sink.audio.load(), 1);
  EXPECT_EQ(sink.lastHandle.load(), 42);

  // A key frame sent on request and a recorded key frame count as well.
  const auto bigKey = wireFrame(large->frames[0], DLSDK_FRAME_FORCED_KEY, 2);
  auto forced = frameOf(bigKey, DLSDK_FRAME_FORCED_KEY);
  LiveStream::mediaCallback(42, &forced, &stream);
  EXPECT_EQ(stream.pictureWidth(), 1280);
  EXPECT_EQ(stream.pictureHeight(), 720);
  // A key frame whose parameter set cannot be read keeps the size.
  std::vector<uint8_t> broken = key;
  broken.resize(40);
  auto brokenFrame = frameOf(broken, DLSDK_FRAME_KEY);
  LiveStream::mediaCallback(42, &brokenFrame, &stream);
  EXPECT_EQ(stream.pictureWidth(), 1280);
  EXPECT_EQ(sink.frames.load(), 5);
  // The size survives: it is not tied to an open stream.
  EXPECT_FALSE(stream.isOpen());
}

TEST_F(LiveViewStream, TheFileCounterNumbersFilesFromOne) {
  FileCounter counter;
  EXPECT_EQ(counter.next(), 1);
  EXPECT_EQ(counter.next(), 2);
  counter.set(11);
  EXPECT_EQ(counter.next(), 12);
}

TEST_F(LiveViewStream, AClosedStreamAnswersWithoutTouchingTheDevice) {
  LiveStream stream(nullptr, 3);
  EXPECT_EQ(stream.close(), 0);
  EXPECT_EQ(stream.open(1, 0), KS_E_INVALID);
  EXPECT_FALSE(stream.isOpen());
  // Without a known picture size a display region changes nothing.
  const ZoomRegion region{0, 0, 5000, 5000};
  stream.setDisplayRegion(&region);
  EXPECT_EQ(stream.channel(), 3);
}

}  // namespace
}  // namespace ksplugs
