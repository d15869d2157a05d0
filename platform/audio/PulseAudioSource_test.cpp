// The microphone against a private PulseAudio daemon: a tone played into
// the "mic" null sink is heard on its monitor in 20 ms chunks; the capture
// ends when the callback says so and with stop().
#include "platform/audio/PulseAudioSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio/PulseContext.h"
#include "platform/audio/testing/PulseDaemon.h"
#include "platform/audio/testing/ToneMeter.h"
#include "platform/audio/testing/TonePlayer.h"

namespace {

using namespace std::chrono_literals;
using audio::PulseAudioSource;
using audio::PulseContext;
using audio::testing::PulseDaemon;
using audio::testing::TonePlayer;

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

class PulseAudioSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon_ = std::make_unique<PulseDaemon>();
    ASSERT_TRUE(daemon_->ok()) << daemon_->why();
    std::string why;
    context_ = PulseContext::connect(2s, &why);
    ASSERT_TRUE(context_) << why;
  }

  std::unique_ptr<PulseDaemon> daemon_;
  std::shared_ptr<PulseContext> context_;
};

TEST_F(PulseAudioSourceTest, HearsTheToneOfTheMicrophoneInTwentyMillisecondChunks) {
  TonePlayer tone("mic", 700);
  ASSERT_TRUE(tone.ok()) << tone.why();
  PulseAudioSource microphone(context_, "mic.monitor");
  std::mutex mutex;
  std::vector<int16_t> heard;  // guarded by mutex
  std::vector<size_t> sizes;   // guarded by mutex
  ASSERT_TRUE(microphone.start([&](const int16_t* samples, size_t count) {
    std::lock_guard lock(mutex);
    heard.insert(heard.end(), samples, samples + count);
    sizes.push_back(count);
    return true;
  }));
  ASSERT_TRUE(waitUntil([&] {
    std::lock_guard lock(mutex);
    return heard.size() >= 16000;
  }));
  microphone.stop();
  EXPECT_TRUE(waitUntil([&] { return daemon_->count("source-outputs") == 0; }));
  std::lock_guard lock(mutex);
  for (const size_t n : sizes) ASSERT_EQ(n, PulseAudioSource::kChunkSamples);
  // The last second: the tone has reached the monitor by then.
  const std::span<const int16_t> last(heard.data() + heard.size() - 8000, 8000);
  EXPECT_NEAR(audio::testing::dominantFrequency(last, 8000), 700, 10);
  EXPECT_GT(audio::testing::rms(last), 3000);
  // Nothing arrives after stop().
  const size_t chunks = sizes.size();
  microphone.stop();
  EXPECT_EQ(sizes.size(), chunks);
}

TEST_F(PulseAudioSourceTest, ACallbackAnsweringFalseEndsTheCapture) {
  PulseAudioSource microphone(context_, "mic.monitor");
  std::atomic<int> calls{0};
  ASSERT_TRUE(microphone.start([&](const int16_t*, size_t) { return ++calls < 3; }));
  EXPECT_TRUE(waitUntil([&] { return daemon_->count("source-outputs") == 1; }));
  // The server's recording stream goes once the third chunk said no.
  EXPECT_TRUE(waitUntil([&] { return calls.load() >= 3 && daemon_->count("source-outputs") == 0; }));
  EXPECT_EQ(calls.load(), 3);
  microphone.stop();
  // It can be started again.
  calls = 0;
  ASSERT_TRUE(microphone.start([&](const int16_t*, size_t) { return ++calls < 100000; }));
  EXPECT_TRUE(waitUntil([&] { return calls.load() >= 5; }));
}

TEST_F(PulseAudioSourceTest, AMissingSourceOrAVanishedServerStartsNothing) {
  std::atomic<int> calls{0};
  const auto count = [&](const int16_t*, size_t) { return ++calls > 0; };
  PulseAudioSource missing(context_, "no-such-source");
  // The server refuses the stream asynchronously; nothing is delivered.
  if (missing.start(count)) {
    EXPECT_TRUE(waitUntil([&] { return daemon_->count("source-outputs") == 0; }));
  }
  PulseAudioSource microphone(context_, "mic.monitor");
  EXPECT_FALSE(microphone.start(nullptr));
  daemon_->kill();
  ASSERT_TRUE(waitUntil([&] { return !context_->alive(); }));
  EXPECT_FALSE(microphone.start(count));
  microphone.stop();
  EXPECT_EQ(calls.load(), 0);
}

}  // namespace
