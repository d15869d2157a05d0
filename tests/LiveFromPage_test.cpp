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
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/sys/Utf.h"
#include "platform/ui/Messages.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowSystem.h"
#include "platform/ui/backends/HeadlessDesktop.h"
#include "shell/app/CKestrovaDlg.h"
#include "tests/support/HttpGet.h"
#include "tests/support/LivePageHarness.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WsClient.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using namespace std::chrono_literals;
using kstest::WsClient;
constexpr auto parse = &kstest::LivePageHarness::parse;
constexpr auto collectDescendants = &kstest::LivePageHarness::collectDescendants;
using ui::HWND;
using ui::Rect;

constexpr ui::COLORREF kCellBackground = ui::RGB(0x48, 0x4D, 0x5A);
constexpr ui::COLORREF kBrowserColor = ui::RGB(200, 200, 200);
const Rect kBrowserFrame{100, 50, 900, 650};
const Rect kBrowserClient{108, 80, 892, 642};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class LiveFromPage : public ::testing::Test {
 protected:
  void SetUp() override {
    auto backend = std::make_unique<ui::HeadlessDesktop>();
    desktop_ = backend.get();
    ASSERT_TRUE(ui::WindowSystem::install(std::move(backend)));
    devsim::DevSimOptions options;
    options.commandPort = 0;
    options.mediaPort = 0;
    options.channels = 4;
    options.loopSeconds = 1;
    device_ = std::make_unique<devsim::DevSimServer>(options);
    std::string error;
    ASSERT_TRUE(device_->start(&error)) << error;

    std::string folder = (std::filesystem::temp_directory_path() / "kestrova-livepage-XXXXXX").string();
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    tmpDir_ = folder;
    ::setenv("TMPDIR", tmpDir_.c_str(), 1);
  }

  void TearDown() override {
    if (dialog_ && ui::isWindow(dialog_->hwnd())) {
      ui::postMessage(dialog_->hwnd(), ui::WM_CLOSE);
      pumpUntil([&] { return !ui::isWindow(dialog_->hwnd()); });
    }
    dialog_.reset();
    if (device_) device_->stop();
    ::unsetenv("KESTROVA_WS_PORT");
    std::error_code ignored;
    if (!tmpDir_.empty()) std::filesystem::remove_all(tmpDir_, ignored);
    ui::pumpPendingMessages();
    ui::WindowSystem::uninstall();
  }

  bool pumpUntil(const std::function<bool()>& done) { return ui::pumpMessagesUntil(done, 10s); }

  // Runs `work` on a thread of its own (the page) while this thread keeps
  // handling the user-interface messages; false when it did not finish in
  // time.
  bool asPage(const std::function<void()>& work, std::chrono::seconds limit = 30s) {
    std::atomic<bool> done{false};
    std::thread page([&] {
      work();
      done = true;
    });
    const bool finished = ui::pumpMessagesUntil([&] { return done.load(); }, limit);
    page.join();  // every client call has its own deadline
    return finished;
  }

  // One request and its reply; pushes that arrive first are kept.
  Json::Value request(const std::string& text) {
    Json::Value reply;
    asPage([&] {
      if (!client_.sendText(text)) return;
      const auto deadline = std::chrono::steady_clock::now() + 20s;
      while (std::chrono::steady_clock::now() < deadline) {
        const auto message = client_.receive(20s);
        if (!message) return;
        Json::Value value = parse(*message);
        if (value.isMember("Fountion") && value["Fountion"].asString() == "serverPush") {
          pushes_.push_back(value);
          continue;
        }
        reply = value;
        return;
      }
    });
    return reply;
  }

  // Pumps until a capture of the desktop satisfies `check`.
  bool desktopShows(const std::function<bool(const ui::Image&)>& check, std::chrono::seconds limit = 10s) {
    return ui::pumpMessagesUntil([&] { return check(desktop_->captureDesktop()); }, limit);
  }

  // The live-view dock: this process's top-level window of the dock's class.
  static HWND findDock() {
    for (HWND window : ui::getTopLevelWindows())
      if (ui::getClassName(window) == "CPreviewManager") return window;
    // The dock is a child of the desktop window; look there too.
    for (HWND window : ui::getChildWindows(ui::getDesktopWindow()))
      if (ui::getClassName(window) == "CPreviewManager") return window;
    return 0;
  }

  // Whether the area `r` of the capture shows a picture: enough sampled
  // pixels that are neither the empty cell, the browser nor the desktop.
  static bool pictureIn(const ui::Image& image, const Rect& r) {
    int other = 0;
    for (int y = r.top; y < r.bottom; y += 6)
      for (int x = r.left; x < r.right; x += 6) {
        const ui::COLORREF c = image.colorAt(x, y);
        if (c != kCellBackground && c != kBrowserColor && c != ui::RGB(0x10, 0x20, 0x30)) ++other;
      }
    return other > 20;
  }

  // The whole story, with the device's logins and streams, under one limit.
  kstest::Watchdog watchdog_{120s, "LiveFromPage"};
  ui::HeadlessDesktop* desktop_ = nullptr;
  std::unique_ptr<devsim::DevSimServer> device_;
  std::unique_ptr<kestrova::CKestrovaDlg> dialog_;
  std::string tmpDir_;
  uint16_t wsPort_ = 0;
  WsClient client_;
  std::vector<Json::Value> pushes_;
};

TEST_F(LiveFromPage, PreviewOpensTheDockOverTheBrowserAndItFollowsThePage) {
  std::string error;
  ASSERT_TRUE(kstest::startShellDialog(dialog_, wsPort_, &error)) << error;

  ASSERT_TRUE(asPage([&] { client_.connect(wsPort_); }));
  ASSERT_TRUE(client_.isOpen());

  // The page's browser: a window of this process, as the page's socket is.
  ui::ForeignWindowSpec spec;
  spec.processId = static_cast<uint32_t>(::getpid());
  spec.title = "Camera Wall - Browser";
  spec.className = "BrowserFrame";
  spec.frame = kBrowserFrame;
  spec.client = kBrowserClient;
  spec.color = kBrowserColor;
  const HWND browser = desktop_->addForeignWindow(spec);
  ASSERT_NE(browser, 0u);

  const Json::Value created = request(
      R"({"msgId": 1, "Fountion": "createDev", "Device": {"MAC": "00-11-22-33-44-55", "totalChannel": 4, "cmdPort": )" +
      std::to_string(device_->commandPort()) + R"(, "mediaPort": )" + std::to_string(device_->mediaPort()) +
      R"(, "stream": [2, 2, 2, 2], "resShowBitrate": "Bitrate", "resMainStream": "Main", "resSubStream": "Sub",)"
      R"( "resThirdStream": "Third"}, "Auth": {"usr": "admin", "pwd": "admin", "address": "127.0.0.1"}})");
  ASSERT_EQ(created["code"].asInt(), 200) << created;
  const uint32_t id = created["uniqueId"].asUInt();
  ASSERT_NE(id, 0u);
  const std::string device = std::to_string(id);
  auto live = [&](int msgId, const std::string& type, const std::string& body, int channel = 0) {
    return request(R"({"msgId": )" + std::to_string(msgId) + R"(, "Fountion": "live", "LiveCtrl": {"type": )" + type +
                   R"(, "uniqueId": )" + device + R"(, "channel": )" + std::to_string(channel) + ", " + body + "}}");
  };

  // The first Preview finds no dock: the shell has it created on this
  // thread and repeats the command, whose answer is the reply.
  const Json::Value preview =
      live(2, "1",
           R"("Preview": {"title": "camera wall", "layout": 2, "x": 20, "y": 60, "w": 640, "h": 480,)"
           R"( "openAll": true, "channelName": ["Gate", "Yard", "Hall", "Roof"]})");
  ASSERT_EQ(preview["code"].asInt(), 200) << preview;
  EXPECT_EQ(preview["msgId"].asInt(), 2);

  const HWND dock = findDock();
  ASSERT_NE(dock, 0u);
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
      if (!pictureIn(image, quarter)) return false;
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
  ASSERT_TRUE(desktop_->moveForeignWindow(browser, {300, 150, 1100, 750}, std::nullopt, Rect{308, 180, 1092, 742}));
  EXPECT_TRUE(ui::pumpMessagesUntil([&] { return ui::getWindowRect(dock).left == 328; }, 5s));
  EXPECT_EQ(ui::getWindowRect(dock), (Rect{328, 210, 968, 690}));

  // Minimised, the browser takes the dock out of sight; restored, it is back.
  desktop_->setForeignState(browser, true, false);
  EXPECT_TRUE(ui::pumpMessagesUntil([&] { return !ui::isWindowVisible(dock); }, 5s));
  desktop_->setForeignState(browser, false, false);
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
      if (!pictureIn(image, quarter)) return false;
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
  desktop_->pressKey(ui::VK_ESCAPE);
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
  pushes_.clear();
  const Json::Value snapshot = request(R"({"msgId": 50, "Fountion": "snapshot", "Capture": {"uniqueId": )" + device +
                                       R"(, "channel": 1, "format": 2}})");
  ASSERT_EQ(snapshot["code"].asInt(), 200) << snapshot;
  const std::string path = snapshot["actualPath"].asString();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.rfind(tmpDir_, 0), 0u) << path;
  const std::string bytes = readFile(path);
  ASSERT_GT(bytes.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xD8);
  if (pushes_.empty()) {
    asPage([&] {
      if (const auto message = client_.receive(5s)) pushes_.push_back(parse(*message));
    });
  }
  ASSERT_FALSE(pushes_.empty());
  const Json::Value& push = pushes_.front();
  EXPECT_EQ(push["Fountion"].asString(), "serverPush");
  EXPECT_EQ(push["PushDetail"]["type"].asInt(), 4);
  EXPECT_EQ(push["PushDetail"]["channel"].asInt(), 1);
  const std::string url = push["PushDetail"]["HttpDownload"]["url"].asString();
  std::optional<std::string> fetched;
  asPage([&] { fetched = kstest::httpGet(url); });
  ASSERT_TRUE(fetched.has_value()) << url;
  EXPECT_EQ(*fetched, bytes);

  asPage([&] { client_.close(2s); });
}

}  // namespace
