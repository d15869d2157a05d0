// The talk microphone with a scripted source: which codecs get one, what
// happens without a factory or a source, and that a channel that is gone
// ends the capture.
#include "plugin/session/TalkMicrophone.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/devlink/DevLinkSdk.h"

namespace {

using ksplugs::TalkMicrophone;

// Records what the microphone does with it; the test delivers the chunks.
struct ScriptedSource : audio::AudioSource {
  struct Log {
    int starts = 0;
    int stops = 0;
    ChunkCallback callback;
  };
  explicit ScriptedSource(Log& log, bool startable = true) : log_(log), startable_(startable) {}
  bool start(ChunkCallback callback) override {
    ++log_.starts;
    if (startable_) log_.callback = std::move(callback);
    return startable_;
  }
  void stop() override {
    ++log_.stops;
    log_.callback = nullptr;
  }
  Log& log_;
  const bool startable_;
};

class TalkMicrophoneTest : public ::testing::Test {
 protected:
  void TearDown() override { TalkMicrophone::setSourceFactory(nullptr); }
  void useSource(bool startable = true) {
    TalkMicrophone::setSourceFactory([this, startable] { return std::make_unique<ScriptedSource>(log_, startable); });
  }
  ScriptedSource::Log log_;
};

TEST_F(TalkMicrophoneTest, OnlyAG711ChannelWithAMicrophoneGetsOne) {
  struct Case {
    int32_t codec;
    bool factory;
    bool startable;
    bool expected;
  };
  const Case cases[] = {
      {DLSDK_TALK_G711U, true, true, true},   {DLSDK_TALK_G711A, true, true, true},
      {DLSDK_TALK_G726, true, true, false},   {DLSDK_TALK_AAC, true, true, false},
      {DLSDK_TALK_G711U, false, true, false},  // no sound server: silence as before
      {DLSDK_TALK_G711A, true, false, false},  // the server refused the recording
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("codec " + std::to_string(c.codec) + (c.factory ? "" : " without a factory") +
                 (c.startable ? "" : ", unstartable"));
    log_ = {};
    if (c.factory) {
      useSource(c.startable);
    } else {
      TalkMicrophone::setSourceFactory(nullptr);
    }
    std::unique_ptr<TalkMicrophone> microphone = TalkMicrophone::open(7, c.codec);
    EXPECT_EQ(microphone != nullptr, c.expected);
    microphone.reset();
    if (c.expected) {
      EXPECT_EQ(log_.starts, 1);
      EXPECT_GE(log_.stops, 1);  // destroying the microphone stops the capture
    }
  }
  // A factory that answers nothing (no server reachable) gives no microphone.
  TalkMicrophone::setSourceFactory([] { return std::unique_ptr<audio::AudioSource>(); });
  EXPECT_FALSE(TalkMicrophone::open(7, DLSDK_TALK_G711U));
}

TEST_F(TalkMicrophoneTest, AChannelThatIsGoneEndsTheCapture) {
  useSource();
  // The SDK is not started, so no talk handle exists: the first chunk is
  // refused for good.
  std::unique_ptr<TalkMicrophone> microphone = TalkMicrophone::open(12345, DLSDK_TALK_G711U);
  ASSERT_TRUE(microphone);
  ASSERT_TRUE(log_.callback);
  const std::vector<int16_t> chunk(audio::AudioSource::kChunkSamples, 1000);
  EXPECT_FALSE(log_.callback(chunk.data(), chunk.size()));
  EXPECT_TRUE(microphone->ended());
  EXPECT_EQ(microphone->chunksSent(), 0u);
}

}  // namespace
