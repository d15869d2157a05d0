// Live view opened from a page, the cell commands seen from outside: the
// page's digital zoom, keep-aspect placement, bitrate label and the dock's
// cell and settings views, each checked in a desktop capture or in the window
// tree, in one process with the shell's dialog, the plug-in library, a
// foreign browser window of this process and the device simulator.
//
// The library starts once per process, so the whole suite shares one page,
// one device and one dock, set up before the first test; each test leaves the
// dock as it found it.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "platform/sys/Utf.h"
#include "platform/ui/WindowApi.h"
#include "tests/support/LivePageHarness.h"
#include "tests/support/Watchdog.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using namespace std::chrono_literals;
using kstest::LivePageHarness;
using ui::HWND;
using ui::Rect;

constexpr ui::COLORREF kGreen = ui::RGB(0, 255, 0);

class LiveFromPageChecks : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    watchdog_ = std::make_unique<kstest::Watchdog>(150s, "LiveFromPageChecks");
    std::string error;
    device_ = LivePageHarness::startSimulator(4, &error);
    if (!device_) {
      setupError_ = "simulator: " + error;
      return;
    }
    page_ = std::make_unique<LivePageHarness>();
    if (!page_->start(&error)) {
      setupError_ = "page: " + error;
      return;
    }
    browser_ = page_->addBrowser("Camera Wall - Browser", Rect{100, 50, 900, 650}, Rect{108, 80, 892, 642});
    deviceId_ = page_->createDevice(*device_, "00-11-22-33-44-66", 4, 2);
    if (deviceId_ == 0) {
      setupError_ = "createDev failed";
      return;
    }
    const Json::Value preview =
        live(2, 1, R"("Preview": {"title": "camera wall", "layout": 2, "x": 20, "y": 60, "w": 640, "h": 480,)"
                   R"( "openAll": true, "channelName": ["Gate", "Yard", "Hall", "Roof"]})");
    if (preview["code"].asInt() != 200) {
      setupError_ = "Preview: " + preview.toStyledString();
      return;
    }
    const auto docks = LivePageHarness::docks();
    if (docks.size() != 1) {
      setupError_ = "expected one dock";
      return;
    }
    dock_ = docks.front();
    // Every cell plays before the checks start.
    if (!allPicturesShown()) setupError_ = "the cells show no pictures";
  }

  static void TearDownTestSuite() {
    page_.reset();
    if (device_) device_->stop();
    device_.reset();
    watchdog_.reset();
  }

  void SetUp() override { ASSERT_TRUE(setupError_.empty()) << setupError_; }

  static Json::Value live(int msgId, int type, const std::string& body, int channel = 0) {
    return page_->live(deviceId_, msgId, type, body, channel);
  }

  static HWND cell(std::u16string_view caption) { return LivePageHarness::cellCaptioned(dock_, caption); }

  static bool pictureInCell(const ui::Image& image, HWND cell) {
    return LivePageHarness::pictureIn(image, LivePageHarness::pictureArea(ui::getWindowRect(cell)));
  }

  static bool allPicturesShown() {
    return ui::pumpMessagesUntil(
        [] {
          const ui::Image image = page_->desktop().captureDesktop();
          for (const char16_t* name : {u"Gate", u"Yard", u"Hall", u"Roof"}) {
            const HWND c = cell(name);
            if (c == 0 || !pictureInCell(image, c)) return false;
          }
          return true;
        },
        10s);
  }

  // Pixels of `color` inside `r` of the current desktop.
  static int countColor(const Rect& r, ui::COLORREF color) {
    const ui::Image image = page_->desktop().captureDesktop();
    int count = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x)
        if (image.colorAt(x, y) == color) ++count;
    return count;
  }

  // The label of `cell` whose text looks like a bitrate display, or empty.
  static std::u16string bitrateText(HWND cell) {
    for (HWND child : ui::getChildWindows(cell)) {
      const std::u16string text = ui::getWindowTextW(child);
      if (!text.empty() && text.front() == u'[') return text;
    }
    return {};
  }

  static inline std::unique_ptr<kstest::Watchdog> watchdog_;
  static inline std::unique_ptr<devsim::DevSimServer> device_;
  static inline std::unique_ptr<LivePageHarness> page_;
  static inline std::string setupError_;
  static inline HWND browser_ = 0;
  static inline uint32_t deviceId_ = 0;
  static inline HWND dock_ = 0;
};

TEST_F(LiveFromPageChecks, TheDockIsAToolWindowOwnedByTheBrowser) {
  EXPECT_NE(ui::getWindowExStyle(dock_) & ui::WS_EX_TOOLWINDOW, 0u);
  EXPECT_EQ(ui::getWindowOwner(dock_), browser_);
}

TEST_F(LiveFromPageChecks, DigitalZoomDrawsTheDragRectangleOnlyWhileOn) {
  const HWND gate = cell(u"Gate");
  ASSERT_NE(gate, 0u);
  const HWND surface = LivePageHarness::surfaceOf(gate);
  ASSERT_NE(surface, 0u);
  const Rect area = ui::getWindowRect(surface);
  ASSERT_GT(area.width(), 150);
  ASSERT_GT(area.height(), 120);
  const ui::Point from{area.left + 20, area.top + 20};
  const ui::Point to{area.left + 130, area.top + 100};
  ui::HeadlessDesktop& desktop = page_->desktop();
  // The surface has no green of its own: the selection border lies outside it.
  ASSERT_EQ(countColor(area, kGreen), 0);

  // On: a drag shows its rectangle on the next pictures, and the release
  // takes it away again.
  ASSERT_EQ(live(20, 4, R"("DigitalZoom": {"open": true})")["code"].asInt(), 200);
  desktop.mouse(from, ui::MouseAction::LeftDown);
  desktop.moveMouse(to);
  EXPECT_TRUE(ui::pumpMessagesUntil([&] { return countColor(area, kGreen) > 150; }, 5s))
      << "no zoom rectangle while dragging";
  desktop.mouse(to, ui::MouseAction::LeftUp);
  EXPECT_TRUE(ui::pumpMessagesUntil([&] { return countColor(area, kGreen) == 0; }, 5s))
      << "the zoom rectangle stayed after the release";
  // The zoomed cell keeps playing.
  EXPECT_TRUE(ui::pumpMessagesUntil([&] { return pictureInCell(desktop.captureDesktop(), gate); }, 5s));

  // Off: a drag draws nothing, while pictures keep coming. It starts away
  // from the first press, which would otherwise make a double click (the
  // single-cell view).
  ASSERT_EQ(live(21, 4, R"("DigitalZoom": {"open": false})")["code"].asInt(), 200);
  const ui::Point elsewhere{area.left + 70, area.top + 60};
  desktop.mouse(elsewhere, ui::MouseAction::LeftDown);
  desktop.moveMouse(to);
  int greenSeen = 0;
  ui::pumpMessagesUntil(
      [&] {
        greenSeen = std::max(greenSeen, countColor(area, kGreen));
        return false;
      },
      1s);
  desktop.mouse(to, ui::MouseAction::LeftUp);
  EXPECT_EQ(greenSeen, 0) << "a drag without zoom drew a rectangle";
  EXPECT_TRUE(pictureInCell(desktop.captureDesktop(), gate));
  for (const char16_t* name : {u"Yard", u"Hall", u"Roof"}) EXPECT_TRUE(ui::isWindowVisible(cell(name)));
}

TEST_F(LiveFromPageChecks, AspectRatioFitsTheSurfaceToThePicture) {
  const HWND yard = cell(u"Yard");
  ASSERT_NE(yard, 0u);
  const HWND surface = LivePageHarness::surfaceOf(yard);
  ASSERT_NE(surface, 0u);
  const Rect full = ui::getWindowRect(surface);

  ASSERT_EQ(live(30, 6, R"("AspectRatio": {"ratio": true})", 1)["code"].asInt(), 200);
  ui::pumpPendingMessages();
  const Rect fitted = ui::getWindowRect(surface);
  ASSERT_NE(fitted, full);
  // Inside the area it had, centred, touching it on two opposite sides.
  EXPECT_GE(fitted.left, full.left);
  EXPECT_GE(fitted.top, full.top);
  EXPECT_LE(fitted.right, full.right);
  EXPECT_LE(fitted.bottom, full.bottom);
  const bool narrower = fitted.width() < full.width();
  if (narrower) {
    EXPECT_EQ(fitted.height(), full.height());
    EXPECT_LE(std::abs((fitted.left - full.left) - (full.right - fitted.right)), 1);
  } else {
    EXPECT_EQ(fitted.width(), full.width());
    EXPECT_LE(std::abs((fitted.top - full.top) - (full.bottom - fitted.bottom)), 1);
  }
  // The freed strip shows the cell, the surface the picture.
  const Rect strip = narrower ? Rect{full.left, full.top, fitted.left, full.bottom}
                              : Rect{full.left, full.top, full.right, fitted.top};
  ASSERT_GT(strip.width() * strip.height(), 0);
  EXPECT_TRUE(ui::pumpMessagesUntil(
      [&] {
        const ui::Image image = page_->desktop().captureDesktop();
        return image.colorAt((strip.left + strip.right) / 2, (strip.top + strip.bottom) / 2) ==
                   LivePageHarness::kCellBackground &&
               LivePageHarness::pictureIn(image, Rect{fitted.left + 4, fitted.top + 4, fitted.right - 4,
                                                      fitted.bottom - 4});
      },
      5s));

  ASSERT_EQ(live(31, 6, R"("AspectRatio": {"ratio": false})", 1)["code"].asInt(), 200);
  ui::pumpPendingMessages();
  EXPECT_EQ(ui::getWindowRect(surface), full);
  EXPECT_TRUE(ui::pumpMessagesUntil(
      [&] { return LivePageHarness::pictureIn(page_->desktop().captureDesktop(), strip, 2); }, 5s))
      << "the picture did not fill the cell again";
}

TEST_F(LiveFromPageChecks, BitrateLabelShowsThePagesRateOnceTheDisplayIsOn) {
  const HWND hall = cell(u"Hall");
  ASSERT_NE(hall, 0u);
  const HWND surface = LivePageHarness::surfaceOf(hall);
  ASSERT_NE(surface, 0u);
  ui::HeadlessDesktop& desktop = page_->desktop();
  const std::regex zeroRate(R"(\[\d+x\d+, 0 Kbps\])");
  const std::regex pageRate(R"(\[\d+x\d+, 1536 Kbps\])");

  // Rates sent while the display is off are not kept.
  ASSERT_EQ(live(40, 8, R"("Bitrate": {"kbpsMain": 900, "kbpsSub": 300})", 2)["code"].asInt(), 200);
  EXPECT_TRUE(bitrateText(hall).empty());

  // The cell's menu turns the display on.
  std::vector<std::string> offered;
  desktop.setMenuAnswer([&](const std::vector<ui::MenuItemView>& items, ui::Point) -> ui::UINT {
    for (const auto& item : items) offered.push_back(item.text);
    for (const auto& item : items)
      if (item.text == "Bitrate") return item.id;
    return 0;
  });
  const Rect r = ui::getWindowRect(surface);
  const ui::Point middle{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  desktop.rightClick(middle);
  EXPECT_TRUE(ui::pumpMessagesUntil(
      [&] { return std::regex_match(sys::utf16ToUtf8(bitrateText(hall)), zeroRate); }, 5s))
      << sys::utf16ToUtf8(bitrateText(hall));
  // The page's texts name the items.
  EXPECT_NE(std::find(offered.begin(), offered.end(), "Bitrate"), offered.end());
  EXPECT_NE(std::find(offered.begin(), offered.end(), "Main"), offered.end());

  // Now the page's rate for the stream the cell plays (main) shows.
  page_->pushes().clear();
  ASSERT_EQ(live(41, 8, R"("Bitrate": {"kbpsMain": 1536, "kbpsSub": 512})", 2)["code"].asInt(), 200);
  EXPECT_TRUE(ui::pumpMessagesUntil(
      [&] { return std::regex_match(sys::utf16ToUtf8(bitrateText(hall)), pageRate); }, 5s))
      << sys::utf16ToUtf8(bitrateText(hall));
  HWND label = 0;
  for (HWND child : ui::getChildWindows(hall))
    if (!ui::getWindowTextW(child).empty() && ui::getWindowTextW(child).front() == u'[') label = child;
  ASSERT_NE(label, 0u);
  EXPECT_TRUE(ui::isWindowVisible(label));

  // Off again through the menu: the label empties and goes.
  desktop.rightClick(middle);
  EXPECT_TRUE(ui::pumpMessagesUntil([&] { return !ui::isWindowVisible(label); }, 5s));
  EXPECT_TRUE(ui::getWindowTextW(label).empty());
  desktop.setMenuAnswer(nullptr);
}

TEST_F(LiveFromPageChecks, ShowDockHidesAndShowsOneCell) {
  const HWND roof = cell(u"Roof");
  const HWND gate = cell(u"Gate");
  ASSERT_NE(roof, 0u);
  ASSERT_NE(gate, 0u);
  const Rect roofArea = LivePageHarness::pictureArea(ui::getWindowRect(roof));

  ASSERT_EQ(live(50, 9, R"("ShowDock": {"showMode": 2})", 3)["code"].asInt(), 200);
  EXPECT_FALSE(ui::isWindowVisible(roof));
  EXPECT_TRUE(ui::isWindowVisible(gate));
  // Where the cell was, the dock shows through; the other cells play on.
  EXPECT_TRUE(ui::pumpMessagesUntil(
      [&] {
        const ui::Image image = page_->desktop().captureDesktop();
        return !LivePageHarness::pictureIn(image, roofArea) && pictureInCell(image, gate);
      },
      5s));

  ASSERT_EQ(live(51, 9, R"("ShowDock": {"showMode": 1})", 3)["code"].asInt(), 200);
  EXPECT_TRUE(ui::isWindowVisible(roof));
  EXPECT_TRUE(allPicturesShown());
}

TEST_F(LiveFromPageChecks, ShowDockSwitchesBetweenTheSettingsCellAndTheChannelCells) {
  HWND settings = 0;
  for (HWND child : ui::getChildWindows(dock_))
    if (ui::getClassName(child) == "CPreviewer" && LivePageHarness::surfaceOf(child) != 0 &&
        ui::getChildWindows(child).size() == 1)
      settings = child;
  ASSERT_NE(settings, 0u) << "no settings cell";
  EXPECT_FALSE(ui::isWindowVisible(settings));
  const std::vector<HWND> channels{cell(u"Gate"), cell(u"Yard"), cell(u"Hall"), cell(u"Roof")};

  ASSERT_EQ(live(60, 9, R"("ShowDock": {"showMode": 5})")["code"].asInt(), 200);
  EXPECT_TRUE(ui::isWindowVisible(settings));
  EXPECT_EQ(ui::getWindowRect(settings), ui::getWindowRect(dock_));
  for (HWND c : channels) EXPECT_FALSE(ui::isWindowVisible(c));
  // The settings cell has no stream of its own open: the dock shows one
  // still colour where the pictures were.
  const Rect dockRect = ui::getWindowRect(dock_);
  EXPECT_TRUE(ui::pumpMessagesUntil(
      [&] {
        const ui::Image image = page_->desktop().captureDesktop();
        const ui::COLORREF first = image.colorAt(dockRect.left + 30, dockRect.top + 40);
        for (int y = dockRect.top + 40; y < dockRect.bottom - 10; y += 9)
          for (int x = dockRect.left + 10; x < dockRect.right - 10; x += 9)
            if (image.colorAt(x, y) != first) return false;
        return true;
      },
      5s))
      << "pictures still show behind the settings cell";

  ASSERT_EQ(live(61, 9, R"("ShowDock": {"showMode": 6})")["code"].asInt(), 200);
  EXPECT_FALSE(ui::isWindowVisible(settings));
  for (HWND c : channels) EXPECT_TRUE(ui::isWindowVisible(c));
  EXPECT_TRUE(allPicturesShown());
}

}  // namespace
