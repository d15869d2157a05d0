// Local recording driven by a page, end to end in one process: the shell's
// dialog with its WebSocket server and the plug-in library on the headless
// desktop, a foreign browser window, and device simulators over real TCP.
// Each story records live cells, stops, and checks the reply, the page's
// download push, the file behind the push's URL and, with ffprobe, that the
// file is the MP4 the device's stream should give.
//
// The MP4 files need the stream converter; in a build without it those
// stories are skipped and the page is told 1006 instead.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/HttpGet.h"
#include "tests/support/LivePageHarness.h"
#include "tests/support/Watchdog.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using namespace std::chrono_literals;
using kstest::LivePageHarness;
namespace fs = std::filesystem;

constexpr const char* kMacA = "00-11-22-33-44-88";
constexpr const char* kMacB = "00-11-22-33-44-99";

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What ffprobe reads from a file.
struct Probe {
  bool ok = false;
  std::string videoCodec;
  int width = 0;
  int height = 0;
  double duration = 0;
  std::string audioCodec;  // empty: no audio stream
  int sampleRate = 0;
  int channels = 0;
};

Probe probe(const std::string& path) {
  Probe result;
  const std::string command =
      "ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,sample_rate,channels"
      " -show_entries format=duration -of json '" +
      path + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  std::string text;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
  if (::pclose(pipe) != 0) return result;
  const Json::Value value = LivePageHarness::parse(text);
  for (const Json::Value& stream : value["streams"]) {
    if (stream["codec_type"].asString() == "video") {
      result.videoCodec = stream["codec_name"].asString();
      result.width = stream["width"].asInt();
      result.height = stream["height"].asInt();
    } else if (stream["codec_type"].asString() == "audio") {
      result.audioCodec = stream["codec_name"].asString();
      result.sampleRate = std::atoi(stream["sample_rate"].asString().c_str());
      result.channels = stream["channels"].asInt();
    }
  }
  result.duration = std::atof(value["format"]["duration"].asString().c_str());
  result.ok = !result.videoCodec.empty();
  return result;
}

std::vector<std::string> mp4Files(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.path().extension() == ".mp4") files.push_back(entry.path().string());
  return files;
}

class RecordingFromPage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    watchdog_ = std::make_unique<kstest::Watchdog>(200s, "RecordingFromPage");
    std::string error;
    devsim::DevSimOptions options;
    options.commandPort = 0;
    options.mediaPort = 0;
    options.channels = 4;
    options.loopSeconds = 1;
    deviceA_ = std::make_unique<devsim::DevSimServer>(options);
    options.channels = 1;
    options.audioFormat = 0;  // no sound
    deviceB_ = std::make_unique<devsim::DevSimServer>(options);
    if (!deviceA_->start(&error) || !deviceB_->start(&error)) {
      setupError_ = "simulator: " + error;
      return;
    }
    page_ = std::make_unique<LivePageHarness>();
    if (!page_->start(&error)) {
      setupError_ = "page: " + error;
      return;
    }
    page_->addBrowser("Recorder - Browser", ui::Rect{100, 50, 900, 650}, ui::Rect{108, 80, 892, 642});
    idA_ = page_->createDevice(*deviceA_, kMacA, 4);
    idB_ = page_->createDevice(*deviceB_, kMacB, 1);
    if (idA_ == 0 || idB_ == 0) {
      setupError_ = "createDev failed";
      return;
    }
    for (uint32_t id : {idA_, idB_}) {
      const Json::Value preview = page_->live(
          id, 2, 1,
          R"("Preview": {"title": "Recorder", "layout": 4, "x": 20, "y": 60, "w": 640, "h": 480, "openAll": true})");
      if (preview["code"].asInt() != 200) {
        setupError_ = "Preview: " + preview.toStyledString();
        return;
      }
    }
  }

  static void TearDownTestSuite() {
    removeConfig();
    page_.reset();
    if (deviceA_) deviceA_->stop();
    if (deviceB_) deviceB_->stop();
    deviceA_.reset();
    deviceB_.reset();
    watchdog_.reset();
  }

  void SetUp() override {
    ASSERT_TRUE(setupError_.empty()) << setupError_;
    page_->pushes().clear();
  }

  // The configuration file beside this test program, read by the library.
  static std::string configPath() { return fs::read_symlink("/proc/self/exe").parent_path() / "config.ini"; }
  static void removeConfig() {
    std::error_code ignored;
    fs::remove(configPath(), ignored);
  }

  static Json::Value record(uint32_t device, int channel, bool start, int msgId = 60) {
    return page_->request(R"({"msgId": )" + std::to_string(msgId) +
                          R"(, "Fountion": "record", "VideoRecord": {"uniqueId": )" + std::to_string(device) +
                          R"(, "channel": )" + std::to_string(channel) + R"(, "start": )" + (start ? "true" : "false") +
                          "}}");
  }

  static Json::Value destroy(uint32_t device, int msgId) {
    return page_->request(R"({"msgId": )" + std::to_string(msgId) +
                          R"(, "Fountion": "destroy", "DestroyObject": {"type": 1, "Device": {"uniqueId": )" +
                          std::to_string(device) + "}}}");
  }

  // The library's private work root in the page's temporary folder.
  static std::string workRoot() { return page_->tmpDir() + "/Kestrova-" + std::to_string(::geteuid()); }

  static std::string videoFolder(const std::string& mac, int channel) {
    return workRoot() + "/Video/" + mac + "/" + std::to_string(channel);
  }

  // The next file-ready push of a video of `device`'s `channel`.
  static Json::Value videoPush(uint32_t device, int channel, std::chrono::milliseconds limit) {
    return page_->waitPush(
        [&](const Json::Value& push) {
          const Json::Value& detail = push["PushDetail"];
          return detail["type"].asInt() == 4 && detail["uniqueId"].asUInt() == device &&
                 detail["channel"].asInt() == channel && detail["HttpDownload"]["type"].asInt() == 1;
        },
        limit);
  }

  // Lets the cells play (and record) for `span`, the pushes kept.
  static void play(std::chrono::milliseconds span) {
    page_->waitPush([](const Json::Value&) { return false; }, span);
  }

  static inline std::unique_ptr<kstest::Watchdog> watchdog_;
  static inline std::unique_ptr<devsim::DevSimServer> deviceA_;
  static inline std::unique_ptr<devsim::DevSimServer> deviceB_;
  static inline std::unique_ptr<LivePageHarness> page_;
  static inline std::string setupError_;
  static inline uint32_t idA_ = 0;
  static inline uint32_t idB_ = 0;
};

// Three seconds of a channel with sound and of one without: the stop answers
// the channel's folder, the page is offered the file within a second, the
// download server hands out its bytes, and ffprobe reads the stream's codec,
// size, length and sound.
TEST_F(RecordingFromPage, ThreeSecondsAreOfferedForDownloadAsPlayableMp4) {
  const Json::Value started = record(idA_, 0, true);
  ASSERT_EQ(started["code"].asInt(), 200) << started;
  EXPECT_FALSE(started.isMember("actualPath"));
  ASSERT_EQ(record(idB_, 0, true)["code"].asInt(), 200);
  play(3s);
  struct Expect {
    uint32_t device;
    const char* mac;
    bool sound;
  };
  for (const Expect& e : {Expect{idA_, kMacA, true}, Expect{idB_, kMacB, false}}) {
    SCOPED_TRACE(e.mac);
    const Json::Value stopped = record(e.device, 0, false);
    ASSERT_EQ(stopped["code"].asInt(), 200) << stopped;
    const std::string folder = videoFolder(e.mac, 0);
    EXPECT_EQ(stopped["actualPath"].asString(), folder);
    const Json::Value push = videoPush(e.device, 0, 1s);
    ASSERT_FALSE(push.isNull()) << "no download offered within a second";
    const auto files = mp4Files(folder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(fs::path(files[0]).filename().string().rfind("1_", 0), 0u) << files[0];
    std::optional<std::string> fetched;
    page_->asPage([&] { fetched = kstest::httpGet(push["PushDetail"]["HttpDownload"]["url"].asString()); });
    ASSERT_TRUE(fetched.has_value()) << push;
    EXPECT_EQ(*fetched, readFile(files[0]));
    const Probe p = probe(files[0]);
    ASSERT_TRUE(p.ok) << files[0];
    EXPECT_EQ(p.videoCodec, "h264");
    EXPECT_EQ(p.width, 1280);
    EXPECT_EQ(p.height, 720);
    EXPECT_NEAR(p.duration, 3.0, 0.6);
    if (e.sound) {
      EXPECT_EQ(p.audioCodec, "aac");
      EXPECT_EQ(p.sampleRate, 8000);
      EXPECT_EQ(p.channels, 1);
    } else {
      EXPECT_EQ(p.audioCodec, "");
    }
  }
}

// [Record] Duration=2: one file of about two seconds is offered and no
// second one follows while the cell still records; stopping answers where it
// went, and a new start makes a second file.
TEST_F(RecordingFromPage, TheConfiguredDurationEndsTheFileUntilThePageStartsAgain) {
  { std::ofstream(configPath()) << "[Record]\nDuration=2\n"; }
  const std::string folder = videoFolder(kMacA, 1);
  ASSERT_EQ(record(idA_, 1, true)["code"].asInt(), 200);
  ASSERT_FALSE(videoPush(idA_, 1, 8s).isNull());
  removeConfig();
  auto files = mp4Files(folder);
  ASSERT_EQ(files.size(), 1u);
  const Probe p = probe(files[0]);
  ASSERT_TRUE(p.ok);
  EXPECT_GE(p.duration, 2.0);
  EXPECT_LE(p.duration, 3.04);
  EXPECT_TRUE(videoPush(idA_, 1, 2500ms).isNull()) << "a second file while still recording";
  const Json::Value stopped = record(idA_, 1, false);
  ASSERT_EQ(stopped["code"].asInt(), 200);
  EXPECT_EQ(stopped["actualPath"].asString(), folder);

  ASSERT_EQ(record(idA_, 1, true)["code"].asInt(), 200);
  play(1500ms);
  ASSERT_EQ(record(idA_, 1, false)["code"].asInt(), 200);
  ASSERT_FALSE(videoPush(idA_, 1, 1s).isNull());
  files = mp4Files(folder);
  ASSERT_EQ(files.size(), 2u);
  for (const std::string& file : files) EXPECT_TRUE(probe(file).ok) << file;
}

// Closing one recording cell discards its own unoffered file only; the
// other channel's recording goes on and is offered when stopped.
TEST_F(RecordingFromPage, AnotherChannelsRecordingSurvivesAClosedCell) {
  ASSERT_EQ(record(idA_, 2, true)["code"].asInt(), 200);
  ASSERT_EQ(record(idA_, 3, true)["code"].asInt(), 200);
  play(1500ms);
  const Json::Value closed = page_->live(idA_, 70, 1, R"("Preview": {"title": "Recorder", "open": false})", 2);
  ASSERT_EQ(closed["code"].asInt(), 200) << closed;
  EXPECT_TRUE(ui::pumpMessagesUntil([] { return mp4Files(videoFolder(kMacA, 2)).empty(); }, 3s));
  ASSERT_EQ(record(idA_, 3, false)["code"].asInt(), 200);
  ASSERT_FALSE(videoPush(idA_, 3, 1s).isNull());
  const auto kept = mp4Files(videoFolder(kMacA, 3));
  ASSERT_EQ(kept.size(), 1u);
  const Probe p = probe(kept[0]);
  EXPECT_TRUE(p.ok);
  EXPECT_GT(p.duration, 1.0);
  for (const Json::Value& push : page_->pushes())
    EXPECT_FALSE(push["PushDetail"]["type"].asInt() == 4 && push["PushDetail"]["channel"].asInt() == 2) << push;
}

// A MAC text that would climb out of the video folder records nothing and
// deletes nothing, whatever the page does with the device.
TEST_F(RecordingFromPage, ADeviceWhoseMacIsDotDotRecordsNothingAndDeletesNothing) {
  const std::string mine = page_->tmpDir() + "/keep.txt";
  const std::string other = workRoot() + "/Video/keep.txt";
  ::mkdir(workRoot().c_str(), 0700);
  fs::create_directories(workRoot() + "/Video");
  { std::ofstream(mine) << "mine"; }
  { std::ofstream(other) << "other"; }
  const uint32_t id = page_->createDevice(*deviceA_, "..", 1);
  ASSERT_NE(id, 0u);
  ASSERT_EQ(page_
                ->live(id, 2, 1,
                       R"("Preview": {"title": "Recorder", "layout": 1, "x": 20, "y": 60,)"
                       R"( "w": 320, "h": 240, "openAll": true})")["code"]
                .asInt(),
            200);
  EXPECT_EQ(record(id, 0, true)["code"].asInt(), 3006);
  play(500ms);
  const Json::Value stopped = record(id, 0, false);
  EXPECT_EQ(stopped["code"].asInt(), 200);
  EXPECT_EQ(stopped["actualPath"].asString(), "");
  EXPECT_EQ(destroy(id, 80)["code"].asInt(), 200);
  EXPECT_EQ(readFile(mine), "mine");
  EXPECT_EQ(readFile(other), "other");
}

// A device destroyed while it records: the file offered before stays whole
// and playable, the running one ends as if the page had stopped it and is
// kept, playable too; nothing crashes. Last: the device is gone afterwards.
TEST_F(RecordingFromPage, DestroyWhileRecordingLeavesTheOfferedFilesPlayable) {
  const std::string folder = videoFolder(kMacB, 0);
  for (const std::string& file : mp4Files(folder)) fs::remove(file);
  ASSERT_EQ(record(idB_, 0, true)["code"].asInt(), 200);
  play(1500ms);
  ASSERT_EQ(record(idB_, 0, false)["code"].asInt(), 200);
  ASSERT_FALSE(videoPush(idB_, 0, 1s).isNull());
  const auto offered = mp4Files(folder);
  ASSERT_EQ(offered.size(), 1u);
  const std::string bytes = readFile(offered[0]);
  ASSERT_EQ(record(idB_, 0, true)["code"].asInt(), 200);
  play(1000ms);
  EXPECT_EQ(destroy(idB_, 81)["code"].asInt(), 200);
  // The recorder's worker finalises the running file and keeps it.
  std::vector<std::string> files;
  EXPECT_TRUE(ui::pumpMessagesUntil(
      [&] {
        files = mp4Files(folder);
        return files.size() == 2;
      },
      3s));
  EXPECT_EQ(readFile(offered[0]), bytes);
  for (const std::string& file : files) EXPECT_TRUE(probe(file).ok) << file;
  idB_ = 0;
}

}  // namespace
