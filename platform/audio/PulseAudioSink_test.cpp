// The sink against a private PulseAudio daemon: what it plays is read back
// from the null sink's monitor; its latency, its one server stream per
// playing sink, and a server that vanishes mid-play.
#include "platform/audio/PulseAudioSink.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <thread>
#include <vector>

#include "platform/audio/PulseContext.h"
#include "platform/audio/testing/PulseDaemon.h"
#include "platform/audio/testing/PulseRecorder.h"
#include "platform/audio/testing/ToneMeter.h"

namespace {

using namespace std::chrono_literals;
using audio::PulseAudioSink;
using audio::PulseContext;
using audio::testing::PulseDaemon;
using audio::testing::PulseRecorder;
using Clock = std::chrono::steady_clock;

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
  const auto end = Clock::now() + limit;
  while (!condition()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

std::vector<int16_t> sine(double frequency, int rate, size_t count, size_t offset, int amplitude = 8000) {
  std::vector<int16_t> out(count);
  for (size_t i = 0; i < count; ++i) {
    out[i] = static_cast<int16_t>(amplitude * std::sin(2 * M_PI * frequency * double(offset + i) / rate));
  }
  return out;
}

class PulseAudioSinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon_ = std::make_unique<PulseDaemon>();
    ASSERT_TRUE(daemon_->ok()) << daemon_->why();
    std::string why;
    context_ = PulseContext::connect(2s, &why);
    ASSERT_TRUE(context_) << why;
  }
  void TearDown() override {
    context_.reset();
    daemon_.reset();
  }

  std::unique_ptr<PulseDaemon> daemon_;
  std::shared_ptr<PulseContext> context_;
};

// A stream's sound arrives as a device would send it: 20 ms of PCM every
// 20 ms. Silence first, until the server has played a second of it: a null
// sink that was idle sleeps through its two-second block before it takes
// sound at the pace of the new stream, which is the null sink's start-up and
// not the playback latency. From the moment the tone is written to its
// arrival in the monitor recording is an upper bound of the latency (it
// includes the recorder's own 10 ms blocks).
TEST_F(PulseAudioSinkTest, PlaysTheToneItIsGivenWithinTheLatencyTarget) {
  PulseRecorder recorder("spk.monitor");
  ASSERT_TRUE(recorder.ok()) << recorder.why();
  PulseAudioSink sink(context_, "spk");
  sink.start(8000);
  ASSERT_TRUE(waitUntil([&] { return sink.streaming(); }));

  constexpr size_t kChunk = 160;
  const std::vector<int16_t> silence(kChunk, 0);
  auto due = Clock::now();
  const auto leadInLimit = due + 6s;
  uint64_t steadyFrom = 0;
  for (;;) {
    sink.write(silence.data(), silence.size());
    due += 20ms;
    std::this_thread::sleep_until(due);  // the pace of a live stream
    // Steady: the server took the last 20 chunks as they came.
    if (steadyFrom == 0 && sink.samplesPlayed() > 0) steadyFrom = sink.samplesPlayed();
    if (steadyFrom != 0 && sink.samplesPlayed() >= steadyFrom + 8000) break;
    ASSERT_LT(Clock::now(), leadInLimit) << "the server never took sound at the stream's pace";
  }
  const uint64_t playedBeforeTone = sink.samplesPlayed();
  const Clock::time_point toneWritten = Clock::now();
  for (size_t chunk = 0; chunk < 100; ++chunk) {  // 2 s
    const std::vector<int16_t> pcm = sine(1000, 8000, kChunk, chunk * kChunk);
    sink.write(pcm.data(), pcm.size());
    due += 20ms;
    std::this_thread::sleep_until(due);
  }
  ASSERT_TRUE(waitUntil([&] { return recorder.firstLoudBlock(2000, toneWritten) != Clock::time_point{}; }));
  const auto heard = recorder.firstLoudBlock(2000, toneWritten);
  const auto latency = std::chrono::duration_cast<std::chrono::milliseconds>(heard - toneWritten);
  std::printf("playback latency (upper bound): %lld ms\n", static_cast<long long>(latency.count()));
  EXPECT_LT(latency, 200ms);

  const std::vector<int16_t> recorded = recorder.samples();
  const size_t start = audio::testing::loudestWindow(recorded, 4000);
  const std::span<const int16_t> window(recorded.data() + start, 4000);
  EXPECT_NEAR(audio::testing::dominantFrequency(window, 8000), 1000, 10);
  EXPECT_GT(audio::testing::rms(window), 8000 / std::sqrt(2.0) * 0.7);
  // Steady play drops (nearly) nothing: 2 s given, 2 s less the buffered part taken.
  EXPECT_GE(sink.samplesPlayed() - playedBeforeTone, 100u * kChunk - 2000u);
  sink.stop();
  EXPECT_FALSE(sink.streaming());
}

// Each playing sink is one stream of the server; a stopped one is none,
// and a sink can start again.
TEST_F(PulseAudioSinkTest, EveryPlayingSinkIsOneServerStream) {
  PulseAudioSink first(context_);
  PulseAudioSink second(context_);
  EXPECT_EQ(daemon_->count("sink-inputs"), 0);
  first.start(8000);
  second.start(16000);
  ASSERT_TRUE(waitUntil([&] { return first.streaming() && second.streaming(); }));
  EXPECT_EQ(daemon_->count("sink-inputs"), 2);
  first.stop();
  EXPECT_TRUE(waitUntil([&] { return daemon_->count("sink-inputs") == 1; }));
  first.start(8000);
  EXPECT_TRUE(waitUntil([&] { return daemon_->count("sink-inputs") == 2; }));
  first.stop();
  second.stop();
  second.stop();
  EXPECT_TRUE(waitUntil([&] { return daemon_->count("sink-inputs") == 0; }));
}

// Ten seconds handed over at once: the server takes what fits in its
// buffer, the rest is dropped and write() does not wait for playback.
TEST_F(PulseAudioSinkTest, WriteDropsWhatTheServerHasNoRoomFor) {
  PulseAudioSink sink(context_, "spk");
  sink.start(8000);
  ASSERT_TRUE(waitUntil([&] { return sink.streaming(); }));
  const std::vector<int16_t> pcm = sine(440, 8000, 80000, 0);
  const auto before = Clock::now();
  sink.write(pcm.data(), pcm.size());
  EXPECT_LT(Clock::now() - before, 100ms);
  EXPECT_GT(sink.samplesDropped(), 70000u);
  // At most kMaxPending (480 samples at 8 kHz) waits for the server.
  EXPECT_LE(sink.samplesPlayed() + sink.samplesDropped(), 80000u);
  EXPECT_GE(sink.samplesPlayed() + sink.samplesDropped(), 80000u - 480u);
}

// Sound before start(), after stop() and before the server took the stream
// is dropped, not queued.
TEST_F(PulseAudioSinkTest, SoundOutsideStartAndStopIsDropped) {
  PulseAudioSink sink(context_);
  const std::vector<int16_t> pcm(160, 100);
  sink.write(pcm.data(), pcm.size());
  EXPECT_EQ(sink.samplesDropped(), 160u);
  sink.start(8000);
  ASSERT_TRUE(waitUntil([&] { return sink.streaming(); }));
  sink.write(pcm.data(), pcm.size());
  EXPECT_EQ(sink.samplesPlayed(), 160u);
  sink.stop();
  sink.write(pcm.data(), pcm.size());
  EXPECT_EQ(sink.samplesDropped(), 320u);
  sink.start(0);  // no such rate: nothing plays
  EXPECT_FALSE(sink.streaming());
}

// The server dies mid-play: writes keep returning at once (the receive
// thread is never held up), sound is dropped, and the sink stops, starts
// and goes away without trouble.
TEST_F(PulseAudioSinkTest, AServerThatVanishesMidPlayHoldsNothingUp) {
  PulseAudioSink sink(context_, "spk");
  sink.start(8000);
  ASSERT_TRUE(waitUntil([&] { return sink.streaming(); }));
  std::vector<int16_t> pcm = sine(500, 8000, 160, 0);
  sink.write(pcm.data(), pcm.size());
  daemon_->kill();
  ASSERT_TRUE(waitUntil([&] { return !context_->alive(); }));

  const uint64_t dropped = sink.samplesDropped();
  auto slowest = Clock::duration::zero();
  for (int i = 0; i < 50; ++i) {
    const auto before = Clock::now();
    sink.write(pcm.data(), pcm.size());
    slowest = std::max(slowest, Clock::now() - before);
  }
  EXPECT_LT(slowest, 20ms);
  EXPECT_EQ(sink.samplesDropped(), dropped + 50 * 160);
  EXPECT_FALSE(sink.streaming());
  sink.stop();
  sink.start(8000);
  sink.write(pcm.data(), pcm.size());
  EXPECT_FALSE(sink.streaming());
  sink.stop();
}

}  // namespace
