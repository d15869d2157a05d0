// Live view opened from a page, end to end in one process: the shell's hidden
// dialog with its WebSocket server and the plug-in library run on this
// test's main thread (the user-interface thread) on the headless desktop,
// while a client thread plays the page. A foreign "browser" window belongs to
// this process, so the page's TCP port leads the library to it. The device
// is the device simulator over real TCP.
//
// The library starts once per process, so one test walks the whole story:
// the dock handshake, the picture in every cell over the browser, captions,
// supervision moving and hiding the dock, layout and full-screen commands,
// and a snapshot fetched over the download server.
#include <gtest/gtest.h>
#include <json/writer.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sys/Utf.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/backends/HeadlessDesktop.h"
#include "tests/support/HttpGet.h"
#include "tests/support/LivePageHarness.h"
#include "tests/support/Watchdog.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using namespace std::chrono_literals;
using kstest::LivePageHarness;
constexpr auto collectDescendants = &kstest::LivePageHarness::collectDescendants;
using ui::HWND;
using ui::Rect;

const Rect kBrowserFrame{100, 50, 900, 650};
const Rect kBrowserClient{108, 80, 892, 642};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class LiveFromPage : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    device_ = LivePageHarness::startSimulator(4, &error);
    ASSERT_TRUE(device_) << error;
    ASSERT_TRUE(page_.start(&error)) << error;
  }

  void TearDown() override {
    page_.stop();
    if (device_) device_->stop();
  }

  // Pumps until a capture of the desktop satisfies `check`.
  bool desktopShows(const std::function<bool(const ui::Image&)>& check, std::chrono::seconds limit = 10s) {
    return ui::pumpMessagesUntil([&] { return check(page_.desktop().captureDesktop()); }, limit);
  }

  // The whole story, with the device's logins and streams, under one limit.
  kstest::Watchdog watchdog_{120s, "LiveFromPage"};
  LivePageHarness page_;
  std::unique_ptr<devsim::DevSimServer> device_;
};

TEST_F(LiveFromPage, PreviewOpensTheDockOverTheBrowserAndItFollowsThePage) {
  // The page's browser: a window of this process, as the page's socket is.
  const HWND browser = page_.addBrowser("Camera Wall - Browser", kBrowserFrame, kBrowserClient);
  ASSERT_NE(browser, 0u);

  const Json::Value created = page_.request(
      R"({"msgId": 1, "Fountion": "createDev", "Device": {"MAC": "00-11-22-33-44-55", "totalChannel": 4, "cmdPort": )" +
      std::to_string(device_->commandPort()) + R"(, "mediaPort": )" + std::to_string(device_->mediaPort()) +
      R"(, "stream": [2, 2, 2, 2], "resShowBitrate": "Bitrate", "resMainStream": "Main", "resSubStream": "Sub",)"
      R"( "resThirdStream": "Third"}, "Auth": {"usr": "admin", "pwd": "admin", "address": "127.0.0.1"}})");
  ASSERT_EQ(created["code"].asInt(), 200) << created;
  const uint32_t id = created["uniqueId"].asUInt();
  ASSERT_NE(id, 0u);
  const std::string device = std::to_string(id);
  auto live = [&](int msgId, const std::string& type, const std::string& body, int channel = 0) {
    return page_.request(R"({"msgId": )" + std::to_string(msgId) + R"(, "Fountion": "live", "LiveCtrl": {"type": )" +
                         type + R"(, "uniqueId": )" + device + R"(, "channel": )" + std::to_string(channel) + ", " +
                         body + "}}");
  };

  // The first Preview finds no dock: the shell has it created on this
  // thread and repeats the command, whose answer is the reply.
  const Json::Value preview =
      live(2, "1",
           R"("Preview": {"title": "camera wall", "layout": 2, "x": 20, "y": 60, "w": 640, "h": 480,)"
           R"( "openAll": true, "channelName": ["Gate", "Yard", "Hall", "Roof"]})");
  ASSERT_EQ(preview["code"].asInt(), 200) << preview;
  EXPECT_EQ(preview["msgId"].asInt(), 2);

  ASSERT_EQ(LivePageHarness::docks().size(), 1u);
  const HWND dock = LivePageHarness::docks().front();
  // Over the browser: its frame's left moved by half the border (8 of the
  // 16 units between frame and client width), plus the page offsets.
  const Rect expected{128, 110, 768, 590};
  EXPECT_EQ(ui::getWindowRect(dock), expected);
  EXPECT_EQ(ui::getWindowOwner(dock), browser);

  // Four cells in a 2 x 2 grid, each playing its channel.
  const int halfW = expected.width() / 2;
  const int halfH = expected.height() / 2;
  std::vector<Rect> quarters;
  for (int row = 0; row < 2; ++row)
    for (int column = 0; column < 2; ++column) {
      const int left = expected.left + column * halfW;
      const int top = expected.top + row * halfH;
      // Inside the cell, below its label row and clear of the borders.
      quarters.push_back(Rect{left + 10, top + 30, left + halfW - 10, top + halfH - 10});
    }
  EXPECT_TRUE(desktopShows([&](const ui::Image& image) {
    for (const Rect& quarter : quarters)
      if (!LivePageHarness::pictureIn(image, quarter)) return false;
    return true;
  })) << "not every cell shows its picture";
  EXPECT_GE(device_->streamCount(), 4);

  // The captions came from the page.
  std::vector<HWND> parts;
  collectDescendants(dock, parts);
  std::vector<std::u16string> texts;
  for (HWND part : parts) texts.push_back(ui::getWindowTextW(part));
  for (const std::u16string name : {u"Gate", u"Yard", u"Hall", u"Roof"})
    EXPECT_NE(std::find(texts.begin(), texts.end(), name), texts.end()) << sys::utf16ToUtf8(name);

  // The browser moves: the next supervision pass brings the dock along.
  ASSERT_TRUE(
      page_.desktop().moveForeignWindow(browser, {300, 150, 1100, 750}, std::nullopt, Rect{308, 180, 1092, 742}));
  EXPECT_TRUE(ui::pumpMessagesUntil([&] { return ui::getWindowRect(dock).left == 328; }, 5s));
  EXPECT_EQ(ui::getWindowRect(dock), (Rect{328, 210, 968, 690}));

  // Minimised, the browser takes the dock out of sight; restored, it is back.
  page_.desktop().setForeignState(browser, true, false);
  EXPECT_TRUE(ui::pumpMessagesUntil([&] { return !ui::isWindowVisible(dock); }, 5s));
  page_.desktop().setForeignState(browser, false, false);
  EXPECT_TRUE(ui::pumpMessagesUntil([&] { return ui::isWindowVisible(dock); }, 5s));

  // Types that are no layout are refused and the dock keeps its cells.
  for (int count = 7; count <= 14; ++count) {
    EXPECT_EQ(live(10 + count, "11", R"("Split": {"Count": )" + std::to_string(count) + "}")["code"].asInt(), 200);
  }
  const Rect moved{328, 210, 968, 690};
  EXPECT_EQ(ui::getWindowRect(dock), moved);
  EXPECT_TRUE(desktopShows([&](const ui::Image& image) {
    for (Rect quarter : quarters) {
      quarter = Rect{quarter.left + 200, quarter.top + 100, quarter.right + 200, quarter.bottom + 100};
      if (!LivePageHarness::pictureIn(image, quarter)) return false;
    }
    return true;
  })) << "a refused layout changed the cells";

  // Full screen on and off from the page, then on again and off by Escape.
  EXPECT_EQ(live(30, "5", R"("Fullscreen": {"enter": true})")["code"].asInt(), 200);
  const ui::Size screen = ui::getPrimaryScreenSize();
  EXPECT_EQ(ui::getWindowRect(dock), (Rect{0, 0, screen.cx, screen.cy}));
  EXPECT_EQ(live(31, "5", R"("Fullscreen": {"enter": true})")["code"].asInt(), 200);
  EXPECT_EQ(ui::getWindowRect(dock), moved);
  EXPECT_EQ(live(32, "5", R"("Fullscreen": {"enter": true})")["code"].asInt(), 200);
  page_.desktop().pressKey(ui::VK_ESCAPE);
  EXPECT_TRUE(ui::pumpMessagesUntil([&] { return ui::getWindowRect(dock) == moved; }, 5s));

  // The page moves and resizes the dock inside its page area.
  EXPECT_EQ(live(33, "10", R"("MoveDock": {"x": 0, "y": 0, "w": 320, "h": 240})")["code"].asInt(), 200);
  EXPECT_EQ(ui::getWindowRect(dock), (Rect{308, 150, 628, 390}));
  // Hidden and shown again by the page.
  EXPECT_EQ(live(34, "9", R"("ShowDock": {"showMode": 4})")["code"].asInt(), 200);
  EXPECT_FALSE(ui::isWindowVisible(dock));
  EXPECT_EQ(live(35, "9", R"("ShowDock": {"showMode": 3})")["code"].asInt(), 200);
  EXPECT_TRUE(ui::isWindowVisible(dock));
  // Another stream for channel 2, with the caption the page gives it.
  EXPECT_EQ(live(36, "7", R"j("SwitchStream": {"newStream": 2, "channelName": ["Hall (sub)"]})j", 2)["code"].asInt(),
            200);
  EXPECT_TRUE(ui::pumpMessagesUntil(
      [&] {
        std::vector<HWND> all;
        collectDescendants(dock, all);
        for (HWND part : all)
          if (ui::getWindowTextW(part) == u"Hall (sub)") return true;
        return false;
      },
      5s));
  // Sound from channel 0, and talk to the device with bytes reaching it.
  EXPECT_EQ(live(38, "2", R"("Audio": {"mute": false})")["code"].asInt(), 200);
  EXPECT_EQ(live(39, "3", R"("Talk": {"open": true, "codec": 1})")["code"].asInt(), 200);
  EXPECT_TRUE(ui::pumpMessagesUntil([&] { return device_->talkBytes() > 0; }, 5s));
  EXPECT_EQ(live(40, "3", R"("Talk": {"open": false})")["code"].asInt(), 200);
  EXPECT_EQ(live(41, "2", R"("Audio": {"mute": true})")["code"].asInt(), 200);
  // Channels beyond the device's are refused without touching the dock.
  EXPECT_EQ(live(37, "11", R"("Split": {"Count": 1})", 4)["code"].asInt(), 1000);
  EXPECT_EQ(ui::getWindowRect(dock), (Rect{308, 150, 628, 390}));

  // A JPEG snapshot of channel 1: its path in the reply, and the page is told
  // where to fetch it; the download server hands out the same bytes.
  page_.pushes().clear();
  const Json::Value snapshot = page_.request(R"({"msgId": 50, "Fountion": "snapshot", "Capture": {"uniqueId": )" +
                                             device + R"(, "channel": 1, "format": 2}})");
  ASSERT_EQ(snapshot["code"].asInt(), 200) << snapshot;
  const std::string path = snapshot["actualPath"].asString();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.rfind(page_.tmpDir(), 0), 0u) << path;
  const std::string bytes = readFile(path);
  ASSERT_GT(bytes.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xD8);
  const Json::Value push = page_.waitPush([](const Json::Value&) { return true; }, 5s);
  ASSERT_FALSE(push.isNull());
  EXPECT_EQ(push["Fountion"].asString(), "serverPush");
  EXPECT_EQ(push["PushDetail"]["type"].asInt(), 4);
  EXPECT_EQ(push["PushDetail"]["channel"].asInt(), 1);
  const std::string url = push["PushDetail"]["HttpDownload"]["url"].asString();
  std::optional<std::string> fetched;
  page_.asPage([&] { fetched = kstest::httpGet(url); });
  ASSERT_TRUE(fetched.has_value()) << url;
  EXPECT_EQ(*fetched, bytes);
}

}  // namespace
