// Reaching the sound server: sinks and microphones share one connection;
// without a server nothing is made, one line says so, and a server that
// appears is used once the pause between tries has passed or the holder
// released its connection.
#include "platform/audio/SoundServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/audio/PulseAudioSink.h"
#include "platform/audio/testing/PulseDaemon.h"

namespace {

using audio::SoundServer;
using audio::testing::PulseDaemon;

int lines(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

TEST(SoundServer, SinksAndMicrophonesShareOneConnection) {
  PulseDaemon daemon;
  ASSERT_TRUE(daemon.ok()) << daemon.why();
  // pactl, which counts them, is a client itself.
  const int others = daemon.count("clients");
  SoundServer server;
  auto sink = std::dynamic_pointer_cast<audio::PulseAudioSink>(server.makeSink());
  ASSERT_TRUE(sink);
  auto microphone = server.makeSource("mic.monitor");
  ASSERT_TRUE(microphone);
  EXPECT_EQ(server.context(), server.context());
  EXPECT_EQ(daemon.count("clients"), others + 1);
  server.release();
  // The sink still holds the connection; a new need makes a second one.
  EXPECT_TRUE(server.context());
  EXPECT_EQ(daemon.count("clients"), others + 2);
  sink.reset();
  microphone.reset();
  server.release();
}

TEST(SoundServer, WithoutAServerNothingIsMadeAndOneLineSaysSo) {
  const std::string dead = std::filesystem::temp_directory_path().string() + "/kestrova-no-server.sock";
  ASSERT_EQ(::setenv("PULSE_SERVER", ("unix:" + dead).c_str(), 1), 0);
  ::testing::internal::CaptureStderr();
  SoundServer first;
  EXPECT_FALSE(first.makeSink());
  EXPECT_FALSE(first.makeSource());
  SoundServer second;
  EXPECT_FALSE(second.makeSink());
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(lines(said, "kestrova: no sound server"), 1) << said;

  // A server that appears is not tried until the pause has passed or the
  // holder released; then it is used.
  PulseDaemon daemon;
  ASSERT_TRUE(daemon.ok()) << daemon.why();
  EXPECT_FALSE(first.makeSink());
  first.release();
  EXPECT_TRUE(first.makeSink());
  ::unsetenv("PULSE_SERVER");
}

}  // namespace
