// A page's commands against devices that misbehave on purpose (devsim's
// hostile modes), end to end in one process: the shell's dialog with its
// WebSocket server and the plug-in library on the headless desktop, and a
// simulator over real TCP per mode. Whatever the device does, every command
// is answered with a code within the reply time-out, nothing crashes, and
// afterwards a well-behaved device logs in and plays.
#include <gtest/gtest.h>
#include <json/value.h>
#include <json/writer.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/LivePageHarness.h"
#include "tests/support/Watchdog.h"
#include "tools/devsim/DevSimServer.h"
#include "tools/devsim/HostileMode.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using devsim::HostileMode;
using kstest::LivePageHarness;

// The library gives a device 15 s per request, so a command may take one
// request time-out and the page's own round trip (removing a device whose
// download is stuck behind a trickling connection included: the download
// closes its stream without asking the device to stop first).
constexpr auto kAnswerLimit = 15s + 5s;

class HostileDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(page_.start(&error)) << error;
    page_.addBrowser("Hostile - Browser", ui::Rect{100, 50, 900, 650}, ui::Rect{108, 80, 892, 642});
  }
  void TearDown() override { page_.stop(); }

  static std::unique_ptr<devsim::DevSimServer> simulator(HostileMode mode) {
    std::string error;
    auto device = LivePageHarness::startSimulator(2, &error, mode);
    EXPECT_TRUE(device) << error;
    return device;
  }

  // Sends a command and checks that it was answered with a code in time. A
  // reply to another command (one that came too late before) is set aside;
  // a command that is not answered in time is still waited for, so that
  // its late reply is not taken for the next command's.
  Json::Value answered(const std::string& what, const std::string& text) {
    const int id = msgId_;
    const auto begin = Clock::now();
    Json::Value reply = page_.request(text);
    const auto ours = [id](const Json::Value& v) { return v.isMember("code") && v["msgId"].asInt() == id; };
    if (!ours(reply)) reply = page_.waitPush(ours, kAnswerLimit + 10s);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin);
    EXPECT_TRUE(ours(reply)) << what << " was not answered";
    EXPECT_LT(took, kAnswerLimit) << what << " took " << took.count() << " ms";
    return reply;
  }

  std::string createText(const devsim::DevSimServer& device) {
    const auto id = ++msgId_;
    return R"({"msgId": )" + std::to_string(id) +
           R"(, "Fountion": "createDev", "Device": {"MAC": "00-11-22-33-66-)" + std::to_string(10 + id % 80) +
           R"(", "totalChannel": 2, "cmdPort": )" + std::to_string(device.commandPort()) + R"(, "mediaPort": )" +
           std::to_string(device.mediaPort()) +
           R"(, "stream": [2, 2], "resShowBitrate": "Bitrate", "resMainStream": "Main", "resSubStream": "Sub",)"
           R"( "resThirdStream": "Third"}, "Auth": {"usr": "admin", "pwd": "admin", "address": "127.0.0.1"}})";
  }
  std::string command(const std::string& function, const std::string& member, const std::string& body) {
    return R"({"msgId": )" + std::to_string(++msgId_) + R"(, "Fountion": ")" + function + R"(", ")" + member +
           R"(": )" + body + "}";
  }
  std::string livePreview(const std::string& device) {
    return command("live", "LiveCtrl",
                   R"({"type": 1, "uniqueId": )" + device +
                       R"(, "channel": 0, "Preview": {"title": "Hostile", "x": 20, "y": 60, "w": 320, "h": 240}})");
  }
  std::string destroy(const std::string& device) {
    return command("destroy", "DestroyObject", R"({"type": 1, "Device": {"uniqueId": )" + device + "}}");
  }

  LivePageHarness page_;
  int msgId_ = 0;
  kstest::Watchdog watchdog_{290s, "HostileDeviceTest"};
};

// Login, live view, playback with its position, a download with its
// progress, and the device's removal, against each way a device misbehaves.
TEST_F(HostileDeviceTest, EveryCommandIsAnsweredAndAWellBehavedDevicePlaysAfterwards) {
  const std::vector<HostileMode> modes{
      HostileMode::kStallLogin,  HostileMode::kCloseLogin,  HostileMode::kSlowReplies,
      HostileMode::kTrickle,     HostileMode::kStallStream, HostileMode::kDropMidFrame,
      HostileMode::kHugePicture, HostileMode::kCloseStream, HostileMode::kCloseDownload,
  };
  for (HostileMode mode : modes) {
    const std::string name(devsim::hostileModeName(mode));
    SCOPED_TRACE(name);
    auto device = simulator(mode);
    ASSERT_TRUE(device);
    const Json::Value created = answered("createDev", createText(*device));
    // The library logs in later, on first use: the device is created
    // whatever its login will do. One that was not created is asked for an
    // id nobody has.
    const std::string id = created["code"].asInt() == 200 ? created["uniqueId"].asString() : "999";

    answered("live preview", livePreview(id));
    answered("playback preview",
             command("playback", "PlaybackCtrl",
                     R"({"type": 1, "uniqueId": )" + id +
                         R"(, "channel": 1, "Preview": {"title": "Hostile", "x": 360, "y": 60, "w": 320, "h": 240,)"
                         R"( "remote": true, "play": 1, "playPos": "2024-05-06 10:00:00"}})"));
    answered("playback position",
             command("playback", "PlaybackCtrl", R"({"type": 5, "uniqueId": )" + id + R"(, "channel": 1})"));
    const Json::Value download = answered(
        "download", command("download", "DownloadParam",
                            R"({"operate": 1, "uniqueId": )" + id +
                                R"(, "Playback": {"channel": 0, "format": 2, "path": ")" + page_.tmpDir() + "/" + name +
                                R"(.prv", "startTime": "2024-05-06 10:00:00", "endTime": "2024-05-06 10:00:09"}})"));
    const std::string task = download.isMember("taskId") ? download["taskId"].asString() : "1";
    for (int i = 0; i < 3; ++i) {
      answered("download progress",
               command("download", "DownloadParam",
                       R"({"operate": 2, "uniqueId": )" + id + R"(, "Query": {"taskId": )" + task + "}}"));
    }
    answered("destroy", destroy(id));
    device->stop();
  }

  // The same library with a device that behaves: it logs in and its live
  // stream runs.
  auto good = simulator(HostileMode::kNone);
  ASSERT_TRUE(good);
  const Json::Value created = answered("createDev", createText(*good));
  ASSERT_EQ(created["code"].asInt(), 200) << created;
  const std::string id = created["uniqueId"].asString();
  EXPECT_EQ(answered("live preview", livePreview(id))["code"].asInt(), 200);
  const auto deadline = Clock::now() + 10s;
  bool playing = false;
  page_.asPage([&] {
    while (!playing && Clock::now() < deadline) {
      playing = good->streamCount() >= 1 && good->picturesSent() >= 25;
      if (!playing) std::this_thread::sleep_for(20ms);
    }
  });
  EXPECT_TRUE(playing);
  EXPECT_EQ(answered("destroy", destroy(id))["code"].asInt(), 200);
}

}  // namespace
