#include "plugin/device/DeviceEntry.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/ui/WindowApi.h"
#include "platform/ui/testing/UiTestSupport.h"
#include "plugin/session/testing/CreateRecord.h"
#include "tests/support/LoopbackClientSocket.h"

namespace ksplugs {
namespace {

using ui::HWND;
using ui::Rect;


// A loopback port on which nothing listens: logins to it fail at once.
uint16_t closedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

class DeviceEntryTest : public ui::test::HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    const uint16_t port = closedPort();
    testing::CreateRecord record("00-11-22-33-44-55", port, port, 4);
    entry_ = new DeviceEntry();
    ASSERT_EQ(entry_->initialise(7, record.param), KS_OK);
  }
  void TearDown() override {
    entry_->teardown();
    delete entry_;
    ui::pumpPendingMessages();
    HeadlessTest::TearDown();
  }

  HWND browser(const std::string& title) {
    ui::ForeignWindowSpec window;
    window.processId = static_cast<uint32_t>(::getpid());
    window.title = title;
    window.className = "BrowserFrame";
    window.frame = {100, 50, 900, 650};
    window.client = Rect{108, 80, 892, 642};
    return desktop_->addForeignWindow(window);
  }

  static LiveControlParam preview(char16_t* title, uint16_t port) {
    LiveControlParam param{};
    param.type = LIVE_PREVIEW;
    param.preview.open = 1;
    param.preview.streamType = 1;
    param.preview.clientPort = port;
    param.preview.title = title;
    param.preview.layout = 2;
    param.preview.x = 20;
    param.preview.y = 60;
    param.preview.w = 400;
    param.preview.h = 300;
    return param;
  }

  static LiveControlParam command(uint32_t type, int channel = 0) {
    LiveControlParam param{};
    param.type = type;
    param.channel = channel;
    return param;
  }

  DeviceEntry* entry_ = nullptr;
};

TEST_F(DeviceEntryTest, LiveChecksComeBeforeAnyLogin) {
  char16_t title[260] = u"Console";
  char16_t empty[260] = {};
  // The channel is checked first, for every type.
  for (int channel : {4, -1, 1 << 30}) {
    LiveControlParam param = preview(title, 1);
    param.channel = channel;
    EXPECT_EQ(entry_->liveControl(param), KS_E_INVALID) << channel;
    LiveControlParam split = command(LIVE_SPLIT, channel);
    EXPECT_EQ(entry_->liveControl(split), KS_E_INVALID) << channel;
  }
  // Without a dock window: the shell is asked to create it when there is a
  // title to find the browser with.
  LiveControlParam withTitle = preview(title, 1);
  EXPECT_EQ(entry_->liveControl(withTitle), KS_E_CREATE_DOCK);
  LiveControlParam withoutTitle = preview(empty, 1);
  EXPECT_EQ(entry_->liveControl(withoutTitle), KS_E_INVALID);
  LiveControlParam nullTitle = preview(nullptr, 1);
  EXPECT_EQ(entry_->liveControl(nullTitle), KS_E_INVALID);
  // Closing everything on a device that never logged in is already done.
  LiveControlParam closeAll = preview(title, 1);
  closeAll.preview.openMode = OPEN_MODE_CLOSE_ALL;
  EXPECT_EQ(entry_->liveControl(closeAll), KS_OK);
  EXPECT_EQ(entry_->session().loginHandle(), -1);
}

TEST_F(DeviceEntryTest, CommandsThatNeedALoginOrADockAnswerTheirCodes) {
  const std::pair<uint32_t, int> expected[] = {
      {LIVE_AUDIO, KS_E_NOT_READY},        {LIVE_TALK, KS_E_NOT_READY},   {LIVE_DIGITAL_ZOOM, KS_E_CHANNEL},
      {LIVE_FULLSCREEN, KS_OK},            {LIVE_ASPECT_RATIO, KS_E_CHANNEL}, {LIVE_SWITCH_STREAM, KS_E_NOT_READY},
      {LIVE_BITRATE, KS_E_CHANNEL},        {LIVE_MOVE_DOCK, KS_OK},       {LIVE_SPLIT, KS_OK},
      {99, KS_OK},
  };
  for (const auto& [type, code] : expected) {
    LiveControlParam param = command(type, 3);
    EXPECT_EQ(entry_->liveControl(param), code) << type;
  }
  // Hiding what has no window is nothing to do; modes outside 1..6 neither.
  for (uint32_t mode : {2u, 4u, 0u, 7u}) {
    LiveControlParam param = command(LIVE_SHOW_DOCK);
    param.showDock.showMode = mode;
    EXPECT_EQ(entry_->liveControl(param), KS_OK) << mode;
  }

  char path[260] = {};
  SnapshotParam live{};
  live.live = 1;
  live.path = path;
  EXPECT_EQ(entry_->snapshot(live), KS_E_NOT_READY);
  SnapshotParam fromPlayback{};
  fromPlayback.path = path;
  fromPlayback.channel = 4;
  EXPECT_EQ(entry_->snapshot(fromPlayback), KS_E_CHANNEL);
  fromPlayback.channel = 0;
  EXPECT_EQ(entry_->snapshot(fromPlayback), KS_E_CHANNEL);  // no playback cell
  EXPECT_EQ(path[0], '\0');

  DeviceSettingsParam settings{};
  EXPECT_EQ(entry_->settings(settings, 0), KS_E_WINDOW);  // no settings cell without the window

  // Dock creation: playback docks cannot be made; a port no socket can have
  // finds no browser.
  PlaybackControlParam playback{};
  EXPECT_EQ(entry_->createDock(2, &playback), KS_E_NO_BROWSER);
  EXPECT_EQ(entry_->createDock(3, &playback), KS_OK);
  EXPECT_EQ(entry_->createDock(1, nullptr), KS_E_INVALID);
  char16_t title[260] = u"Console";
  LiveControlParam far = preview(title, 0);
  far.preview.clientPort = 70000;
  EXPECT_EQ(entry_->createDock(1, &far), KS_E_CHANNEL);
  EXPECT_FALSE(entry_->liveDock()->hasWindow());
}

TEST_F(DeviceEntryTest, DockIsCreatedOverItsBrowserAndKeptThere) {
  kstest::LoopbackClientSocket socket;
  const HWND page = browser("Console - Browser");
  char16_t title[260] = u"console";
  LiveControlParam param = preview(title, socket.port());

  // Only a window whose title has the text will do.
  char16_t other[260] = u"Elsewhere";
  LiveControlParam elsewhere = preview(other, socket.port());
  EXPECT_EQ(entry_->createDock(1, &elsewhere), KS_E_SDK);
  EXPECT_FALSE(entry_->liveDock()->hasWindow());

  ASSERT_EQ(entry_->createDock(1, &param), KS_OK);
  CPreviewManager* dock = entry_->liveDock();
  ASSERT_TRUE(dock->hasWindow());
  const HWND window = dock->window();
  // The frame's left moves by half the border: (800 - 784) / 2.
  EXPECT_EQ(ui::getWindowRect(window), (Rect{128, 110, 528, 410}));
  EXPECT_EQ(ui::getWindowOwner(window), page);
  EXPECT_EQ(dock->ownerWindow(), page);
  EXPECT_EQ(dock->layout(), 2);
  EXPECT_TRUE(ui::isWindowVisible(window));
  EXPECT_EQ(entry_->liveAnchor().browserWindow, page);
  // A second request for the same dock (two commands raced) makes no other.
  EXPECT_EQ(entry_->createDock(1, &param), KS_OK);
  EXPECT_EQ(dock->window(), window);

  // With the window there, a preview logs in: the refused login is the answer.
  LiveControlParam again = preview(title, socket.port());
  const int login = entry_->liveControl(again);
  EXPECT_NE(login, KS_OK);
  EXPECT_NE(login, KS_E_CREATE_DOCK);

  // Supervision follows the browser.
  desktop_->moveForeignWindow(page, {300, 150, 1100, 750}, std::nullopt, Rect{308, 180, 1092, 742});
  entry_->trackDocks();
  EXPECT_TRUE(pumpUntil([&] { return ui::getWindowRect(window).left == 328; }));
  EXPECT_EQ(ui::getWindowRect(window), (Rect{328, 210, 728, 510}));

  // The page moves the dock: new offsets that the next passes keep.
  LiveControlParam move = command(LIVE_MOVE_DOCK);
  move.moveDock = {40, 10, 200, 100};
  EXPECT_EQ(entry_->liveControl(move), KS_OK);
  EXPECT_EQ(ui::getWindowRect(window), (Rect{348, 160, 548, 260}));
  desktop_->moveForeignWindow(page, {100, 50, 900, 650}, std::nullopt, Rect{108, 80, 892, 642});
  entry_->trackDocks();
  EXPECT_TRUE(pumpUntil([&] { return ui::getWindowRect(window) == Rect{148, 60, 348, 160}; }));

  // A minimised browser takes the dock out of sight and gives it back.
  desktop_->setForeignState(page, true, false);
  entry_->trackDocks();
  EXPECT_TRUE(pumpUntil([&] { return !ui::isWindowVisible(window); }));
  EXPECT_TRUE(dock->shown());
  desktop_->setForeignState(page, false, false);
  entry_->trackDocks();
  EXPECT_TRUE(pumpUntil([&] { return ui::isWindowVisible(window); }));

  // A dock the page hid stays hidden and is not tracked until shown again.
  LiveControlParam hide = command(LIVE_SHOW_DOCK);
  hide.showDock.showMode = 4;
  EXPECT_EQ(entry_->liveControl(hide), KS_OK);
  EXPECT_FALSE(ui::isWindowVisible(window));
  desktop_->moveForeignWindow(page, {0, 0, 800, 600}, std::nullopt, Rect{8, 30, 792, 592});
  entry_->trackDocks();
  ui::pumpPendingMessages();
  EXPECT_FALSE(ui::isWindowVisible(window));
  EXPECT_EQ(ui::getWindowRect(window), (Rect{148, 60, 348, 160}));
  LiveControlParam show = command(LIVE_SHOW_DOCK);
  show.showDock.showMode = 3;
  EXPECT_EQ(entry_->liveControl(show), KS_OK);
  EXPECT_TRUE(ui::isWindowVisible(window));
  entry_->trackDocks();
  EXPECT_TRUE(pumpUntil([&] { return ui::getWindowRect(window) == Rect{48, 10, 248, 110}; }));

  // Another tab without the text: the dock stays until a window shows the
  // page again, then follows that one.
  desktop_->setForeignTitle(page, "News - Browser");
  entry_->trackDocks();
  ui::pumpPendingMessages();
  EXPECT_EQ(dock->ownerWindow(), page);
  ui::ForeignWindowSpec second;
  second.processId = static_cast<uint32_t>(::getpid());
  second.title = "Console - Browser";
  second.className = "BrowserFrame";
  second.frame = {500, 300, 1300, 900};
  second.client = Rect{508, 330, 1292, 892};
  const HWND other_page = desktop_->addForeignWindow(second);
  entry_->trackDocks();
  EXPECT_TRUE(pumpUntil([&] { return ui::getWindowRect(window).left == 548; }));
  EXPECT_EQ(dock->ownerWindow(), other_page);
  EXPECT_EQ(entry_->liveAnchor().browserWindow, other_page);

  // Full screen is a toggle whatever "enter" says; a full-screen dock is not tracked.
  LiveControlParam full = command(LIVE_FULLSCREEN);
  full.fullscreen.enter = 0;
  EXPECT_EQ(entry_->liveControl(full), KS_OK);
  EXPECT_TRUE(dock->isFullScreen());
  entry_->trackDocks();
  EXPECT_EQ(ui::getWindowRect(window).left, 0);
  EXPECT_TRUE(entry_->leaveFullScreen());
  EXPECT_FALSE(dock->isFullScreen());

  // The settings cell exists now, but without an open stream it takes no record.
  DeviceSettingsParam settings{};
  EXPECT_EQ(entry_->settings(settings, 0), KS_E_NOT_READY);
}

TEST_F(DeviceEntryTest, PlaybackDockIsCreatedOverItsBrowserAndFollowsIt) {
  kstest::LoopbackClientSocket socket;
  const HWND page = browser("Recordings - Browser");
  char16_t title[260] = u"recordings";
  PlaybackControlParam param{};
  param.type = PLAYBACK_PREVIEW;
  param.preview.remote = 1;
  param.preview.play = 1;
  param.preview.clientPort = socket.port();
  param.preview.title = title;
  param.preview.x = 20;
  param.preview.y = 60;
  param.preview.w = 400;
  param.preview.h = 300;

  // Any failure to find the browser answers 2000.
  char16_t other[260] = u"Elsewhere";
  PlaybackControlParam elsewhere = param;
  elsewhere.preview.title = other;
  EXPECT_EQ(entry_->createDock(2, &elsewhere), KS_E_NO_BROWSER);
  EXPECT_FALSE(entry_->playbackDock()->hasWindow());

  ASSERT_EQ(entry_->createDock(2, &param), KS_OK);
  CPlaybackManager* dock = entry_->playbackDock();
  ASSERT_TRUE(dock->hasWindow());
  const HWND window = dock->window();
  EXPECT_EQ(ui::getWindowRect(window), (Rect{128, 110, 528, 410}));
  EXPECT_EQ(ui::getWindowOwner(window), page);
  EXPECT_TRUE(ui::isWindowVisible(window));
  EXPECT_EQ(ui::getWindowExStyle(window) & ui::WS_EX_TOOLWINDOW, ui::WS_EX_TOOLWINDOW);
  EXPECT_EQ(entry_->createDock(2, &param), KS_OK);  // made once
  EXPECT_EQ(dock->window(), window);

  // Tracking follows the browser's frame without the half-border shift.
  desktop_->moveForeignWindow(page, {300, 150, 1100, 750}, std::nullopt, Rect{308, 180, 1092, 742});
  entry_->trackDocks();
  EXPECT_TRUE(pumpUntil([&] { return ui::getWindowRect(window) == Rect{320, 210, 720, 510}; }));

  // The page moves it: new offsets from the browser's frame.
  PlaybackControlParam move{};
  move.type = PLAYBACK_MOVE_DOCK;
  move.moveDock = {40, 10, 200, 100};
  EXPECT_EQ(entry_->playbackControl(move), KS_OK);
  EXPECT_EQ(ui::getWindowRect(window), (Rect{348, 160, 548, 260}));
  // Full screen and aspect ratio do not exist in playback; a channel the
  // device lacks is refused first.
  PlaybackControlParam full{};
  full.type = PLAYBACK_FULLSCREEN;
  EXPECT_EQ(entry_->playbackControl(full), KS_E_UNAVAILABLE);
  full.channel = 99;
  EXPECT_EQ(entry_->playbackControl(full), KS_E_CHANNEL);
  // ShowDock 4 hides it, 3 shows it again; unknown modes do nothing.
  PlaybackControlParam show{};
  show.type = PLAYBACK_SHOW_DOCK;
  show.showDock.showMode = 4;
  EXPECT_EQ(entry_->playbackControl(show), KS_OK);
  EXPECT_TRUE(pumpUntil([&] { return !ui::isWindowVisible(window); }));
  show.showDock.showMode = 3;
  EXPECT_EQ(entry_->playbackControl(show), KS_OK);
  EXPECT_TRUE(pumpUntil([&] { return ui::isWindowVisible(window); }));
  show.showDock.showMode = 9;
  EXPECT_EQ(entry_->playbackControl(show), KS_OK);
  EXPECT_TRUE(ui::isWindowVisible(window));
  desktop_->moveForeignWindow(page, {300, 150, 1100, 750}, std::nullopt, Rect{308, 180, 1092, 742});
  entry_->trackDocks();
  EXPECT_TRUE(pumpUntil([&] { return ui::getWindowRect(window) == Rect{340, 160, 540, 260}; }));

  // A hidden dock is left where it is.
  dock->hide();
  desktop_->moveForeignWindow(page, {100, 50, 900, 650}, std::nullopt, Rect{108, 80, 892, 642});
  entry_->trackDocks();
  ui::pumpPendingMessages();
  EXPECT_EQ(ui::getWindowRect(window), (Rect{340, 160, 540, 260}));
}

}  // namespace
}  // namespace ksplugs
