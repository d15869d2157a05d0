#include "tools/devsim/LiveSource.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/devlink/DevLinkSdk.h"
#include "tools/devsim/testing/CapturedStream.h"

namespace {

namespace wire = devlink::wire;
using devsim::LiveSource;
using devsim::MediaSource;
using devsim::testing::CapturedMessage;
using devsim::testing::CapturedStream;

// A clock for produce() that moves one picture on with every call, so that
// each call finds exactly one picture due.
class PictureClock {
 public:
  MediaSource::Clock::time_point next() { return start_ + std::chrono::milliseconds(40) * calls_++; }

 private:
  MediaSource::Clock::time_point start_ = MediaSource::Clock::now() + std::chrono::hours(1);
  int calls_ = 0;
};

wire::ControlRequest op(uint16_t code) { return wire::ControlRequest{code, 0, {}}; }

std::vector<CapturedMessage> videoOf(const std::vector<CapturedMessage>& messages) {
  std::vector<CapturedMessage> video;
  for (const auto& m : messages) {
    if (m.header.type == wire::kFrame && m.frame.kind != wire::kAudioFrame) video.push_back(m);
  }
  return video;
}

class LiveSourceTest : public ::testing::Test {
 protected:
  static devsim::DevSimOptions options() {
    devsim::DevSimOptions o;
    o.channels = 2;
    return o;
  }

  devsim::DeviceState device_{options()};
  std::shared_ptr<const devsim::EncodedLoop> loop_ = CapturedStream::loop(2);
  devsim::StreamOutput out_{device_, *loop_, 1, DLSDK_STREAM_THIRD};
  CapturedStream capture_;
  PictureClock clock_;
};

TEST_F(LiveSourceTest, OpenChecksTheTokenChannelAndStreamKind) {
  const auto token = device_.sessions().open("admin", false);
  ASSERT_TRUE(token);
  std::unique_ptr<MediaSource> source;
  EXPECT_EQ(
      LiveSource::open(device_, wire::encode(wire::LiveOpenRequest{{token->sessionId, token->key + 1}, 0, 5}), &source),
      DLSDK_ERR_SESSION);
  EXPECT_EQ(LiveSource::open(device_, wire::encode(wire::LiveOpenRequest{*token, 2, 5}), &source),
            DLSDK_ERR_INVALID_PARAMETER);
  EXPECT_EQ(LiveSource::open(device_, wire::encode(wire::LiveOpenRequest{*token, 0, 3}), &source),
            DLSDK_ERR_INVALID_PARAMETER);
  EXPECT_EQ(LiveSource::open(device_, std::vector<uint8_t>(3), &source), DLSDK_ERR_INVALID_PARAMETER);
  EXPECT_FALSE(source);
  ASSERT_EQ(LiveSource::open(device_, wire::encode(wire::LiveOpenRequest{*token, 1, DLSDK_STREAM_SUB}), &source),
            DLSDK_OK);
  EXPECT_EQ(source->channel(), 1);
  EXPECT_EQ(source->streamType(), DLSDK_STREAM_SUB);
}

TEST_F(LiveSourceTest, SendsTheLoopInOrderWithSoundAndNumberedFrames) {
  LiveSource live(device_, 1, DLSDK_STREAM_THIRD);
  live.start(loop_);
  for (int i = 0; i < 30; ++i) live.produce(clock_.next(), out_);
  const auto messages = capture_.take(out_);
  ASSERT_EQ(messages.size(), 60u);  // each picture followed by its sound
  for (size_t i = 0; i < messages.size(); ++i) {
    const auto& f = messages[i].frame;
    EXPECT_EQ(f.sequence, i);
    EXPECT_EQ(f.channel, 1);
    EXPECT_EQ(f.streamType, DLSDK_STREAM_THIRD);
    if (i % 2 == 1) {
      EXPECT_EQ(f.kind, wire::kAudioFrame);
      EXPECT_EQ(messages[i].payload.size(), 320u);
      continue;
    }
    const int picture = static_cast<int>(i / 2);
    EXPECT_EQ(messages[i].payload, loop_->frames[picture]);
    EXPECT_EQ(f.kind, picture % 25 == 0 ? wire::kKeyFrame : wire::kDeltaFrame) << picture;
    EXPECT_EQ(f.width, picture % 25 == 0 ? 352 : 0);
  }
  EXPECT_EQ(device_.framesSent(), 60u);
  EXPECT_EQ(device_.picturesSent(), 30u);  // the sound frames are not pictures
}

TEST_F(LiveSourceTest, AKeyFrameRequestMakesTheNextPictureAForcedKeyFrame) {
  LiveSource live(device_, 1, DLSDK_STREAM_THIRD);
  live.start(loop_);
  for (int i = 0; i < 7; ++i) live.produce(clock_.next(), out_);
  device_.requestKeyFrame(0);  // another channel: no effect
  live.produce(clock_.next(), out_);
  device_.requestKeyFrame(1);
  live.produce(clock_.next(), out_);
  live.produce(clock_.next(), out_);
  const auto video = videoOf(capture_.take(out_));
  ASSERT_EQ(video.size(), 10u);
  EXPECT_EQ(video[7].payload, loop_->frames[7]);
  // Picture 25 (the loop's next key frame) at once, marked as the answer.
  EXPECT_EQ(video[8].payload, loop_->frames[25]);
  EXPECT_EQ(video[8].frame.kind, wire::kForcedKeyFrame);
  EXPECT_EQ(video[9].payload, loop_->frames[26]);
  EXPECT_EQ(device_.keyFrameRequests(), 2u);
}

TEST_F(LiveSourceTest, PauseAndStartAreTheOnlyControls) {
  LiveSource live(device_, 1, DLSDK_STREAM_THIRD);
  live.start(loop_);
  EXPECT_EQ(live.control(op(wire::kPause)), DLSDK_OK);
  EXPECT_EQ(live.pollTimeout(0), -1);
  live.produce(clock_.next(), out_);
  EXPECT_TRUE(capture_.take(out_).empty());
  EXPECT_EQ(live.control(op(wire::kStart)), DLSDK_OK);
  EXPECT_GE(live.pollTimeout(0), 0);
  live.produce(clock_.next(), out_);
  EXPECT_EQ(videoOf(capture_.take(out_)).size(), 1u);
  for (uint16_t other : {wire::kPosition, wire::kFaster, wire::kStepForward}) {
    EXPECT_EQ(live.control(op(other)), DLSDK_ERR_NOT_AVAILABLE) << other;
  }
}

TEST_F(LiveSourceTest, AClientThatFallsBehindLosesFramesUntilTheNextKeyFrame) {
  // Pictures of 1 MiB that nobody reads: past 2 MiB queued, pictures are
  // dropped; once the queue drains, sending resumes at a key frame.
  const auto big = CapturedStream::loop(2, 1024 * 1024);
  devsim::StreamOutput out(device_, *big, 1, DLSDK_STREAM_THIRD);
  LiveSource live(device_, 1, DLSDK_STREAM_THIRD);
  live.start(big);
  for (int i = 0; i < 10; ++i) live.produce(clock_.next(), out);
  EXPECT_EQ(device_.framesSent(), 4u);    // pictures 0 and 1 with their sound
  EXPECT_EQ(device_.picturesSent(), 2u);  // the dropped pictures were never sent
  std::vector<CapturedMessage> video;
  for (int i = 0; i < 200 && video.size() < 3; ++i) {
    const auto got = videoOf(capture_.take(out));
    video.insert(video.end(), got.begin(), got.end());
    if (out.size() == 0) live.produce(clock_.next(), out);
  }
  ASSERT_EQ(video.size(), 3u);
  EXPECT_EQ(video[1].payload, big->frames[1]);
  EXPECT_EQ(video[2].payload, big->frames[25]);  // the next key frame
  EXPECT_EQ(video[2].frame.kind, wire::kKeyFrame);
}

}  // namespace
