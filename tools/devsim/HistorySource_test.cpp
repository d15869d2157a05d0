#include "tools/devsim/HistorySource.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/devlink/DevLinkSdk.h"
#include "tools/devsim/testing/CapturedStream.h"

namespace {

namespace wire = devlink::wire;
using devsim::HistorySource;
using devsim::MediaSource;
using devsim::testing::CapturedMessage;
using devsim::testing::CapturedStream;

constexpr int64_t kDay = 19849 * 86400LL;  // 2024-05-06, calendar seconds
constexpr int64_t at(int h, int m, int s) { return kDay + h * 3600 + m * 60 + s; }

MediaSource::Clock::time_point later() { return MediaSource::Clock::now() + std::chrono::hours(1); }

wire::ControlRequest op(uint16_t code, uint16_t arg = 0, int64_t seconds = 0) {
  return wire::ControlRequest{code, arg, wire::timeFromCalendarSeconds(seconds ? seconds : kDay)};
}

int count(const std::vector<CapturedMessage>& messages, uint8_t kind) {
  int n = 0;
  for (const auto& m : messages) n += m.frame.kind == kind;
  return n;
}

class HistorySourceTest : public ::testing::Test {
 protected:
  devsim::DeviceState device_{devsim::DevSimOptions{}};
  std::shared_ptr<const devsim::EncodedLoop> loop_ = CapturedStream::loop(2);
  devsim::StreamOutput out_{device_, *loop_, 0, DLSDK_STREAM_SUB};
  CapturedStream capture_;
  // Two recorded seconds, then a second without recordings, in the range.
  HistorySource history_{0, DLSDK_STREAM_SUB, {{at(10, 0, 0), at(10, 0, 2), 1}}, at(10, 0, 0), at(10, 0, 3)};
};

TEST_F(HistorySourceTest, OpenChecksRightsAndRange) {
  const auto admin = device_.sessions().open("admin", false);
  const auto viewer = device_.sessions().open("viewer", true);
  ASSERT_TRUE(admin && viewer);
  const auto request = [](wire::SessionToken token, int64_t from, int64_t to, uint32_t mask = 63, uint8_t sub = 1) {
    wire::HistoryOpenRequest r;
    r.token = token;
    r.channel = 0;
    r.subStream = sub;
    r.typeMask = mask;
    r.begin = wire::timeFromCalendarSeconds(from);
    r.end = wire::timeFromCalendarSeconds(to);
    return wire::encode(r);
  };
  std::unique_ptr<MediaSource> source;
  EXPECT_EQ(HistorySource::open(device_, request(*viewer, at(10, 0, 0), at(11, 0, 0)), &source),
            DLSDK_ERR_NO_PERMISSION);
  EXPECT_EQ(HistorySource::open(device_, request(*admin, at(10, 0, 0), at(10, 0, 0) + 31 * 86400), &source),
            DLSDK_ERR_INVALID_PARAMETER);
  EXPECT_EQ(HistorySource::open(device_, request(*admin, at(10, 0, 1), at(10, 0, 0)), &source),
            DLSDK_ERR_INVALID_PARAMETER);
  EXPECT_EQ(HistorySource::open(device_, request(*admin, at(10, 0, 0), at(11, 0, 0), 0), &source),
            DLSDK_ERR_INVALID_PARAMETER);
  EXPECT_FALSE(source);
  // The end second is part of the range, so from == to is one second.
  ASSERT_EQ(HistorySource::open(device_, request(*admin, at(10, 0, 0), at(10, 0, 0)), &source), DLSDK_OK);
  EXPECT_EQ(source->streamType(), DLSDK_STREAM_SUB);
  ASSERT_EQ(HistorySource::open(device_, request(*admin, at(10, 0, 0), at(10, 0, 0), 63, 0), &source), DLSDK_OK);
  EXPECT_EQ(source->streamType(), DLSDK_STREAM_MAIN);
}

TEST_F(HistorySourceTest, UnpacedPlayFillsTheQueueWithTheRangeThenEndsIt) {
  history_.start(loop_);
  EXPECT_EQ(history_.pollTimeout(0), -1);  // paused until started
  ASSERT_EQ(history_.control(op(wire::kStart, 1)), DLSDK_OK);
  EXPECT_EQ(history_.pollTimeout(0), 0);
  history_.produce(later(), out_);
  const auto messages = capture_.take(out_);
  // 50 pictures, each with its sound, then the end-of-data frame.
  ASSERT_EQ(messages.size(), 101u);
  for (int i = 0; i < 50; ++i) {
    const auto& video = messages[2 * i];
    EXPECT_EQ(video.frame.kind, i % 25 == 0 ? wire::kRecordedKeyFrame : wire::kDeltaFrame) << i;
    EXPECT_EQ(video.frame.seconds, static_cast<uint32_t>(at(10, 0, i / 25)));
    EXPECT_EQ(video.frame.milliseconds, (i % 25) * 40);
    EXPECT_EQ(messages[2 * i + 1].frame.kind, wire::kAudioFrame);
  }
  const auto& end = messages.back().frame;
  EXPECT_TRUE(wire::isEndOfData(end));
  EXPECT_EQ(end.seconds, static_cast<uint32_t>(at(10, 0, 3)));
  EXPECT_EQ(end.sequence, 100u);
  EXPECT_EQ(history_.pollTimeout(0), -1);  // played out
}

TEST_F(HistorySourceTest, UnpacedPlayStopsAheadOfASlowClient) {
  const auto big = CapturedStream::loop(2, 100 * 1024);
  devsim::StreamOutput out(device_, *big, 0, DLSDK_STREAM_SUB);
  history_.start(big);
  history_.control(op(wire::kStart, 1));
  history_.produce(later(), out);
  EXPECT_GE(out.size(), HistorySource::kAhead);
  EXPECT_LT(out.size(), HistorySource::kAhead + 101 * 1024);
  EXPECT_EQ(history_.pollTimeout(out.size()), -1);
}

TEST_F(HistorySourceTest, FastPlaySendsKeyFramesWithoutSound) {
  history_.start(loop_);
  for (int i = 0; i < 2; ++i) ASSERT_EQ(history_.control(op(wire::kFaster)), DLSDK_OK);
  history_.control(op(wire::kStart, 1));
  history_.produce(later(), out_);
  const auto messages = capture_.take(out_);
  EXPECT_EQ(count(messages, wire::kAudioFrame), 0);
  EXPECT_EQ(count(messages, wire::kDeltaFrame), 0);
  EXPECT_EQ(count(messages, wire::kRecordedKeyFrame), 2 + 1);  // two seconds and the end
}

TEST_F(HistorySourceTest, StepsGoOutWhilePausedAndAStepBackPrerollsFromTheKeyFrame) {
  history_.start(loop_);
  ASSERT_EQ(history_.control(op(wire::kPosition, 0, at(10, 0, 1))), DLSDK_OK);
  for (int i = 0; i < 3; ++i) history_.control(op(wire::kStepForward));
  history_.produce(later(), out_);
  auto messages = capture_.take(out_);
  ASSERT_EQ(messages.size(), 6u);  // three pictures, each with its sound
  EXPECT_EQ(messages[0].frame.kind, wire::kRecordedKeyFrame);
  EXPECT_EQ(messages[0].frame.seconds, static_cast<uint32_t>(at(10, 0, 1)));
  EXPECT_EQ(messages[4].frame.milliseconds, 80);

  history_.control(op(wire::kStepBack));
  history_.produce(later(), out_);
  messages = capture_.take(out_);
  // Back to picture 1 of the second: its key frame decoded but not shown
  // (and not heard), then the picture with its sound.
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0].frame.flags, wire::kPreroll);
  EXPECT_EQ(messages[0].frame.kind, wire::kRecordedKeyFrame);
  EXPECT_EQ(messages[1].frame.flags, 0);
  EXPECT_EQ(messages[1].frame.milliseconds, 40);
  EXPECT_EQ(messages[2].frame.kind, wire::kAudioFrame);
  EXPECT_EQ(history_.control(op(99)), DLSDK_ERR_NOT_SUPPORTED);
}

TEST_F(HistorySourceTest, PacedPlayWaitsForEachFrame) {
  history_.start(loop_);
  history_.control(op(wire::kStart, 0));
  const int timeout = history_.pollTimeout(0);
  EXPECT_GE(timeout, 0);
  EXPECT_LE(timeout, 1000);
  history_.produce(MediaSource::Clock::now() - std::chrono::seconds(1), out_);
  EXPECT_TRUE(capture_.take(out_).empty());  // not due yet
  history_.produce(later(), out_);
  EXPECT_EQ(capture_.take(out_).size(), 2u);  // one picture and its sound
}

}  // namespace
