// Video cells of a live-view dock playing the device simulator's streams
// over real TCP, drawn by the SDK on the headless desktop: opening and
// closing, the bitrate label, the context menu per stream count, switching
// to the sub stream from the menu, picture-size changes with keep aspect,
// digital zoom by dragging, snapshots with their names and download events,
// sound and recording requests.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/devlink/DevLinkSdk.h"
#include "platform/ui/DeviceContext.h"
#include "platform/ui/Menu.h"
#include "plugin/api/SdkResult.h"
#include "plugin/device/DeviceEntry.h"
#include "plugin/files/WorkFolders.h"
#include "plugin/session/StreamKind.h"
#include "plugin/video/CellOverlay.h"
#include "plugin/video/RecordingSink.h"
#include "plugin/video/VideoMessages.h"
#include "plugin/video/live/CellGeometry.h"
#include "plugin/video/live/testing/LiveViewTestSupport.h"
#include "tools/devsim/DevSimServer.h"

namespace ksplugs {
namespace {

using namespace std::chrono_literals;
using testing::EventRecorder;
using ui::RGB;
using WebPlug_NCL::CDVSDevice;

constexpr ui::COLORREF kCell = RGB(0x48, 0x4D, 0x5A);
constexpr ui::COLORREF kGreen = RGB(0, 255, 0);

// The size in a JPEG's start-of-frame marker; (0, 0) when there is none.
std::pair<int, int> jpegSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8) return {};
  size_t i = 2;
  while (i + 9 < b.size()) {
    if (b[i] != 0xFF) return {};
    const uint8_t marker = b[i + 1];
    const size_t length = (b[i + 2] << 8) | b[i + 3];
    if (marker >= 0xC0 && marker <= 0xC3) return {(b[i + 7] << 8) | b[i + 8], (b[i + 5] << 8) | b[i + 6]};
    i += 2 + length;
  }
  return {};
}

class CountingSink : public RecordingSink {
 public:
  int start(int, LiveStream&, uint32_t duration) override {
    ++starts;
    lastDuration = duration;
    return 0;
  }
  int stop(int32_t, bool announce) override {
    ++stops;
    lastAnnounce = announce;
    return 0;
  }
  std::atomic<int> starts{0};
  std::atomic<int> stops{0};
  std::atomic<bool> lastAnnounce{false};
  std::atomic<uint32_t> lastDuration{0};
};

// Records what the settings cell hands its overlay; paints a blue block.
class RecordingOverlay : public CellOverlay {
 public:
  int apply(const DeviceSettingsParam& record) override {
    applied.push_back(record.type);
    return 0;
  }
  int readBack(DeviceSettingsParam&) override { return 0; }
  void paint(ui::DeviceContext& dc) override {
    ++paints;
    dc.fillRect(ui::Rect{0, 0, 8, 8}, RGB(0, 0, 255));
  }
  void mouseDown(int x, int y) override { downs.push_back({x, y}); }
  void mouseMove(int, int) override { ++moves; }
  void mouseUp(int x, int y) override { ups.push_back({x, y}); }
  void resize(int width, int height) override { size = {width, height}; }
  void setVideoSize(int width, int height) override { video = {width, height}; }

  std::atomic<int> paints{0};
  std::vector<int> applied;
  int moves = 0;
  std::vector<ui::Point> downs;
  std::vector<ui::Point> ups;
  ui::Size size;
  ui::Size video;
};

class LiveViewCell : public testing::DockTest {
 protected:
  static void SetUpTestSuite() {
    av_log_set_level(AV_LOG_QUIET);
    DLSDK_StartUp();
    DLSDK_SetAttribute(DLSDK_ATTR_COMMAND_TIMEOUT_MS, 3000);
  }

  void SetUp() override {
    DockTest::SetUp();
    devsim::DevSimOptions options;
    options.commandPort = 0;
    options.mediaPort = 0;
    options.channels = 4;
    options.loopSeconds = 1;
    server_ = std::make_unique<devsim::DevSimServer>(options);
    std::string error;
    ASSERT_TRUE(server_->start(&error)) << error;
    services_->downloadPort = [] { return uint16_t{40123}; };
  }
  void TearDown() override {
    dock_.reset();  // cells close their streams with their windows
    server_->stop();
    DockTest::TearDown();
  }

  // A logged-in 4-channel device whose channels 0, 1, 2, 3 offer 1, 2, 3
  // and 2 streams, in a 2 x 2 dock of 801 x 601.
  CPreviewManager& loggedInDock() {
    auto& dock = makeDock(4, 801, 601, server_->commandPort(), server_->mediaPort(), 2, {1, 2, 3, 2});
    EXPECT_EQ(session_->login(), KS_OK);
    return dock;
  }

  // Pumps until the surface shows more than the cell's background.
  bool pictureShown(CPreviewer* cell) {
    return pumpUntil([&] {
      const ui::Image image = desktop_->captureWindow(cell->surface());
      if (image.empty()) return false;
      int other = 0;
      for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
          if (image.colorAt(x, y) != kCell) ++other;
      return other > 20;
    });
  }

  std::unique_ptr<devsim::DevSimServer> server_;
};

TEST_F(LiveViewCell, OpensDrawsAndClosesTheLivePictureWithItsLabels) {
  EventRecorder events(*services_->events);
  auto& dock = loggedInDock();
  CPreviewer* cell = dock.cells()[1];
  cell->setTitle(u"Gate");
  ASSERT_EQ(cell->open(1, true), KS_OK);
  EXPECT_EQ(cell->open(1, true), KS_OK);  // open already: nothing happens
  ASSERT_TRUE(pictureShown(cell));
  EXPECT_TRUE(pumpUntil([&] { return cell->stream()->pictureWidth() == 1280; }));
  EXPECT_EQ(cell->stream()->pictureHeight(), 720);
  // The title row of a multi-channel device sits above the picture.
  EXPECT_TRUE(ui::isWindowVisible(cell->titleLabel()));
  EXPECT_EQ(ui::getWindowTextW(cell->titleLabel()), u"Gate");
  EXPECT_EQ(ui::getWindowRect(cell->surface()).top - ui::getWindowRect(cell->hwnd()).top, 20);

  // Bitrate display from the menu command: event 1, the label after a tick.
  // Rates given while the display is off are not kept.
  cell->setBitrates(999, 999, 999);
  ui::sendMessage(cell->hwnd(), ui::WM_COMMAND, CDVSDevice::kMenuShowBitrate);
  EXPECT_TRUE(pumpUntil([&] { return ui::getWindowTextW(cell->bitrateLabel()) == u"[1280x720, 0 Kbps]"; }));
  cell->setBitrates(2048, 512, 256);
  EXPECT_TRUE(pumpUntil([&] { return ui::getWindowTextW(cell->bitrateLabel()) == u"[1280x720, 2048 Kbps]"; }));
  EXPECT_TRUE(ui::isWindowVisible(cell->bitrateLabel()));
  auto bitrate = events.ofType(NOTIFY_BITRATE);
  ASSERT_EQ(bitrate.size(), 1u);
  EXPECT_EQ(bitrate[0].first, 1);
  EXPECT_EQ(bitrate[0].second, 1);
  EXPECT_EQ(bitrate[0].channel, 1);
  // The label is drawn: white text on the cell's background.
  settle();
  const ui::Image label = desktop_->captureWindow(cell->bitrateLabel());
  int white = 0, background = 0;
  for (int y = 0; y < label.height(); ++y)
    for (int x = 0; x < label.width(); ++x) {
      const ui::COLORREF c = label.colorAt(x, y);
      if (ui::GetRValue(c) > 200 && ui::GetGValue(c) > 200 && ui::GetBValue(c) > 200) ++white;
      if (c == kCell) ++background;
    }
  EXPECT_GT(white, 10);
  EXPECT_GT(background, label.width() * label.height() / 2);

  ASSERT_EQ(cell->open(1, false), KS_OK);
  EXPECT_FALSE(cell->isOpen());
  EXPECT_FALSE(cell->showBitrate());
  EXPECT_EQ(ui::getWindowTextW(cell->bitrateLabel()), u"");
  EXPECT_EQ(ui::getWindowTextW(cell->titleLabel()), u"");
  EXPECT_EQ(cell->open(1, false), KS_OK);  // closed already
  EXPECT_EQ(cell->stream()->pictureWidth(), 1280);  // the size outlives the stream
}

TEST_F(LiveViewCell, WhenTheLoginFailsTheCellStaysClosedAndOperationsAnswerNotReady) {
  // The cell logs in itself when it opens; nothing listens on port 1.
  auto& dock = makeDock(4, 801, 601, 1, 1, 2);
  CPreviewer* cell = dock.cells()[0];
  EXPECT_EQ(cell->open(1, true), KS_E_CONNECT);
  EXPECT_FALSE(cell->isOpen());
  EXPECT_EQ(cell->zoomOn(), KS_E_NOT_READY);
  EXPECT_EQ(cell->setKeepAspect(true), KS_E_NOT_READY);
  EXPECT_EQ(cell->setMute(false), KS_E_NOT_READY);
  EXPECT_EQ(cell->setRecording(true), KS_E_NOT_READY);
  char path[CPreviewer::kPathBytes] = {};
  EXPECT_EQ(cell->snapshot(true, 2, path), KS_E_NOT_READY);
}

TEST_F(LiveViewCell, TheMenuOffersTheStreamsTheChannelHas) {
  auto& dock = loggedInDock();
  const std::vector<std::pair<int, std::vector<unsigned>>> expected = {
      {0, {CDVSDevice::kMenuShowBitrate, StreamKind::kMenuMain}},
      {1, {CDVSDevice::kMenuShowBitrate, StreamKind::kMenuMain, StreamKind::kMenuSub}},
      {2,
       {CDVSDevice::kMenuShowBitrate, StreamKind::kMenuMain, StreamKind::kMenuSub,
        StreamKind::kMenuThird}}};
  desktop_->setMenuAnswer([](const std::vector<ui::MenuItemView>&, ui::Point) { return 0u; });
  for (const auto& [channel, ids] : expected) {
    CPreviewer* cell = dock.cells()[channel];
    ASSERT_EQ(cell->open(1, true), KS_OK);
    const ui::Rect surface = ui::getWindowRect(cell->surface());
    const int before = desktop_->menuCount();
    desktop_->rightClick({surface.left + 30, surface.top + 30});
    ASSERT_TRUE(pumpUntil([&] { return desktop_->menuCount() == before + 1; })) << channel;
    const auto items = desktop_->lastMenu();
    std::vector<unsigned> seen;
    for (const auto& item : items) seen.push_back(item.id);
    EXPECT_EQ(seen, ids) << channel;
    EXPECT_EQ(items[1].text, "Main stream");
    EXPECT_TRUE(items[1].flags & ui::MF_CHECKED);
    EXPECT_FALSE(items[0].flags & ui::MF_CHECKED);
  }
}

TEST_F(LiveViewCell, ChoosingTheSubStreamSwitchesAnnouncesAndKeepsThePictureComing) {
  EventRecorder events(*services_->events);
  auto& dock = loggedInDock();
  CPreviewer* cell = dock.cells()[1];
  ASSERT_EQ(cell->open(1, true), KS_OK);
  ASSERT_TRUE(pumpUntil([&] { return cell->stream()->pictureWidth() == 1280; }));
  ASSERT_EQ(cell->setKeepAspect(true), KS_OK);
  const ui::Rect cellRect = ui::getWindowRect(cell->hwnd());
  const int W = cellRect.width();
  const int H = cellRect.height() - 20;
  auto surfaceInCell = [&] { return ui::getWindowRect(cell->surface()).offset(-cellRect.left, -cellRect.top); };
  EXPECT_EQ(surfaceInCell(), CellGeometry::fitVideo(W, H, 20, 1280, 720));
  const int changesBefore = cell->stream()->sizeChangeCount();

  desktop_->setMenuAnswer([](const std::vector<ui::MenuItemView>& items, ui::Point) {
    for (const auto& item : items)
      if (item.id == StreamKind::kMenuSub) return item.id;
    return 0u;
  });
  const ui::Rect surface = ui::getWindowRect(cell->surface());
  desktop_->rightClick({surface.left + 40, surface.top + 40});
  ASSERT_TRUE(pumpUntil([&] { return cell->streamType() == 4; }));
  auto switched = events.ofType(NOTIFY_STREAM_SWITCHED);
  ASSERT_EQ(switched.size(), 1u);
  EXPECT_EQ(switched[0].first, 2);  // the page's code of the sub stream
  EXPECT_EQ(switched[0].channel, 1);
  EXPECT_EQ(events.ofType(NOTIFY_BITRATE).size(), 1u);  // the display state, re-sent before reopening

  // The sub stream is 704 x 576: one size change, and the surface is fitted again.
  ASSERT_TRUE(pumpUntil([&] { return cell->stream()->pictureWidth() == 704; }));
  EXPECT_TRUE(pumpUntil([&] { return surfaceInCell() == CellGeometry::fitVideo(W, H, 20, 704, 576); }));
  EXPECT_EQ(cell->stream()->sizeChangeCount(), changesBefore + 1);
  // Pictures keep coming after the switch.
  const uint64_t sent = server_->framesSent();
  ASSERT_TRUE(pictureShown(cell));
  EXPECT_TRUE(pumpUntil([&] { return server_->framesSent() > sent + 10; }));
  EXPECT_TRUE(cell->isOpen());

  // Switching to the stream already shown does nothing.
  events.clear();
  EXPECT_EQ(cell->switchStream(4, true), KS_OK);
  EXPECT_TRUE(events.events().empty());
}

TEST_F(LiveViewCell, SnapshotsGetTheirNameFromTheClockAndCounterAndAreOfferedForDownload) {
  testing::ScopedTempDir temp;
  EventRecorder events(*services_->events);
  auto& dock = loggedInDock();
  CPreviewer* cell = dock.cells()[3];
  char path[CPreviewer::kPathBytes] = {};
  ASSERT_EQ(cell->open(1, true), KS_OK);
  ASSERT_TRUE(pictureShown(cell));
  services_->clock = [] { return sys::CalendarTime{2024, 5, 0, 6, 7, 8, 9, 0}; };
  services_->fileCounter->set(11);
  ASSERT_EQ(cell->snapshot(true, 2, path), KS_OK);
  const std::string folder = WorkFolders::folder(WorkFolderKind::kImage);
  const std::string expected = folder + "00-11-22-33-44-55/3/1_2024_05_06_07_08_09_12.jpg";
  EXPECT_EQ(std::string(path), expected);
  ASSERT_TRUE(std::filesystem::exists(expected));
  EXPECT_EQ(jpegSize(expected), (std::pair<int, int>{1280, 720}));
  ASSERT_TRUE(pumpUntil([&] { return !events.ofType(NOTIFY_FILE_READY).empty(); }));
  const auto ready = events.ofType(NOTIFY_FILE_READY);
  EXPECT_EQ(ready[0].first, 2);
  EXPECT_EQ(ready[0].channel, 3);
  EXPECT_EQ(ready[0].url, "http://127.0.0.1:40123/download/00-11-22-33-44-55/3/1_2024_05_06_07_08_09_12.jpg");

  // A path of the caller's own is used as it is; outside the work folder it
  // has no download address, so no event.
  events.clear();
  const std::string own = temp.path() + "/own.bmp";
  std::snprintf(path, sizeof path, "%s", own.c_str());
  ASSERT_EQ(cell->snapshot(true, 1, path), KS_OK);
  EXPECT_TRUE(std::filesystem::exists(own));
  settle();
  EXPECT_TRUE(events.ofType(NOTIFY_FILE_READY).empty());
  // A snapshot that cannot be written answers 1005.
  std::snprintf(path, sizeof path, "%s", (temp.path() + "/missing/dir/x.jpg").c_str());
  EXPECT_EQ(cell->snapshot(true, 2, path), KS_E_WINDOW);
}

// A path the page chooses is written only as a new file of the right kind in
// an existing folder; everything else answers 1005 and writes nothing, and
// what was there before stays as it was.
TEST_F(LiveViewCell, APagePathGetsAPictureOnlyAsANewFile) {
  testing::ScopedTempDir temp;
  const std::string dir = temp.path();
  std::filesystem::create_directories(dir + "/pics");
  { std::ofstream(dir + "/old.jpg") << "old"; }
  { std::ofstream(dir + "/target.txt") << "target"; }
  std::filesystem::create_symlink(dir + "/target.txt", dir + "/link.jpg");
  std::filesystem::create_symlink(dir + "/nowhere.jpg", dir + "/dangling.jpg");
  std::filesystem::create_symlink(dir + "/pics", dir + "/pics-link");
  auto& dock = loggedInDock();
  CPreviewer* cell = dock.cells()[1];
  char path[CPreviewer::kPathBytes] = {};

  // Before the first picture there is nothing to write.
  ASSERT_EQ(cell->open(1, true), KS_OK);
  std::snprintf(path, sizeof path, "%s", (dir + "/early.jpg").c_str());
  const int early = cell->snapshot(true, 2, path);
  if (early != KS_OK) {
    EXPECT_EQ(early, KS_E_WINDOW);
    EXPECT_FALSE(std::filesystem::exists(dir + "/early.jpg"));
  }
  ASSERT_TRUE(pictureShown(cell));

  struct Case {
    std::string path;
    int format;
    int code;
  };
  const std::vector<Case> cases = {
      {dir + "/pics/a.jpg", 2, KS_OK},
      {dir + "/pics/b.JPEG", 2, KS_OK},
      {dir + "/pics/c.bmp", 1, KS_OK},
      {dir + "/pics-link/d.jpg", 2, KS_OK},  // a linked folder is still a folder
      {"pics/e.jpg", 2, KS_E_WINDOW},         // relative
      {dir + "/pics/../f.jpg", 2, KS_E_WINDOW},
      {dir + "/./g.jpg", 2, KS_E_WINDOW},
      {dir + "/pics//h.jpg", 2, KS_E_WINDOW},
      {dir + "/pics/i.jpg", 1, KS_E_WINDOW},  // the extension does not match the format
      {dir + "/pics/j.bmp", 2, KS_E_WINDOW},
      {dir + "/pics/k.png", 3, KS_E_WINDOW},
      {dir + "/pics/l", 2, KS_E_WINDOW},
      {dir + "/missing/m.jpg", 2, KS_E_WINDOW},
      {dir + "/old.jpg", 2, KS_E_WINDOW},       // exists: never overwritten
      {dir + "/link.jpg", 2, KS_E_WINDOW},      // a link: never followed
      {dir + "/dangling.jpg", 2, KS_E_WINDOW},  // nor a dangling one
      {dir + "/pics/", 2, KS_E_WINDOW},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::snprintf(path, sizeof path, "%s", c.path.c_str());
    const bool existed = std::filesystem::exists(std::filesystem::symlink_status(c.path));
    EXPECT_EQ(cell->snapshot(true, c.format, path), c.code);
    if (c.code == KS_OK) {
      EXPECT_EQ(std::string(path), c.path);
      const auto status = std::filesystem::symlink_status(c.path);
      EXPECT_TRUE(std::filesystem::is_regular_file(status));
      EXPECT_EQ(status.permissions() & std::filesystem::perms::all,
                std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
      EXPECT_GT(std::filesystem::file_size(c.path), 100u);
    } else if (!existed) {
      EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(c.path)));
    }
  }
  std::ifstream old(dir + "/old.jpg"), target(dir + "/target.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "old");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(target), {}), "target");
  EXPECT_FALSE(std::filesystem::exists(dir + "/nowhere.jpg"));
  // An unterminated buffer is refused as it is, never cut.
  std::memset(path, 'a', sizeof path);
  EXPECT_EQ(cell->snapshot(true, 2, path), KS_E_INVALID);
  settle();
}

TEST_F(LiveViewCell, DraggingWithZoomOnDrawsTheGreenRectangleAndNarrowsThePicture) {
  EventRecorder events(*services_->events);
  auto& dock = loggedInDock();
  CPreviewer* cell = dock.cells()[0];
  ASSERT_EQ(cell->open(1, true), KS_OK);
  ASSERT_TRUE(pumpUntil([&] { return cell->stream()->pictureWidth() == 1280; }));
  ASSERT_EQ(cell->zoomOn(), KS_OK);
  EXPECT_EQ(cell->zoomRegion(), CellGeometry::kWholePicture);
  const ui::Rect s = ui::getWindowRect(cell->surface());
  desktop_->mouse({s.left + 100, s.top + 80}, ui::MouseAction::Move);
  desktop_->mouse({s.left + 100, s.top + 80}, ui::MouseAction::LeftDown);
  desktop_->mouse({s.left + 20, s.top + 10}, ui::MouseAction::Move);
  // The cursor stays inside the surface during the drag.
  EXPECT_TRUE(pumpUntil([&] { return ui::getClipCursor().has_value(); }));
  // The next pictures carry the drag rectangle.
  EXPECT_TRUE(pumpUntil([&] {
    const ui::Image image = desktop_->captureWindow(cell->surface());
    return image.colorAt(20, 40) == kGreen && image.colorAt(100, 40) == kGreen && image.colorAt(60, 10) == kGreen &&
           image.colorAt(60, 80) == kGreen;
  }));
  desktop_->mouse({s.left + 20, s.top + 10}, ui::MouseAction::LeftUp);
  settle();
  EXPECT_FALSE(ui::getClipCursor().has_value());
  ZoomRegion expected;
  ASSERT_TRUE(CellGeometry::zoomAfterDrag(CellGeometry::kWholePicture, {100, 80}, {20, 10}, s.width(), s.height(),
                                          expected));
  EXPECT_EQ(cell->zoomRegion(), expected);
  EXPECT_EQ(dock.selectedCell(), cell);
  // After the drag the rectangle is gone from the picture.
  EXPECT_TRUE(pumpUntil([&] {
    const ui::Image image = desktop_->captureWindow(cell->surface());
    return image.colorAt(20, 40) != kGreen || image.colorAt(100, 40) != kGreen;
  }));
  // A drag of four pixels changes nothing.
  desktop_->mouse({s.left + 50, s.top + 50}, ui::MouseAction::Move);
  desktop_->mouse({s.left + 50, s.top + 50}, ui::MouseAction::LeftDown);
  desktop_->mouse({s.left + 54, s.top + 90}, ui::MouseAction::Move);
  desktop_->mouse({s.left + 54, s.top + 90}, ui::MouseAction::LeftUp);
  settle();
  EXPECT_EQ(cell->zoomRegion(), expected);
  ASSERT_EQ(cell->zoomOff(), KS_OK);
  EXPECT_FALSE(cell->zoomActive());
}

TEST_F(LiveViewCell, SoundAndRecordingRequests) {
  auto counting = std::make_shared<CountingSink>();
  CountingSink& sink = *counting;
  services_->recording = counting;
  auto& dock = loggedInDock();
  CPreviewer* cell = dock.cells()[2];
  ASSERT_EQ(cell->open(1, true), KS_OK);
  EXPECT_EQ(cell->setMute(false), KS_OK);
  EXPECT_TRUE(cell->soundOn());
  EXPECT_EQ(cell->setMute(false), KS_OK);  // on already: still success
  EXPECT_EQ(cell->setMute(true), KS_OK);
  EXPECT_FALSE(cell->soundOn());

  const uint64_t keyRequests = server_->keyFrameRequests();
  EXPECT_EQ(cell->setRecording(true), KS_OK);
  EXPECT_EQ(cell->setRecording(true), KS_OK);
  EXPECT_EQ(sink.starts.load(), 1);
  EXPECT_EQ(sink.lastDuration.load(), 900u);
  EXPECT_TRUE(pumpUntil([&] { return server_->keyFrameRequests() > keyRequests; }));
  EXPECT_EQ(cell->setRecording(false), KS_OK);
  EXPECT_EQ(sink.stops.load(), 1);
  EXPECT_TRUE(sink.lastAnnounce.load());
  // Closing a recording cell stops the recording without offering the file.
  EXPECT_EQ(cell->setRecording(true), KS_OK);
  EXPECT_EQ(cell->open(1, false), KS_OK);
  EXPECT_EQ(sink.stops.load(), 2);
  EXPECT_FALSE(sink.lastAnnounce.load());
  EXPECT_FALSE(cell->recording());
}

TEST_F(LiveViewCell, TeardownClosesEveryStreamBeforeLogoutAndTheDockEndsItself) {
  auto entry = std::make_unique<DeviceEntry>();
  testing::CreateRecord record("00:11:22:33:44:55", server_->commandPort(), server_->mediaPort(), 4);
  ASSERT_EQ(entry->initialise(9, record.param), KS_OK);
  CPreviewManager* dock = entry->liveDock();
  const ui::HWND window = dock->createDock(host_->hwnd(), ui::Rect::fromSize(0, 0, 640, 480));
  ASSERT_NE(window, 0u);
  ASSERT_EQ(entry->session().login(), KS_OK);
  ASSERT_EQ(dock->findCell(0, false)->open(1, true), KS_OK);
  ASSERT_EQ(dock->findCell(3, false)->open(4, true), KS_OK);
  ASSERT_EQ(dock->findCell(0, false)->setMute(false), KS_OK);
  ASSERT_TRUE(pumpUntil([&] { return server_->streamCount() == 2; }));

  entry->silence();
  EXPECT_FALSE(dock->findCell(0, false)->soundOn());
  entry->teardown();
  EXPECT_TRUE(pumpUntil([&] { return server_->streamCount() == 0; }));
  EXPECT_EQ(entry->session().loginHandle(), -1);
  entry.reset();  // the session goes; the dock window has not closed yet
  EXPECT_TRUE(pumpUntil([&] { return !ui::isWindow(window); }));
}

TEST_F(LiveViewCell, TheSettingsCellFeedsItsOverlayAndReopensOnEveryOpen) {
  RecordingOverlay* overlay = nullptr;
  services_->overlays = [&overlay] {
    auto made = std::make_unique<RecordingOverlay>();
    overlay = made.get();
    return made;
  };;
  EventRecorder events(*services_->events);
  auto& dock = loggedInDock();
  CPreviewer* settings = dock.settingsCell();
  ASSERT_NE(settings, nullptr);
  ASSERT_NE(overlay, nullptr);
  EXPECT_EQ(settings->overlay(), overlay);
  // Shown over the whole dock, its surface fills it, and the overlay knows the size.
  ui::showWindow(settings->hwnd(), ui::SW_SHOW);
  settle();
  EXPECT_EQ(ui::getWindowRect(settings->surface()), ui::getWindowRect(dock.window()));
  EXPECT_EQ(overlay->size, (ui::Size{801, 601}));

  settings->setChannel(2);
  ASSERT_EQ(settings->open(1, true), KS_OK);
  ASSERT_TRUE(pumpUntil([&] { return overlay->paints.load() > 3; }));
  EXPECT_TRUE(pumpUntil([&] { return desktop_->captureWindow(settings->surface()).colorAt(2, 2) == RGB(0, 0, 255); }));
  EXPECT_TRUE(pumpUntil([&] { return overlay->video == ui::Size{1280, 720}; }));
  // Opening again reopens the stream on the cell's channel.
  settings->setChannel(3);
  const int32_t firstHandle = settings->stream()->handle();
  ASSERT_EQ(settings->open(4, true), KS_OK);
  EXPECT_NE(settings->stream()->handle(), firstHandle);
  EXPECT_EQ(settings->stream()->channel(), 3);

  // Mouse events reach the overlay in surface pixels; a click selects no
  // live cell and raises no event.
  const ui::Rect s = ui::getWindowRect(settings->surface());
  desktop_->click({s.left + 30, s.top + 40});
  settle();
  ASSERT_EQ(overlay->downs.size(), 1u);
  EXPECT_EQ(overlay->downs[0], (ui::Point{30, 40}));
  ASSERT_EQ(overlay->ups.size(), 1u);
  EXPECT_TRUE(events.ofType(NOTIFY_SELECTED).empty());
  EXPECT_EQ(settings->open(1, false), KS_OK);
}

}  // namespace
}  // namespace ksplugs
