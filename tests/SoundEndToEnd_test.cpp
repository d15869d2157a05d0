// Sound end to end, with the library's context started as KsComGlobalInit
// starts it: the device simulator's beep played by a live stream reaches a
// private PulseAudio daemon's speaker, a tone in its microphone reaches the
// device as talk, both end with the library, and without a server streams
// play into the null sink and talk sends silence as before.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/PulseAudioSink.h"
#include "platform/audio/testing/PulseDaemon.h"
#include "platform/audio/testing/PulseRecorder.h"
#include "platform/audio/testing/ToneMeter.h"
#include "platform/audio/testing/TonePlayer.h"
#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/DisplayTable.h"
#include "platform/devlink/NullAudioSink.h"
#include "platform/sys/G711.h"
#include "platform/ui/Window.h"
#include "platform/ui/testing/UiTestSupport.h"
#include "plugin/exports/PluginContext.h"
#include "plugin/files/testing/ScopedTempDir.h"
#include "plugin/session/CDVSDevice.h"
#include "plugin/session/testing/CreateRecord.h"
#include "tests/support/Settle.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using namespace std::chrono_literals;
using audio::testing::PulseDaemon;
using audio::testing::PulseRecorder;
using audio::testing::TonePlayer;
using devlink::DisplayTable;

std::vector<int16_t> decodeTalk(const std::vector<uint8_t>& bytes, uint32_t codec) {
  std::vector<int16_t> pcm(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    pcm[i] = codec == DLSDK_TALK_G711A ? g711::decodeALaw(bytes[i]) : g711::decodeMuLaw(bytes[i]);
  }
  return pcm;
}

class Surface : public ui::Window {};

// The device simulator and the started library context; with a private
// sound daemon unless the test says there is none.
class SoundTest : public ui::test::HeadlessTest {
 protected:
  void start(bool withServer) {
    temp_ = std::make_unique<ksplugs::testing::ScopedTempDir>();
    if (withServer) {
      daemon_ = std::make_unique<PulseDaemon>();
      ASSERT_TRUE(daemon_->ok()) << daemon_->why();
      // Kestrova plays into the server's default sink and listens to its
      // default source: the speaker and the microphone of this test.
      ASSERT_TRUE(daemon_->pactl("set-default-sink spk"));
      ASSERT_TRUE(daemon_->pactl("set-default-source mic.monitor"));
    } else {
      ASSERT_EQ(::setenv("PULSE_SERVER", ("unix:" + temp_->path() + "/no-server.sock").c_str(), 1), 0);
    }
    devsim::DevSimOptions o;
    o.commandPort = 0;
    o.mediaPort = 0;
    o.loopSeconds = 1;
    o.channels = 1;
    server_ = std::make_unique<devsim::DevSimServer>(o);
    std::string error;
    ASSERT_TRUE(server_->start(&error)) << error;
    context_ = ksplugs::PluginContext::make();
    context_->start();
  }

  void TearDown() override {
    device_.reset();
    if (context_) context_->stop();
    context_.reset();
    if (server_) server_->stop();
    surface_.destroyWindow();
    daemon_.reset();
    // The test without a server pointed libpulse at a socket of its own.
    ::unsetenv("PULSE_SERVER");
    temp_.reset();
    HeadlessTest::TearDown();
  }

  // A live stream of channel 0 playing into a window, as a live cell opens it.
  int32_t openLive() {
    DLSDK_LoginInfo info{};
    std::strcpy(info.address, "127.0.0.1");
    info.commandPort = server_->commandPort();
    std::strcpy(info.user, "admin");
    std::strcpy(info.password, "admin");
    EXPECT_EQ(DLSDK_UserLogin(&login_, &info), DLSDK_OK);
    const ui::HWND window = surface_.create(0, {0, 0, 352, 288}, "video", ui::WS_VISIBLE | ui::WS_POPUP);
    ui::pumpPendingMessages();
    DLSDK_LiveStreamRequest r{};
    r.channel = 0;
    r.reserved1 = 1;
    r.streamType = DLSDK_STREAM_THIRD;
    r.mediaPort = server_->mediaPort();
    int32_t s = -1;
    EXPECT_EQ(DLSDK_RealStreamConnect(&s, login_, &r), DLSDK_OK);
    EXPECT_EQ(DLSDK_StreamOpenEx(s, 1, 1, 0xFFFFFF, 2, 0, 0, 704, 576), DLSDK_OK);
    EXPECT_EQ(DLSDK_StreamPlay(s, window), DLSDK_OK);
    EXPECT_EQ(DLSDK_StreamSetVolume(s, 0xFFFF), DLSDK_OK);
    return s;
  }

  // A device session logged in to the simulator, as the device registry
  // keeps one.
  WebPlug_NCL::CDVSDevice& device() {
    if (!device_) {
      ksplugs::testing::CreateRecord record("00:11:22:33:44:55", server_->commandPort(), server_->mediaPort(), 1);
      device_ = std::make_unique<WebPlug_NCL::CDVSDevice>();
      device_->copyFrom(record.param);
      EXPECT_EQ(device_->login(), KS_OK);
    }
    return *device_;
  }

  std::unique_ptr<ksplugs::testing::ScopedTempDir> temp_;
  std::unique_ptr<PulseDaemon> daemon_;
  std::unique_ptr<devsim::DevSimServer> server_;
  std::shared_ptr<ksplugs::PluginContext> context_;
  std::unique_ptr<WebPlug_NCL::CDVSDevice> device_;
  Surface surface_;
  int32_t login_ = -1;
};

TEST_F(SoundTest, TheDevicesBeepPlaysThroughTheSpeaker) {
  start(true);
  PulseRecorder speaker("spk.monitor");
  ASSERT_TRUE(speaker.ok()) << speaker.why();
  const int32_t s = openLive();
  auto sink = std::dynamic_pointer_cast<audio::PulseAudioSink>(DisplayTable::instance().find(s)->audioSink());
  ASSERT_TRUE(sink) << "the library's sink factory made no sound-server sink";
  EXPECT_EQ(daemon_->count("sink-inputs"), 0);  // sound starts off

  ASSERT_EQ(DLSDK_StreamPlaySound(s), DLSDK_OK);
  ASSERT_TRUE(kstest::eventually([&] { return daemon_->count("sink-inputs") == 1; }));
  const size_t from = speaker.sampleCount();
  ASSERT_TRUE(kstest::eventually([&] { return speaker.sampleCount() >= from + 3 * 8000; }));
  const std::vector<int16_t> all = speaker.samples();
  // The last two seconds: the device beeps at 400 Hz for half of each second.
  const std::span<const int16_t> heard(all.data() + all.size() - 2 * 8000, 2 * 8000);
  const size_t loud = audio::testing::loudestWindow(heard, 2000);
  const std::span<const int16_t> beep = heard.subspan(loud, 2000);
  const double frequency = audio::testing::dominantFrequency(beep, 8000);
  std::printf("device beep heard at %.0f Hz, rms %.0f\n", frequency, audio::testing::rms(beep));
  EXPECT_NEAR(frequency, 400, 10);
  EXPECT_GT(audio::testing::rms(beep), 4000);  // amplitude 8000 at full volume
  int loudWindows = 0;
  for (size_t at = 0; at + 400 <= heard.size(); at += 400) {
    loudWindows += audio::testing::rms(heard.subspan(at, 400)) > 2000;
  }
  EXPECT_GE(loudWindows, 12);  // of 40: about half of the time
  EXPECT_LE(loudWindows, 28);

  // The cell's volume is honoured: at 0 the speaker is silent.
  ASSERT_EQ(DLSDK_StreamSetVolume(s, 0), DLSDK_OK);
  const size_t muted = speaker.sampleCount();
  ASSERT_TRUE(kstest::eventually([&] { return speaker.sampleCount() >= muted + 8000 + 2400; }));
  const std::vector<int16_t> after = speaker.samples();
  // Allowing 300 ms for what was buffered before the change.
  EXPECT_LT(audio::testing::rms(std::span<const int16_t>(after).subspan(muted + 2400)), 50);

  ASSERT_EQ(DLSDK_StreamStopSound(s), DLSDK_OK);
  EXPECT_TRUE(kstest::eventually([&] { return daemon_->count("sink-inputs") == 0; }));
}

TEST_F(SoundTest, TheMicrophoneReachesTheDeviceAsTalkInEitherLaw) {
  start(true);
  struct Case {
    int32_t codec;
    double frequency;
  };
  for (const Case c : {Case{DLSDK_TALK_G711U, 600}, Case{DLSDK_TALK_G711A, 900}}) {
    SCOPED_TRACE("codec " + std::to_string(c.codec));
    TonePlayer tone("mic", c.frequency);
    ASSERT_TRUE(tone.ok()) << tone.why();
    ASSERT_EQ(device().talkStart(c.codec), KS_OK);
    EXPECT_TRUE(device().talkHearsMicrophone());
    ASSERT_TRUE(kstest::eventually([&] { return daemon_->count("source-outputs") == 1; }));
    // A second of talk whose latest half second carries the tone.
    std::vector<int16_t> talk;
    const bool heard = kstest::eventually([&] {
      uint32_t codec = 0;
      talk = decodeTalk(server_->keptTalk(&codec), codec);
      if (codec != static_cast<uint32_t>(c.codec) || talk.size() < 8000) return false;
      return audio::testing::rms(std::span<const int16_t>(talk).last(4000)) > 3000;
    });
    ASSERT_TRUE(heard) << "the device received " << talk.size() << " talk samples without the tone";
    const double frequency = audio::testing::dominantFrequency(std::span<const int16_t>(talk).last(4000), 8000);
    std::printf("talk (codec %d) heard by the device at %.0f Hz\n", c.codec, frequency);
    EXPECT_NEAR(frequency, c.frequency, 10);

    ASSERT_EQ(device().talkStop(), KS_OK);
    EXPECT_FALSE(device().talkHearsMicrophone());
    EXPECT_TRUE(kstest::eventually([&] { return daemon_->count("source-outputs") == 0; }));
  }
}

TEST_F(SoundTest, ALostDeviceOrALogoutEndsTheCapture) {
  start(true);
  ASSERT_EQ(device().talkStart(DLSDK_TALK_G711U), KS_OK);
  ASSERT_TRUE(kstest::eventually([&] { return daemon_->count("source-outputs") == 1; }));
  ASSERT_EQ(device().logout(), KS_OK);
  EXPECT_FALSE(device().talkActive());
  EXPECT_TRUE(kstest::eventually([&] { return daemon_->count("source-outputs") == 0; }));

  ASSERT_EQ(device().login(), KS_OK);
  ASSERT_EQ(device().talkStart(DLSDK_TALK_G711A), KS_OK);
  ASSERT_TRUE(kstest::eventually([&] { return daemon_->count("source-outputs") == 1; }));
  server_->stop();  // the device loses power
  EXPECT_TRUE(kstest::eventually([&] { return !device().talkHearsMicrophone(); }));
  EXPECT_TRUE(kstest::eventually([&] { return daemon_->count("source-outputs") == 0; }));
  EXPECT_EQ(device().talkStop(), KS_OK);
}

TEST_F(SoundTest, StoppingTheLibraryEndsSoundAndTalkAndTakesTheFactoryBack) {
  start(true);
  const int32_t s = openLive();
  ASSERT_EQ(DLSDK_StreamPlaySound(s), DLSDK_OK);
  ASSERT_EQ(device().talkStart(DLSDK_TALK_G711U), KS_OK);
  ASSERT_TRUE(
      kstest::eventually([&] { return daemon_->count("sink-inputs") == 1 && daemon_->count("source-outputs") == 1; }));
  context_->stop();
  EXPECT_TRUE(
      kstest::eventually([&] { return daemon_->count("sink-inputs") == 0 && daemon_->count("source-outputs") == 0; }));
  EXPECT_TRUE(std::dynamic_pointer_cast<devlink::NullAudioSink>(DisplayTable::instance().makeSink()));
  EXPECT_EQ(device().talkStop(), KS_OK);
}

TEST_F(SoundTest, WithoutAServerStreamsPlayIntoTheNullSinkAndTalkSendsSilence) {
  start(false);
  EXPECT_TRUE(std::dynamic_pointer_cast<devlink::NullAudioSink>(DisplayTable::instance().makeSink()));
  const int32_t s = openLive();
  auto sink = std::dynamic_pointer_cast<devlink::NullAudioSink>(DisplayTable::instance().find(s)->audioSink());
  ASSERT_TRUE(sink);
  ASSERT_EQ(DLSDK_StreamPlaySound(s), DLSDK_OK);
  ASSERT_TRUE(kstest::eventually([&] { return sink->samples() >= 8000; }));
  EXPECT_GT(sink->takePeak(), 6000);

  ASSERT_EQ(device().talkStart(DLSDK_TALK_G711U), KS_OK);
  EXPECT_FALSE(device().talkHearsMicrophone());
  ASSERT_TRUE(kstest::eventually([&] { return server_->talkBytes() >= 1600; }));
  for (const uint8_t b : server_->keptTalk()) ASSERT_EQ(b, 0xFF);  // μ-law silence
  EXPECT_EQ(device().talkStop(), KS_OK);
}

}  // namespace
