// Whole paths through the shell process: a page's WebSocket connection, the
// dispatcher, the plug-in library and the services behind it (the device
// simulator, a loopback speech service).
#include <gtest/gtest.h>
#include <json/reader.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/devlink/WireFormat.h"
#include "platform/sys/Base64.h"
#include "tests/support/Settle.h"
#include "tests/support/ShellProcess.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WsClient.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using namespace std::chrono_literals;
using kstest::ShellProcess;
using kstest::TestHttpServer;
using kstest::WsClient;

Json::Value parse(const std::string& text) {
  Json::Value value;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(text);
  if (!Json::parseFromStream(builder, in, &value, &errors)) return Json::Value();
  return value;
}

Json::Value request(WsClient& client, const std::string& text) {
  if (!client.sendText(text)) return Json::Value();
  const auto reply = client.receive(20s);
  return reply ? parse(*reply) : Json::Value();
}

std::string createDevice(uint32_t msgId, const devsim::DevSimServer& device, bool withThirdStream = true) {
  return R"({"msgId": )" + std::to_string(msgId) + R"(, "Fountion": "createDev", "Device": {"MAC": "00-11-22-33-44-)" +
         std::to_string(10 + msgId % 80) + R"(", "totalChannel": 4, "cmdPort": )" +
         std::to_string(device.commandPort()) + R"(, "mediaPort": )" + std::to_string(device.mediaPort()) +
         R"(, "stream": [2, 2, 2, 2], "resShowBitrate": "Bitrate", "resMainStream": "Main", "resSubStream": "Sub")" +
         (withThirdStream ? R"(, "resThirdStream": "Third")" : "") +
         R"(}, "Auth": {"usr": "admin", "pwd": "admin", "address": "127.0.0.1"}})";
}

class ShellEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    devsim::DevSimOptions options;
    options.commandPort = 0;
    options.mediaPort = 0;
    device_ = std::make_unique<devsim::DevSimServer>(options);
    std::string error;
    ASSERT_TRUE(device_->start(&error)) << error;
  }

  std::unique_ptr<devsim::DevSimServer> device_;
};

TEST_F(ShellEndToEnd, DevicesAreCreatedCountedAndReleasedWithTheirConnection) {
  kstest::Watchdog watchdog(120s, "DevicesAreCreatedCountedAndReleased");
  ShellProcess shell;
  ASSERT_TRUE(shell.start());

  auto first = std::make_unique<WsClient>();
  ASSERT_TRUE(first->connect(shell.port()));
  // A record without a third-stream text is refused and consumes no id.
  EXPECT_EQ(request(*first, createDevice(100, *device_, false))["code"].asInt(), 1000);
  for (uint32_t i = 1; i <= 8; ++i) {
    const Json::Value reply = request(*first, createDevice(i, *device_));
    ASSERT_EQ(reply["code"].asInt(), 200) << i;
    EXPECT_EQ(reply["uniqueId"].asUInt(), i);
    EXPECT_EQ(reply["dpiRadio"].asUInt(), 100u);
    EXPECT_EQ(reply["msgId"].asUInt(), i);
  }
  EXPECT_EQ(request(*first, createDevice(9, *device_))["code"].asInt(), 1018);

  // Destroying one makes room; ids are never reused.
  EXPECT_EQ(request(*first, R"({"msgId": 10, "Fountion": "destroy", "DestroyObject": {"type": 1,
                               "Device": {"uniqueId": 3}}})")["code"]
                .asInt(),
            200);
  Json::Value reply = request(*first, createDevice(11, *device_));
  ASSERT_EQ(reply["code"].asInt(), 200);
  EXPECT_EQ(reply["uniqueId"].asUInt(), 9u);

  // Closing the connection releases every device it owns: a second page
  // then has all eight places.
  first->close();
  first.reset();
  WsClient second;
  ASSERT_TRUE(second.connect(shell.port()));
  bool created = false;
  for (int attempt = 0; attempt < 100 && !created; ++attempt) {
    reply = request(second, createDevice(12, *device_));
    created = reply["code"].asInt() == 200;
    if (!created) std::this_thread::sleep_for(50ms);  // the close is handled on the server's thread
  }
  ASSERT_TRUE(created);
  EXPECT_EQ(reply["uniqueId"].asUInt(), 10u);
  for (uint32_t i = 13; i <= 19; ++i) EXPECT_EQ(request(second, createDevice(i, *device_))["code"].asInt(), 200) << i;
  EXPECT_EQ(request(second, createDevice(20, *device_))["code"].asInt(), 1018);
}

// A page that opens connections and goes silent cannot keep them: the shell
// pings and cuts a connection that answers nothing, while a page whose
// browser answers the pings keeps its connection.
TEST_F(ShellEndToEnd, ASilentConnectionIsCutWhileOneThatAnswersPingsStays) {
  kstest::Watchdog watchdog(60s, "ASilentConnectionIsCut");
  constexpr auto kIdle = 400ms;
  ShellProcess::Options options;
  options.extraEnv = {"KESTROVA_WS_PING_INTERVAL_MS=50",
                      "KESTROVA_WS_IDLE_TIMEOUT_MS=" + std::to_string(kIdle.count())};
  ShellProcess shell(options);
  ASSERT_TRUE(shell.start());

  WsClient silent;
  WsClient answering;
  // The server's clock of silence starts once it accepted the connection,
  // so no cut can come sooner than the idle time after this moment.
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(silent.connect(shell.port()));
  ASSERT_TRUE(answering.connect(shell.port()));
  // receive() runs the client's I/O, which answers pings; the silent
  // client runs none.
  while (!silent.peerHasClosed() && std::chrono::steady_clock::now() - started < 20s) answering.receive(20ms);
  ASSERT_TRUE(silent.peerHasClosed());
  EXPECT_GE(std::chrono::steady_clock::now() - started, kIdle);
  EXPECT_EQ(request(answering, R"({"msgId": 5, "Fountion": "none"})")["code"].asInt(), 1000);
}

// Dock rectangles come from the page: a size beyond the desktop (the
// shell's headless desktop is 1920 x 1080) or offsets that would put the
// dock off it are refused before any window or memory is spent on them.
TEST_F(ShellEndToEnd, DockRectanglesBeyondTheDesktopAreRefused) {
  kstest::Watchdog watchdog(60s, "DockRectanglesBeyondTheDesktop");
  ShellProcess shell;
  ASSERT_TRUE(shell.start());
  WsClient page;
  ASSERT_TRUE(page.connect(shell.port()));
  const Json::Value created = request(page, createDevice(1, *device_));
  ASSERT_EQ(created["code"].asInt(), 200);
  const std::string device = created["uniqueId"].asString();

  const auto live = [&](const std::string& body) {
    return R"({"msgId": 2, "Fountion": "live", "LiveCtrl": {"uniqueId": )" + device + R"(, "channel": 0, )" + body +
           "}}";
  };
  const auto playback = [&](const std::string& body) {
    return R"({"msgId": 2, "Fountion": "playback", "PlaybackCtrl": {"uniqueId": )" + device + R"(, "channel": 0, )" +
           body + "}}";
  };
  const auto livePreview = [&](const std::string& rect) {
    return live(R"("type": 1, "Preview": {"title": "Cameras", "openAll": true, )" + rect + "}");
  };
  const auto liveMove = [&](const std::string& rect) { return live(R"("type": 10, "MoveDock": {)" + rect + "}"); };
  const auto playbackPreview = [&](const std::string& rect) {
    return playback(R"("type": 1, "Preview": {"title": "Recordings", "remote": true, "play": 1, )"
                    R"("playPos": "2024-05-06 10:00:00", )" +
                    rect + "}");
  };
  const auto playbackMove = [&](const std::string& rect) {
    return playback(R"("type": 9, "MoveDock": {)" + rect + "}");
  };
  struct Case {
    const char* name;
    std::string text;
    int code;
  };
  const std::vector<Case> cases = {
      {"live preview wider than the desktop", livePreview(R"("x": 0, "y": 0, "w": 1921, "h": 100)"), 1000},
      {"live preview at INT_MAX", livePreview(R"("x": 2147483647, "y": 0, "w": 2147483647, "h": 100)"), 1000},
      {"live preview far above", livePreview(R"("x": 0, "y": -1081, "w": 100, "h": 100)"), 1000},
      {"live move to 16384 squared", liveMove(R"("x": 0, "y": 0, "w": 16384, "h": 16384)"), 1000},
      {"live move at INT_MAX", liveMove(R"("x": 2147483647, "y": 2147483647, "w": 100, "h": 100)"), 1000},
      {"playback preview 8192 squared", playbackPreview(R"("x": 0, "y": 0, "w": 8192, "h": 8192)"), 1000},
      {"playback move at INT_MAX", playbackMove(R"("x": 0, "y": 0, "w": 100, "h": 2147483647)"), 1000},
      // The desktop's full size and negative offsets within it are fine.
      {"live move within the desktop", liveMove(R"("x": -20, "y": 60, "w": 1920, "h": 1080)"), 200},
      {"playback move within the desktop", playbackMove(R"("x": 1920, "y": -1080, "w": 640, "h": 480)"), 200},
  };
  for (const Case& c : cases) EXPECT_EQ(request(page, c.text)["code"].asInt(), c.code) << c.name;
}

// A reply that would pass the connection's output bound is never sent; the
// page gets the standard error reply for its request instead, and the
// connection goes on.
TEST_F(ShellEndToEnd, AReplyOverTheSendLimitArrivesAsAnErrorReply) {
  kstest::Watchdog watchdog(60s, "AReplyOverTheSendLimit");
  ShellProcess::Options options;
  options.extraEnv = {"KESTROVA_WS_SEND_LIMIT=4096"};
  ShellProcess shell(options);
  ASSERT_TRUE(shell.start());
  WsClient page;
  ASSERT_TRUE(page.connect(shell.port()));

  // 16-bit mono PCM at 8 kHz as a WAV file in base64.
  const auto wavBase64 = [](uint32_t samples) {
    std::string wav = "RIFF";
    const auto put = [&](uint32_t v, int bytes) {
      for (int i = 0; i < bytes; ++i) wav.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    put(36 + samples * 2, 4);
    wav += "WAVEfmt ";
    put(16, 4);
    put(1, 2);      // PCM
    put(1, 2);      // mono
    put(8000, 4);   // samples per second
    put(16000, 4);  // bytes per second
    put(2, 2);      // block align
    put(16, 2);     // bits per sample
    wav += "data";
    put(samples * 2, 4);
    for (uint32_t i = 0; i < samples; ++i) put((i * 37) & 0x7FFF, 2);
    return sys::base64Encode(wav);
  };
  const auto transcode = [&](uint32_t msgId, uint32_t samples) {
    return request(page, R"({"msgId": )" + std::to_string(msgId) +
                             R"(, "Fountion": "globalCtrl", "global": {"type": 4, "format": {"inputBase64": true,)"
                             R"( "ulaw": true, "base64Data": ")" +
                             wavBase64(samples) + R"("}}})");
  };
  // A short sound fits: the request itself is sound.
  const Json::Value small = transcode(76, 100);
  EXPECT_EQ(small["code"].asInt(), 200);
  EXPECT_FALSE(small["audio"].asString().empty());
  // One second is 8000 G.711 bytes, far more than 4096 once in base64.
  const Json::Value reply = transcode(77, 8000);
  EXPECT_EQ(reply["code"].asInt(), 1003);
  EXPECT_EQ(reply["msgId"].asUInt(), 77u);
  EXPECT_FALSE(reply.isMember("audio"));
  EXPECT_EQ(request(page, R"({"msgId": 78, "Fountion": "none"})")["msgId"].asUInt(), 78u);
}

TEST_F(ShellEndToEnd, SpeechIsSynthesisedThroughTheCloudService) {
  kstest::Watchdog watchdog(60s, "SpeechIsSynthesised");
  TestHttpServer tokens([](const TestHttpServer::Request&) {
    return TestHttpServer::reply(200, R"({"data": {"token": "page-token"}})");
  });
  const std::string audio = sys::base64Encode("RIFF-not-transcoded");
  TestHttpServer tts([&](const TestHttpServer::Request& request) {
    if (request.body().find("fail") != std::string::npos) {
      return TestHttpServer::reply(400, R"({"error_code": "SIS.0105", "error_msg": "text too long"})");
    }
    return TestHttpServer::reply(200, R"({"result": {"data": ")" + audio + R"("}})");
  });
  ShellProcess::Options options;
  options.extraEnv = {"KESTROVA_TOKEN_SERVER=" + tokens.url(), "KESTROVA_TTS_SERVER=" + tts.url(),
                      "KESTROVA_TTS_PROJECT=0123456789abcdef0123456789abcdef"};
  ShellProcess shell(options);
  ASSERT_TRUE(shell.start());
  WsClient page;
  ASSERT_TRUE(page.connect(shell.port()));

  Json::Value reply = request(page, R"({"msgId": 1, "Fountion": "globalCtrl", "global": {"type": 1,
                                         "tts": {"transParam": "{\"text\": \"hello\"}"}}})");
  EXPECT_EQ(reply["code"].asInt(), 200);
  EXPECT_EQ(reply["audio"].asString(), audio);
  ASSERT_EQ(tts.requests().size(), 1u);
  EXPECT_EQ(std::string(tts.requests()[0].target()), "/v1/0123456789abcdef0123456789abcdef/tts");
  EXPECT_EQ(tts.requests()[0]["X-Auth-Token"], "page-token");

  reply = request(page, R"({"msgId": 2, "Fountion": "globalCtrl", "global": {"type": 1,
                              "tts": {"transParam": "{\"text\": \"fail\"}"}}})");
  EXPECT_EQ(reply["code"].asInt(), 1019);
  EXPECT_EQ(reply["extError"].asString(), "SIS.0105");
  EXPECT_EQ(reply["msgId"].asUInt(), 2u);
}

// A page downloads ten recorded seconds as the device's frames: the start
// answers a task id, the polled percent climbs to 10005, the file holds the
// range's frames; the page cannot have an existing file replaced.
TEST_F(ShellEndToEnd, APageDownloadsARecordedRangeIntoANewFile) {
  kstest::Watchdog watchdog(120s, "APageDownloadsARecordedRange");
  ShellProcess shell;
  ASSERT_TRUE(shell.start());
  WsClient page;
  ASSERT_TRUE(page.connect(shell.port()));
  ASSERT_EQ(request(page, createDevice(1, *device_))["code"].asInt(), 200);

  const std::string target = shell.tmpDir() + "/clip.prv";
  const auto start = [&](const std::string& path) {
    return request(page, R"({"msgId": 2, "Fountion": "download", "DownloadParam": {"operate": 1, "uniqueId": 1,
        "Playback": {"channel": 0, "format": 2, "path": ")" +
                             path + R"(",
        "startTime": "2024-05-06 10:00:00", "endTime": "2024-05-06 10:00:09"}}})");
  };
  Json::Value reply = start(target);
  ASSERT_EQ(reply["code"].asInt(), 200);
  EXPECT_EQ(reply["taskId"].asUInt(), 1u);

  std::vector<uint32_t> percents;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (std::chrono::steady_clock::now() < deadline) {
    reply = request(page, R"({"msgId": 3, "Fountion": "download", "DownloadParam": {"operate": 2, "uniqueId": 1,
        "Query": {"taskId": 1}}})");
    ASSERT_EQ(reply["code"].asInt(), 200);
    percents.push_back(reply["percent"].asUInt());
    if (percents.back() == 10005) break;
  }
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(percents.back(), 10005u);
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));

  std::ifstream in(target, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t at = 0, pictures = 0;
  while (at + devlink::wire::kFrameHeaderSize <= bytes.size()) {
    uint32_t payload = 0;
    std::memcpy(&payload, bytes.data() + at + 24, 4);
    devlink::wire::FrameHeader header;
    const size_t size = devlink::wire::kFrameHeaderSize + payload;
    ASSERT_LE(at + size, bytes.size());
    ASSERT_TRUE(devlink::wire::parseFrame(std::span<const uint8_t>(bytes.data() + at, size), header));
    pictures += header.kind != devlink::wire::kAudioFrame;
    at += size;
  }
  EXPECT_EQ(at, bytes.size());
  EXPECT_EQ(pictures, 10u * 25);

  // The same path again names an existing file now: refused, file kept.
  EXPECT_EQ(start(target)["code"].asInt(), 3006);
  EXPECT_EQ(std::filesystem::file_size(target), bytes.size());
  EXPECT_EQ(request(page, R"({"msgId": 4, "Fountion": "download", "DownloadParam": {"operate": 3, "uniqueId": 1,
      "Interrupt": {"taskId": 1}}})")["code"]
                .asInt(),
            200);
}

// The page goes away while a long MP4 download runs: its device is released
// with the connection, which interrupts the download, and the file on disk
// is a whole, playable MP4 of what arrived, starting with a key frame.
TEST_F(ShellEndToEnd, APageThatGoesMidDownloadLeavesAPlayableMp4) {
  kstest::Watchdog watchdog(120s, "APageThatGoesMidDownload");
  ShellProcess shell;
  ASSERT_TRUE(shell.start());
  auto page = std::make_unique<WsClient>();
  ASSERT_TRUE(page->connect(shell.port()));
  ASSERT_EQ(request(*page, createDevice(1, *device_))["code"].asInt(), 200);
  const std::string target = shell.tmpDir() + "/evening.mp4";
  ASSERT_EQ(request(*page, R"({"msgId": 2, "Fountion": "download", "DownloadParam": {"operate": 1, "uniqueId": 1,
      "Playback": {"channel": 0, "format": 1, "path": ")" +
                               target + R"(",
      "startTime": "2024-05-06 14:00:00", "endTime": "2024-05-06 23:59:59"}}})")["code"]
                .asInt(),
            200);
  namespace fs = std::filesystem;
  const auto size = [&] {
    std::error_code ignored;
    const auto bytes = fs::file_size(target, ignored);
    return ignored ? uintmax_t{0} : bytes;
  };
  auto deadline = std::chrono::steady_clock::now() + 20s;
  while (size() < 256 * 1024 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
  ASSERT_GE(size(), 256u * 1024);
  page->close();
  page.reset();

  // The file stops growing once the download is interrupted.
  ASSERT_TRUE(kstest::settles(size, 300ms, 20s));
  const std::string command =
      "ffprobe -v error -select_streams v:0 -show_entries stream=codec_name "
      "-show_entries packet=flags -of default=noprint_wrappers=1 '" +
      target + "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  EXPECT_EQ(::pclose(pipe), 0) << out;
  EXPECT_NE(out.find("codec_name=h264"), std::string::npos) << out;
  const auto first = out.find("flags=");
  ASSERT_NE(first, std::string::npos) << out;
  EXPECT_EQ(out.compare(first, 7, "flags=K"), 0) << "the first packet is a key frame";
  size_t packets = 0;
  for (size_t at = first; at != std::string::npos; at = out.find("flags=", at + 1)) ++packets;
  EXPECT_GE(packets, 25u) << "at least a second of pictures";
}

}  // namespace
