#include "shell/command/GlobalCommand.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "platform/sys/Base64.h"
#include "shell/command/JsonReading.h"
#include "shell/command/testing/DispatchFixture.h"
#include "shell/services/AudioTranscoder.h"
#include "tests/support/TestHttpServer.h"

namespace kestrova {
namespace {

using kstest::TestHttpServer;

class CurlEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { curl_global_init(CURL_GLOBAL_ALL); }
  void TearDown() override { curl_global_cleanup(); }
};
[[maybe_unused]] ::testing::Environment* const kCurl = ::testing::AddGlobalTestEnvironment(new CurlEnvironment);

// A 16 kHz mono 16-bit WAV with a few loud and quiet samples.
std::string sampleWav() {
  std::string wav("RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x80\x3E\0\0\0\x7D\0\0\x02\0\x10\0data", 40);
  const int16_t samples[] = {0, 0, 12000, 12000, -700, -700, 30000, 30000, -32768, -32768, 5, 5};
  const uint32_t size = sizeof samples;
  wav.append(reinterpret_cast<const char*>(&size), 4);
  wav.append(reinterpret_cast<const char*>(samples), sizeof samples);
  return wav;
}

std::string expected(const std::string& wav, bool ulaw, int64_t limit = -1) {
  std::string audio;
  EXPECT_EQ(0, transcodeBase64Wav(sys::base64Encode(wav), limit, ulaw, audio));
  return audio;
}

// The speech services on loopback, reached through the shell's environment
// variables; what the synthesis endpoint answers can be set per test.
class GlobalCommandTest : public testing::DispatchFixture {
 protected:
  GlobalCommandTest()
      : tokens_([](const TestHttpServer::Request&) {
          return TestHttpServer::reply(200, R"({"data": {"token": "global-token"}})");
        }),
        tts_([this](const TestHttpServer::Request&) {
          std::lock_guard<std::mutex> lock(mutex_);
          return TestHttpServer::reply(ttsStatus_, ttsReply_);
        }) {
    ::setenv("KESTROVA_TOKEN_SERVER", tokens_.url().c_str(), 1);
    ::setenv("KESTROVA_TTS_SERVER", tts_.url().c_str(), 1);
    ::setenv("KESTROVA_TTS_PROJECT", "feedfacefeedfacefeedfacefeedface", 1);
  }
  ~GlobalCommandTest() override {
    ::unsetenv("KESTROVA_TOKEN_SERVER");
    ::unsetenv("KESTROVA_TTS_SERVER");
    ::unsetenv("KESTROVA_TTS_PROJECT");
  }

  void answer(unsigned status, std::string reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    ttsStatus_ = status;
    ttsReply_ = std::move(reply);
  }

  std::mutex mutex_;
  unsigned ttsStatus_ = 200;  // guarded by mutex_
  std::string ttsReply_;      // guarded by mutex_
  TestHttpServer tokens_;
  TestHttpServer tts_;
};

TEST_F(GlobalCommandTest, OtherTypesSucceedWithThePlainReply) {
  EXPECT_EQ(standardReply(200, 3), send(R"({"msgId": 3, "Fountion": "globalCtrl", "global": {"type": 2}})"));
  EXPECT_EQ(standardReply(200, 4), send(R"({"msgId": 4, "Fountion": "globalCtrl", "global": {}})"));
  EXPECT_EQ(standardReply(1000, 5), send(R"({"msgId": 5, "Fountion": "globalCtrl"})"));
  EXPECT_EQ(standardReply(1000, 6), send(R"({"msgId": 6, "Fountion": "globalCtrl", "global": []})"));
  EXPECT_TRUE(plugin.calls.empty());
}

TEST_F(GlobalCommandTest, MissingInputsAnswer1002AndBadShapes1000) {
  const char* cases[][2] = {
      {R"({"type": 4, "format": {"inputBase64": false}})", "1002"},
      {R"({"type": 4, "format": {"inputBase64": false, "path": 7}})", "1002"},
      {R"({"type": 4, "format": {"path": "/tmp/x.wav"}})", "1002"},
      {R"({"type": 4})", "1002"},
      {R"({"type": 1, "tts": {"ulaw": true}})", "1002"},
      {R"({"type": 1})", "1002"},
      {R"({"type": 1, "tts": "text"})", "1000"},
      {R"({"type": 4, "format": [1]})", "1000"},
  };
  for (const auto& [global, code] : cases) {
    const std::string reply = send(std::string(R"({"msgId": 9, "Fountion": "globalCtrl", "global": )") + global + "}");
    EXPECT_EQ(standardReply(std::stoi(code), 9), reply) << global;
  }
  EXPECT_TRUE(tts_.requests().empty());
}

TEST_F(GlobalCommandTest, TranscodesBase64AndFilesToAlawByDefault) {
  const std::string wav = sampleWav();
  Json::Value reply = sendParsed(R"({"msgId": 11, "Fountion": "globalCtrl", "global": {"type": 4, "format": {"base64Data": ")" +
                                 sys::base64Encode(wav) + R"("}}})");
  EXPECT_EQ(200, reply["code"].asInt());
  EXPECT_EQ(11u, reply["msgId"].asUInt());
  EXPECT_EQ(expected(wav, false), reply["audio"].asString());

  reply = sendParsed(R"({"msgId": 12, "Fountion": "globalCtrl", "global": {"type": 4, "format": {"ulaw": true, "total": 2, "base64Data": ")" +
                     sys::base64Encode(wav) + R"("}}})");
  EXPECT_EQ(expected(wav, true, 2), reply["audio"].asString());

  char pattern[] = "/tmp/kestrova-global-XXXXXX";
  const std::string folder = ::mkdtemp(pattern);
  const std::string path = folder + "/talk ü.wav";
  std::ofstream(path, std::ios::binary) << wav;
  Json::Value request;
  request["msgId"] = 13;
  request["Fountion"] = "globalCtrl";
  request["global"]["type"] = 4;
  request["global"]["format"]["inputBase64"] = false;
  request["global"]["format"]["path"] = path;
  reply = sendParsed(writeStyled(request));
  EXPECT_EQ(expected(wav, false), reply["audio"].asString());

  request["global"]["format"]["path"] = folder + "/missing.wav";
  EXPECT_EQ(standardReply(3006, 13), send(writeStyled(request)));
  std::filesystem::remove_all(folder);

  // Broken input is refused with 1003: a block align of 0, base64 that is not.
  std::string zeroAlign = wav;
  zeroAlign[32] = zeroAlign[33] = '\0';
  for (const std::string& data : {sys::base64Encode(zeroAlign), std::string("@@@@"), std::string("")}) {
    EXPECT_EQ(standardReply(1003, 14),
              send(R"({"msgId": 14, "Fountion": "globalCtrl", "global": {"type": 4, "format": {"base64Data": ")" + data +
                   R"("}}})"));
  }
}

TEST_F(GlobalCommandTest, SynthesisReturnsTheServiceAudio) {
  const std::string wav = sampleWav();
  answer(200, R"({"result": {"data": ")" + sys::base64Encode(wav) + R"("}})");
  Json::Value reply = sendParsed(
      R"({"msgId": 21, "Fountion": "globalCtrl", "global": {"type": 1, "tts": {"transParam": "{'text': 'hi'}"}}})");
  EXPECT_EQ(200, reply["code"].asInt());
  EXPECT_EQ(sys::base64Encode(wav), reply["audio"].asString()) << "delivered as it came";
  const auto posts = tts_.requests();
  ASSERT_EQ(1u, posts.size());
  EXPECT_EQ("/v1/feedfacefeedfacefeedfacefeedface/tts", std::string(posts[0].target()));
  EXPECT_EQ("global-token", posts[0]["X-Auth-Token"]);
  EXPECT_EQ(R"({"text": "hi"})", posts[0].body());

  // Transcoded without "ulaw": μ-law.
  reply = sendParsed(
      R"({"msgId": 22, "Fountion": "globalCtrl", "global": {"type": 1, "tts": {"transcode": true, "transParam": "{}"}}})");
  EXPECT_EQ(expected(wav, true), reply["audio"].asString());
  reply = sendParsed(
      R"({"msgId": 23, "Fountion": "globalCtrl", "global": {"type": 1, "tts": {"transcode": true, "ulaw": false, "total": 1, "transParam": "{}"}}})");
  EXPECT_EQ(expected(wav, false, 1), reply["audio"].asString());
}

TEST_F(GlobalCommandTest, ServiceErrorsTravelAsExtError) {
  answer(400, R"({"error_code": "SIS.0105", "error_msg": "text too long"})");
  const std::string request =
      R"({"msgId": 31, "Fountion": "globalCtrl", "global": {"type": 1, "tts": {"transParam": "{}"}}})";
  Json::Value reply = sendParsed(request);
  EXPECT_EQ(1019, reply["code"].asInt());
  EXPECT_EQ(31u, reply["msgId"].asUInt());
  EXPECT_EQ("SIS.0105", reply["extError"].asString());
  EXPECT_FALSE(reply.isMember("audio"));

  answer(500, R"({"error_code": ")" + std::string(80, 'X') + R"("})");
  reply = sendParsed(request);
  EXPECT_EQ(1019, reply["code"].asInt());
  EXPECT_EQ(std::string(31, 'X'), reply["extError"].asString());

  // Without an error code the reply carries no "extError".
  answer(200, "{}");
  EXPECT_EQ(standardReply(1019, 31), send(request));

  // An unreachable service passes the HTTP client's code through.
  ::setenv("KESTROVA_TTS_SERVER", "http://127.0.0.1:1", 1);
  EXPECT_EQ(standardReply(3002, 31), send(request));
}

}  // namespace
}  // namespace kestrova
