// Recorded-video playback driven by a page, end to end in one process: the
// shell's dialog with its WebSocket server and the plug-in library on the
// headless desktop, a foreign browser window, and device simulators over
// real TCP whose recordings cover every day 00:00-06:00, 09:30-10:20,
// 10:40-12:00 and 14:00-23:59:59.
//
// Rates are measured between changes of the reported second, so that the
// one-second resolution of "nowPos" does not blur them.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/WindowApi.h"
#include "tests/support/LivePageHarness.h"
#include "tests/support/ChildTest.h"
#include "tests/support/Watchdog.h"
#include "tools/devsim/DevSimServer.h"


namespace {

using namespace std::chrono_literals;
using kstest::LivePageHarness;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr const char* kStart = "2024-05-06 10:00:00";
constexpr const char* kPreviewBody =
    R"("Preview": {"title": "Recordings", "x": 20, "y": 60, "w": 480, "h": 360, "remote": true, "play": 1,)"
    R"( "playPos": ")";

// Seconds of a "%Y-%m-%d %H:%M:%S" text read as a calendar time without a
// zone; differences between two of them are real seconds.
std::optional<int64_t> textSeconds(const std::string& text) {
  std::tm parts{};
  const char* end = ::strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &parts);
  if (end == nullptr || *end != '\0') return std::nullopt;
  return static_cast<int64_t>(::timegm(&parts));
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

uint32_t le32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
  return value;
}

// A page with one browser window and the devices a story needs.
class PlaybackPage {
 public:
  bool start(std::string* error) {
    if (!page_.start(error)) return false;
    page_.addBrowser("Recordings - Browser", ui::Rect{100, 50, 900, 650}, ui::Rect{108, 80, 892, 642});
    return true;
  }

  LivePageHarness& harness() { return page_; }

  // A "playback" command of `type` with the body members `body` (may be empty).
  Json::Value playback(uint32_t device, int type, const std::string& body, int channel = 0) {
    std::string control = R"({"type": )" + std::to_string(type) + R"(, "uniqueId": )" + std::to_string(device) +
                          R"(, "channel": )" + std::to_string(channel);
    if (!body.empty()) control += ", " + body;
    return page_.request(R"({"msgId": )" + std::to_string(++msgId_) + R"(, "Fountion": "playback", "PlaybackCtrl": )" +
                         control + "}}");
  }
  int code(uint32_t device, int type, const std::string& body, int channel = 0) {
    return playback(device, type, body, channel)["code"].asInt();
  }
  int preview(uint32_t device, const std::string& at, int channel = 0, const std::string& extra = "") {
    return code(device, 1, kPreviewBody + at + "\"" + extra + "}", channel);
  }
  int play(uint32_t device, int operation, int channel = 0) {
    return code(device, 1, R"("Preview": {"remote": true, "play": )" + std::to_string(operation) + "}", channel);
  }
  // The reported position; empty when the query failed.
  std::string nowPos(uint32_t device, int channel = 0) {
    const Json::Value reply = playback(device, 5, "", channel);
    return reply["code"].asInt() == 200 ? reply["nowPos"].asString() : std::string();
  }
  std::optional<int64_t> nowSeconds(uint32_t device, int channel = 0) { return textSeconds(nowPos(device, channel)); }

  // Recorded seconds per real second, between two changes of the reported
  // second at least `span` apart.
  std::optional<double> rate(uint32_t device, std::chrono::milliseconds span) {
    const auto deadline = Clock::now() + span * 4 + 4s;
    auto edge = [&](int64_t from) -> std::optional<std::pair<int64_t, Clock::time_point>> {
      while (Clock::now() < deadline) {
        const auto now = nowSeconds(device);
        if (!now) return std::nullopt;
        if (*now != from) return std::make_pair(*now, Clock::now());
        pump(10ms);
      }
      return std::nullopt;
    };
    const auto first = nowSeconds(device);
    if (!first) return std::nullopt;
    const auto a = edge(*first);
    if (!a) return std::nullopt;
    // Later edges until the span is covered.
    std::pair<int64_t, Clock::time_point> b = *a;
    while (b.second - a->second < span) {
      const auto next = edge(b.first);
      if (!next) return std::nullopt;
      b = *next;
    }
    const double real = std::chrono::duration<double>(b.second - a->second).count();
    return static_cast<double>(b.first - a->first) / real;
  }

  // Handles the user-interface messages for `span` (a rate needs real time
  // to pass; nothing else waits like this).
  static void pump(std::chrono::milliseconds span) {
    ui::pumpMessagesUntil([] { return false; }, span);
  }

  // The playback dock's window, or 0.
  static ui::HWND dock() {
    for (ui::HWND window : ui::getTopLevelWindows())
      if (ui::getClassName(window) == "CPlaybackManager") return window;
    for (ui::HWND window : ui::getChildWindows(ui::getDesktopWindow()))
      if (ui::getClassName(window) == "CPlaybackManager") return window;
    return 0;
  }

  // Whether the dock shows a picture within `limit`.
  bool dockShowsPicture(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
      const ui::HWND window = dock();
      if (window != 0 && ui::isWindowVisible(window)) {
        const ui::Rect r = ui::getWindowRect(window);
        const ui::Image image = page_.desktop().captureDesktop();
        if (LivePageHarness::pictureIn(image, ui::Rect{r.left + 10, r.top + 10, r.right - 10, r.bottom - 10})) return true;
      }
      pump(50ms);
    }
    return false;
  }

 private:
  LivePageHarness page_;
  int msgId_ = 100;
};

devsim::DevSimOptions simulatorOptions(int channels, bool liveOnly) {
  devsim::DevSimOptions options;
  options.commandPort = 0;
  options.mediaPort = 0;
  options.channels = channels;
  options.accounts = {{"admin", "admin", liveOnly}};
  return options;
}

class PlaybackFromPage : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    device_ = std::make_unique<devsim::DevSimServer>(simulatorOptions(2, false));
    ASSERT_TRUE(device_->start(&error)) << error;
    ASSERT_TRUE(page_.start(&error)) << error;
    id_ = page_.harness().createDevice(*device_, "00-11-22-33-55-01", 2);
    ASSERT_NE(id_, 0u);
  }
  void TearDown() override {
    page_.harness().stop();
    if (device_) device_->stop();
  }

  kstest::Watchdog watchdog_{150s, "PlaybackFromPage"};
  std::unique_ptr<devsim::DevSimServer> device_;
  PlaybackPage page_;
  uint32_t id_ = 0;
};

TEST_F(PlaybackFromPage, ADayPlaysAndFollowsThePagesControls) {
  ASSERT_EQ(page_.preview(id_, kStart), 200);
  // Before the first frame the position is the time asked for.
  EXPECT_EQ(page_.nowPos(id_), kStart);
  EXPECT_TRUE(page_.dockShowsPicture(10s)) << "the dock shows no picture";

  const auto normal = page_.rate(id_, 1500ms);
  ASSERT_TRUE(normal.has_value());
  EXPECT_NEAR(*normal, 1.0, 0.3);

  // One playback at a time, and commands for another channel leave it alone.
  EXPECT_EQ(page_.preview(id_, kStart, 1), 1012);
  struct OtherChannel {
    const char* what;
    int type;
    std::string body;
    int code;
  };
  const OtherChannel others[] = {
      {"pause", 1, R"("Preview": {"remote": true, "play": 2})", 1000},
      {"step", 1, R"("Preview": {"remote": true, "play": 4})", 1000},
      {"step back", 1, R"("Preview": {"remote": true, "play": 5})", 1000},
      {"stop", 1, R"("Preview": {"remote": true, "play": 3})", 200},
      {"speed", 2, R"("Speed": {"fast": true})", 1000},
      {"sound", 3, R"("Audio": {"mute": false})", 1000},
      {"seek", 4, R"("Position": {"newPos": "2024-05-06 15:00:00"})", 1000},
      {"position", 5, "", 1000},
  };
  for (const OtherChannel& other : others) {
    SCOPED_TRACE(other.what);
    EXPECT_EQ(page_.code(id_, other.type, other.body, 1), other.code);
  }
  const auto stillOurs = page_.nowSeconds(id_);
  ASSERT_TRUE(stillOurs.has_value());
  EXPECT_GE(*stillOurs, *textSeconds(kStart));
  EXPECT_LT(*stillOurs, *textSeconds(kStart) + 60);

  struct Rate {
    const char* what;
    std::string body;
    double expected;
    double tolerance;
  };
  const Rate rates[] = {
      {"fast", R"("Speed": {"fast": true})", 2.0, 0.5},
      {"normal", R"("Speed": {"revertToNormal": true})", 1.0, 0.3},
      {"slow", R"("Speed": {"fast": false})", 0.5, 0.2},
      {"normal again", R"("Speed": {"revertToNormal": true})", 1.0, 0.3},
  };
  for (const Rate& r : rates) {
    SCOPED_TRACE(r.what);
    ASSERT_EQ(page_.code(id_, 2, r.body), 200);
    const auto measured = page_.rate(id_, r.expected < 1 ? 2000ms : 1500ms);
    ASSERT_TRUE(measured.has_value());
    EXPECT_NEAR(*measured, r.expected, r.tolerance);
  }

  // Paused, the position stands; a second of frames stepped forward moves it
  // on and leaves it paused; stepping back goes back.
  ASSERT_EQ(page_.play(id_, 2), 200);
  const auto paused = page_.nowSeconds(id_);
  PlaybackPage::pump(1200ms);
  EXPECT_EQ(page_.nowSeconds(id_), paused);
  for (int i = 0; i < 30; ++i) ASSERT_EQ(page_.play(id_, 4), 200);
  auto stepped = page_.nowSeconds(id_);
  const auto steppedDeadline = Clock::now() + 3s;
  while (stepped == paused && Clock::now() < steppedDeadline) {
    PlaybackPage::pump(20ms);
    stepped = page_.nowSeconds(id_);
  }
  ASSERT_TRUE(stepped && paused);
  EXPECT_GE(*stepped, *paused + 1);
  EXPECT_LE(*stepped, *paused + 3);
  PlaybackPage::pump(1200ms);
  EXPECT_EQ(page_.nowSeconds(id_), stepped) << "a step leaves the stream paused";
  for (int i = 0; i < 40; ++i) ASSERT_EQ(page_.play(id_, 5), 200);
  auto back = page_.nowSeconds(id_);
  const auto backDeadline = Clock::now() + 3s;
  while (back == stepped && Clock::now() < backDeadline) {
    PlaybackPage::pump(20ms);
    back = page_.nowSeconds(id_);
  }
  ASSERT_TRUE(back.has_value());
  EXPECT_LT(*back, *stepped);
  // Pause again toggles back to playing.
  ASSERT_EQ(page_.play(id_, 2), 200);
  const auto resumed = page_.rate(id_, 1000ms);
  ASSERT_TRUE(resumed.has_value());
  EXPECT_NEAR(*resumed, 1.0, 0.4);

  // A picture of the recording at the stream's size, named as playback's.
  const Json::Value snapshot = page_.harness().request(
      R"({"msgId": 50, "Fountion": "snapshot", "Capture": {"uniqueId": )" + std::to_string(id_) +
      R"(, "channel": 0, "format": 1, "live": false}})");
  ASSERT_EQ(snapshot["code"].asInt(), 200) << snapshot.toStyledString();
  const std::string path = snapshot["actualPath"].asString();
  EXPECT_EQ(fs::path(path).filename().string().rfind("2_", 0), 0u) << path;
  const std::string bmp = readFile(path);
  ASSERT_GT(bmp.size(), 26u);
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(le32(bmp, 18), 704u);
  EXPECT_EQ(le32(bmp, 22) & 0x7FFFFFFF, 576u);
  // The live cell of the same channel has no picture from playback.
  EXPECT_NE(page_.harness().request(R"({"msgId": 51, "Fountion": "snapshot", "Capture": {"uniqueId": )" +
                                    std::to_string(id_) + R"(, "channel": 1, "format": 1, "live": false}})")["code"]
                .asInt(),
            200);

  // Sound on (twice: already on is no failure) and off.
  for (const char* mute : {"false", "false", "true", "true"}) {
    SCOPED_TRACE(mute);
    EXPECT_EQ(page_.code(id_, 3, std::string(R"("Audio": {"mute": )") + mute + "}"), 200);
  }

  // A seek into the gap from 10:20 to 10:40 lands on the next recording.
  ASSERT_EQ(page_.code(id_, 4, R"("Position": {"newPos": "2024-05-06 10:25:00"})"), 200);
  const int64_t next = *textSeconds("2024-05-06 10:40:00");
  std::optional<int64_t> landed;
  const auto seekDeadline = Clock::now() + 5s;
  while (Clock::now() < seekDeadline) {
    landed = page_.nowSeconds(id_);
    if (landed && *landed >= next) break;
    PlaybackPage::pump(20ms);
  }
  ASSERT_TRUE(landed.has_value());
  EXPECT_GE(*landed, next);
  EXPECT_LT(*landed, next + 5);

  // ShowDock 2 hides the player inside the dock, 1 shows it again.
  const std::vector<ui::HWND> cells = ui::getChildWindows(PlaybackPage::dock());
  ASSERT_EQ(cells.size(), 1u);
  ASSERT_EQ(page_.code(id_, 8, R"("ShowDock": {"showMode": 2})"), 200);
  EXPECT_FALSE(ui::isWindowVisible(cells.front()));
  ASSERT_EQ(page_.code(id_, 8, R"("ShowDock": {"showMode": 1})"), 200);
  EXPECT_TRUE(ui::isWindowVisible(cells.front()));

  // Fullscreen and aspect ratio are not offered.
  EXPECT_EQ(page_.code(id_, 6, R"("Fullscreen": {"enter": true})"), 1006);
  EXPECT_EQ(page_.code(id_, 7, R"("AspectRatio": {"ratio": true})"), 1006);

  // After a stop nothing plays: every playback command answers 1000.
  ASSERT_EQ(page_.play(id_, 3), 200);
  for (const OtherChannel& after : others) {
    if (after.type == 1 && std::strcmp(after.what, "stop") == 0) continue;
    SCOPED_TRACE(after.what);
    EXPECT_EQ(page_.code(id_, after.type, after.body, 0), 1000);
  }
  // Another channel may play now.
  EXPECT_EQ(page_.preview(id_, "2024-05-06 15:00:00", 1), 200);
  EXPECT_EQ(page_.nowPos(id_, 1), "2024-05-06 15:00:00");
  EXPECT_EQ(page_.play(id_, 3, 1), 200);
}

TEST_F(PlaybackFromPage, APreviewOfThePlayingChannelOnlyReturnsToNormalSpeed) {
  ASSERT_EQ(page_.preview(id_, kStart), 200);
  ASSERT_EQ(page_.code(id_, 2, R"("Speed": {"fast": true})"), 200);
  ASSERT_EQ(page_.play(id_, 2), 200);  // paused, at twice the rate
  // Asked again for the same channel at another time: it plays on from where
  // it is, at the normal rate.
  ASSERT_EQ(page_.preview(id_, "2024-05-06 16:00:00"), 200);
  const auto measured = page_.rate(id_, 1500ms);
  ASSERT_TRUE(measured.has_value());
  EXPECT_NEAR(*measured, 1.0, 0.3);
  const auto at = page_.nowSeconds(id_);
  ASSERT_TRUE(at.has_value());
  EXPECT_LT(*at, *textSeconds("2024-05-06 11:00:00"));
}

TEST_F(PlaybackFromPage, ALostDeviceStillHasEveryCommandAnswered) {
  ASSERT_EQ(page_.preview(id_, kStart), 200);
  ASSERT_TRUE(page_.nowSeconds(id_).has_value());
  device_->stop();
  const auto deadline = Clock::now() + 20s;
  const std::pair<int, std::string> commands[] = {
      {2, R"("Speed": {"fast": true})"},
      {3, R"("Audio": {"mute": false})"},
      {4, R"("Position": {"newPos": "2024-05-06 15:00:00"})"},
      {5, ""},
      {1, R"("Preview": {"remote": true, "play": 2})"},
  };
  for (const auto& [type, body] : commands) {
    SCOPED_TRACE(type);
    EXPECT_TRUE(page_.playback(id_, type, body).isMember("code"));
  }
  EXPECT_EQ(page_.play(id_, 3), 200);
  EXPECT_EQ(page_.code(id_, 5, ""), 1000);
  EXPECT_LT(Clock::now(), deadline);
}

TEST(PlaybackAccounts, ALiveOnlyAccountIsRefusedPlayback) {
  kstest::Watchdog watchdog(60s, "PlaybackAccounts");
  std::string error;
  devsim::DevSimServer device(simulatorOptions(1, true));
  ASSERT_TRUE(device.start(&error)) << error;
  PlaybackPage page;
  ASSERT_TRUE(page.start(&error)) << error;
  const uint32_t id = page.harness().createDevice(device, "00-11-22-33-55-02", 1);
  ASSERT_NE(id, 0u);
  EXPECT_EQ(page.preview(id, kStart), 3005);
  EXPECT_EQ(page.code(id, 5, ""), 1000);
  page.harness().stop();
  device.stop();
}

// Under the zone of this process, the page's time texts come back as given.
class ZoneStory : public ::testing::Test {
  void TestBody() override {
    kstest::Watchdog watchdog(60s, "PlaybackZone");
    std::string error;
    devsim::DevSimServer device(simulatorOptions(1, false));
    ASSERT_TRUE(device.start(&error)) << error;
    PlaybackPage page;
    ASSERT_TRUE(page.start(&error)) << error;
    const uint32_t id = page.harness().createDevice(device, "00-11-22-33-55-03", 1);
    ASSERT_NE(id, 0u);
    ASSERT_EQ(page.preview(id, kStart), 200);
    EXPECT_EQ(page.nowPos(id), kStart);
    ASSERT_EQ(page.code(id, 4, R"("Position": {"newPos": "2024-05-06 14:30:00"})"), 200);
    const int64_t target = *textSeconds("2024-05-06 14:30:00");
    std::string text;
    const auto deadline = Clock::now() + 5s;
    while (Clock::now() < deadline) {
      text = page.nowPos(id);
      const auto at = textSeconds(text);
      if (at && *at > target) break;
      PlaybackPage::pump(20ms);
    }
    const auto at = textSeconds(text);
    ASSERT_TRUE(at.has_value()) << text;
    EXPECT_GE(*at, target) << text;
    EXPECT_LT(*at, target + 5) << text;
    page.harness().stop();
    device.stop();
  }
};

const bool kChildStories = [] {
  if (!kstest::inChildTest()) return false;
  ::testing::RegisterTest("PlaybackChild", "TheSameTextsInTheZoneOfThisProcess", nullptr, nullptr, __FILE__,
                          __LINE__, []() -> ::testing::Test* { return new ZoneStory; });
  return true;
}();

TEST(PlaybackZones, TheSameTextsUnderNewYorkTime) {
  kstest::Watchdog watchdog(90s, "PlaybackZones");
  if (kstest::inChildTest()) GTEST_SKIP() << "runs in the parent only";
  const int status = kstest::runTestsInChild("PlaybackChild.*", {"TZ=America/New_York"});
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
