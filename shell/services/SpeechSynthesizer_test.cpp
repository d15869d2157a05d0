#include "shell/services/SpeechSynthesizer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/sys/Base64.h"
#include "platform/sys/G711.h"
#include "tests/support/TestHttpServer.h"

namespace kestrova {
namespace {

using kstest::TestHttpServer;
namespace http = boost::beast::http;

// A value the test thread sets and the server thread reads.
template <typename T>
class Shared {
 public:
  explicit Shared(T value) : value_(std::move(value)) {}
  Shared& operator=(T value) {
    std::lock_guard<std::mutex> lock(mutex_);
    value_ = std::move(value);
    return *this;
  }
  T get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return value_;
  }

 private:
  mutable std::mutex mutex_;
  T value_;  // guarded by mutex_
};

constexpr const char* kProject = "0123456789abcdef0123456789abcdef";

// A 8 kHz mono 16-bit WAV of the given samples.
std::string wavOf(std::initializer_list<int16_t> samples) {
  std::string data;
  for (const int16_t s : samples) {
    data.push_back(static_cast<char>(s & 0xFF));
    data.push_back(static_cast<char>((s >> 8) & 0xFF));
  }
  std::string out("RIFF\0\0\0\0WAVEfmt ", 16);
  const unsigned char format[] = {16, 0, 0, 0, 1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 16, 0};
  out.append(reinterpret_cast<const char*>(format), sizeof format);
  out += "data";
  const uint32_t size = static_cast<uint32_t>(data.size());
  out.append(reinterpret_cast<const char*>(&size), 4);
  return out + data;
}

class SpeechSynthesizerTest : public ::testing::Test {
 protected:
  SpeechSynthesizerTest()
      : tokenServer_([this](const TestHttpServer::Request&) {
          ++tokenFetches_;
          return TestHttpServer::reply(tokenStatus_.get(), tokenReply_.get());
        }),
        ttsServer_([this](const TestHttpServer::Request&) { return TestHttpServer::reply(ttsStatus_.get(), ttsReply_.get()); }),
        cache_([this] { return now_.load(); }) {
    config_.tokenServer = tokenServer_.url();
    config_.ttsServer = ttsServer_.url() + "/";  // a trailing '/' from the environment is dropped there
    config_.ttsServer.pop_back();
    config_.ttsProject = kProject;
  }

  int synthesize(TtsRequest& request) { return synthesizeSpeech(cache_, config_, HttpClient(), request); }

  std::atomic<int> tokenFetches_{0};
  std::atomic<int64_t> now_{1700000000};
  Shared<unsigned> tokenStatus_{200};
  Shared<std::string> tokenReply_{R"({"data": {"token": "tok-1"}})"};
  Shared<unsigned> ttsStatus_{200};
  Shared<std::string> ttsReply_{R"({"result": {"data": "UklGRg=="}})"};
  TestHttpServer tokenServer_;
  TestHttpServer ttsServer_;
  ServiceConfig config_;
  TtsTokenCache cache_;
};

TEST_F(SpeechSynthesizerTest, PostsThePageRequestWithTheToken) {
  TtsRequest request;
  request.requestJson = "{'text': 'hello', 'lang': 'en'}";
  ASSERT_EQ(0, synthesize(request));
  EXPECT_EQ("UklGRg==", request.audioBase64);
  EXPECT_EQ('\0', request.errorCode[0]);

  const auto tokenRequests = tokenServer_.requests();
  ASSERT_EQ(1u, tokenRequests.size());
  EXPECT_EQ(http::verb::get, tokenRequests[0].method());
  EXPECT_EQ("/UtilERP/device/tts-token", tokenRequests[0].target());

  const auto posts = ttsServer_.requests();
  ASSERT_EQ(1u, posts.size());
  EXPECT_EQ(http::verb::post, posts[0].method());
  EXPECT_EQ(std::string("/v1/") + kProject + "/tts", posts[0].target());
  EXPECT_EQ("application/json", posts[0][http::field::content_type]);
  EXPECT_EQ("tok-1", posts[0]["X-Auth-Token"]);
  EXPECT_EQ(posts[0].end(), posts[0].find(http::field::expect));
  EXPECT_EQ(R"({"text": "hello", "lang": "en"})", posts[0].body());
}

TEST_F(SpeechSynthesizerTest, TokenLivesTwentyThreeHours) {
  TtsRequest request;
  request.requestJson = "{}";
  ASSERT_EQ(0, synthesize(request));
  now_ += 82800;
  ASSERT_EQ(0, synthesize(request));
  EXPECT_EQ(1, tokenFetches_.load());
  now_ += 1;
  tokenReply_ = R"({"data": {"token": "tok-2"}})";
  ASSERT_EQ(0, synthesize(request));
  EXPECT_EQ(2, tokenFetches_.load());
  EXPECT_EQ("tok-2", ttsServer_.requests().back()["X-Auth-Token"]);
}

TEST_F(SpeechSynthesizerTest, BadTokenRepliesFailAndLeaveTheCacheEmpty) {
  TtsRequest request;
  request.requestJson = "{}";
  // Nesting far beyond what the JSON reader accepts, within the size limit.
  const std::string deep = std::string(30000, '[') + std::string(30000, ']');
  for (const char* reply : {deep.c_str(), "not json", "[1,2]", R"({"data": 5})", R"({"data": {"token": 7}})",
                            R"({"data": {"tok": "x"}})", "{\"data\": {\"token\": \"a\\r\\nX-Evil: 1\"}}"}) {
    tokenReply_ = reply;
    EXPECT_EQ(1019, synthesize(request)) << std::string(reply).substr(0, 40);
  }
  tokenStatus_ = 404;
  EXPECT_EQ(1001, synthesize(request));
  tokenStatus_ = 500;
  EXPECT_EQ(1019, synthesize(request));
  EXPECT_TRUE(ttsServer_.requests().empty());
  EXPECT_EQ(9, tokenFetches_.load()) << "every failure fetches again next time";
}

TEST_F(SpeechSynthesizerTest, ServiceErrorsReportTheirCode) {
  TtsRequest request;
  request.requestJson = "{}";
  ttsStatus_ = 400;
  ttsReply_ = R"({"error_code": "SIS.0001", "error_msg": "bad text"})";
  EXPECT_EQ(1019, synthesize(request));
  EXPECT_STREQ("SIS.0001", request.errorCode);

  // A code that does not fit its 32-byte field is cut, never overflowed.
  ttsReply_ = R"({"error_code": ")" + std::string(100, 'E') + R"("})";
  EXPECT_EQ(1019, synthesize(request));
  EXPECT_EQ(std::string(31, 'E'), request.errorCode);

  ttsReply_ = R"({"error_code": 42, "result": {"data": ""}})";
  EXPECT_EQ(1019, synthesize(request));
  EXPECT_STREQ("42", request.errorCode);

  ttsReply_ = "<html>gateway</html>";
  EXPECT_EQ(1019, synthesize(request));
  EXPECT_STREQ("", request.errorCode);
  EXPECT_TRUE(request.audioBase64.empty());
}

TEST_F(SpeechSynthesizerTest, TranscodesTheSpeechWhenAsked) {
  ttsReply_ = R"({"result": {"data": ")" + sys::base64Encode(wavOf({0, 1000, -1000, 30000})) + R"("}})";
  TtsRequest request;
  request.requestJson = "{}";
  request.transcode = true;
  request.ulaw = false;
  request.maxSamples = 3;
  ASSERT_EQ(0, synthesize(request));
  const auto bytes = sys::base64Decode(request.audioBase64);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ((std::vector<uint8_t>{g711::encodeALaw(0), g711::encodeALaw(1000), g711::encodeALaw(-1000)}), *bytes);

  ttsReply_ = R"({"result": {"data": "not base64!"}})";
  EXPECT_EQ(1003, synthesize(request));
}

}  // namespace
}  // namespace kestrova
