// The plug-in library starts with the shell's dialog and stops when it
// closes. Three times in one process, each time a page creates a device and
// opens a live view whose cells play over its browser window; after each
// stop no dock, stream or device is left, and device ids are never reused.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>

#include "platform/ui/WindowApi.h"
#include "tests/support/LivePageHarness.h"
#include "tests/support/Watchdog.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using namespace std::chrono_literals;
using kstest::LivePageHarness;

TEST(LibraryRestart, StartsAndStopsThreeTimesWithADeviceAndALiveDock) {
  kstest::Watchdog watchdog(150s, "LibraryRestart");
  devsim::DevSimOptions options;
  options.commandPort = 0;
  options.mediaPort = 0;
  options.channels = 4;
  options.loopSeconds = 1;
  devsim::DevSimServer device(options);
  std::string error;
  ASSERT_TRUE(device.start(&error)) << error;

  std::set<uint32_t> ids;
  for (int round = 1; round <= 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    LivePageHarness page;
    ASSERT_TRUE(page.start(&error)) << error;
    page.addBrowser("Restart " + std::to_string(round) + " - Browser", ui::Rect{100, 50, 900, 650},
                    ui::Rect{108, 80, 892, 642});
    const uint32_t id = page.createDevice(device, "00-11-22-33-44-7" + std::to_string(round), 4);
    ASSERT_NE(id, 0u);
    EXPECT_TRUE(ids.insert(id).second) << "device id " << id << " was handed out before";

    const Json::Value preview = page.live(
        id, 2, 1,
        R"("Preview": {"title": "restart )" + std::to_string(round) +
            R"(", "layout": 2, "x": 20, "y": 60, "w": 640, "h": 480, "openAll": true,)"
            R"( "channelName": ["A", "B", "C", "D"]})");
    ASSERT_EQ(preview["code"].asInt(), 200) << preview.toStyledString();
    const auto docks = LivePageHarness::docks();
    ASSERT_EQ(docks.size(), 1u);
    const ui::HWND cell = LivePageHarness::cellCaptioned(docks.front(), u"D");
    ASSERT_NE(cell, 0u);
    EXPECT_TRUE(ui::pumpMessagesUntil(
        [&] {
          return LivePageHarness::pictureIn(page.desktop().captureDesktop(),
                                            LivePageHarness::pictureArea(ui::getWindowRect(cell)));
        },
        10s))
        << "the last cell shows no picture";
    EXPECT_EQ(device.streamCount(), 4);

    // Closing the dialog stops the library: every stream and login ends.
    page.stop();
    EXPECT_TRUE(ui::pumpMessagesUntil([&] { return device.streamCount() == 0; }, 10s));
  }
  device.stop();
}

}  // namespace
