#include "tools/devsim/HistoryPlayer.h"

#include <gtest/gtest.h>

namespace {

using devsim::HistoryPlayer;
using devsim::RecordingSpan;

constexpr int64_t kDay = 19849 * 86400LL;  // 2024-05-06, calendar seconds
constexpr int64_t at(int h, int m, int s) { return kDay + h * 3600 + m * 60 + s; }
constexpr int64_t frame(int64_t seconds, int n = 0) { return seconds * 25 + n; }

std::vector<HistoryPlayer::Item> drain(HistoryPlayer& p, size_t limit = 100000) {
  std::vector<HistoryPlayer::Item> out;
  while (out.size() < limit) {
    auto item = p.next();
    if (!item) break;
    out.push_back(*item);
  }
  return out;
}

TEST(HistoryPlayer, PlaysTheRecordedFramesOfTheRangeThenOneEndMarker) {
  // Overlapping spans are merged; the gap between them is skipped.
  HistoryPlayer p({{at(10, 0, 0), at(10, 0, 2), 1}, {at(10, 0, 1), at(10, 0, 3), 2}, {at(10, 0, 5), at(10, 0, 6), 1}},
                  at(10, 0, 1), at(10, 0, 10));
  EXPECT_FALSE(p.next());  // paused until started
  p.start(false);
  const auto items = drain(p);
  ASSERT_EQ(items.size(), 3u * 25 + 1);
  EXPECT_EQ(items.front().frame, frame(at(10, 0, 1)));
  EXPECT_EQ(items[50].frame, frame(at(10, 0, 5)));
  EXPECT_TRUE(items.back().end);
  EXPECT_EQ(items.back().frame, frame(at(10, 0, 10)));
  EXPECT_FALSE(p.next());
  EXPECT_FALSE(p.playing());
  // A new position after the end plays again.
  p.position(at(10, 0, 5));
  p.start(false);
  EXPECT_EQ(drain(p).size(), 26u);
}

TEST(HistoryPlayer, PositionLandsOnAKeyFrameInsideTheRange) {
  HistoryPlayer p({{at(9, 0, 0), at(11, 0, 0), 1}}, at(10, 0, 0), at(10, 5, 0));
  p.start(true);
  p.position(at(9, 30, 0));  // before the range: its start
  EXPECT_EQ(p.next()->frame, frame(at(10, 0, 0)));
  p.position(at(10, 2, 7));
  EXPECT_EQ(p.next()->frame, frame(at(10, 2, 7)));
  p.position(at(12, 0, 0));  // after the range: the end
  EXPECT_TRUE(p.next()->end);
}

TEST(HistoryPlayer, StepsForwardAndBackWhilePaused) {
  HistoryPlayer p({{at(10, 0, 0), at(10, 1, 0), 1}}, at(10, 0, 0), at(10, 1, 0));
  p.start(true);
  p.stepForward();  // pauses
  EXPECT_FALSE(p.playing());
  p.stepForward();
  p.stepForward();
  auto items = drain(p);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[2].frame, frame(at(10, 0, 0), 2));
  p.stepBack();
  items = drain(p);
  ASSERT_EQ(items.size(), 2u);  // the key frame as preroll, then the target
  EXPECT_TRUE(items[0].preroll);
  EXPECT_EQ(items[0].frame, frame(at(10, 0, 0), 0));
  EXPECT_FALSE(items[1].preroll);
  EXPECT_EQ(items[1].frame, frame(at(10, 0, 0), 1));
  p.stepBack();
  items = drain(p);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].frame, frame(at(10, 0, 0), 0));
  p.stepBack();  // nothing before the first recorded frame
  EXPECT_TRUE(drain(p).empty());
  p.stepForward();
  EXPECT_EQ(p.next()->frame, frame(at(10, 0, 0), 1));
}

TEST(HistoryPlayer, RatesChangePacingAndFastSendsKeyFramesOnly) {
  HistoryPlayer p({{at(10, 0, 0), at(11, 0, 0), 1}}, at(10, 0, 0), at(11, 0, 0));
  EXPECT_EQ(p.intervalMicros(), 40000);
  p.slower();
  p.slower();
  p.slower();
  p.slower();  // clamps at 1/8
  EXPECT_EQ(p.intervalMicros(), 320000);
  p.normalRate();
  p.faster();
  EXPECT_EQ(p.intervalMicros(), 20000);
  p.faster();
  p.faster();  // 8x: every other second's key frame
  p.start(false);
  p.stepForward();
  drain(p);  // one frame at 10:00:00.00, then mid-second
  p.start(false);
  const auto items = drain(p, 3);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].frame, frame(at(10, 0, 1)));
  EXPECT_EQ(items[1].frame, frame(at(10, 0, 3)));
  EXPECT_EQ(items[0].frame % 25, 0);
}

TEST(HistoryPlayer, ARangeWithoutRecordingsEndsAtOnce) {
  HistoryPlayer p({}, at(7, 0, 0), at(8, 0, 0));
  p.start(true);
  const auto items = drain(p);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_TRUE(items[0].end);
}

}  // namespace
