// Live streams when devices fail, seen from a page in one process: the
// shell's dialog and the plug-in library on the headless desktop, a foreign
// browser window of this process, device simulators over real TCP.
//
// The library starts once per process, so one story walks it all: a device
// that accepts connections but never answers keeps its cell "connecting"
// while the dock of a good device keeps drawing; then the good device goes
// away (its simulator stops, as on a power cut), its cells show
// "reconnecting", lose their picture and answer snapshots with 1005, and
// when the simulator is back on the same ports the pictures return and a
// snapshot works again.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <json/writer.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/WindowApi.h"
#include "tests/support/FreePort.h"
#include "tests/support/LivePageHarness.h"
#include "tests/support/Watchdog.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using namespace std::chrono_literals;
using kstest::LivePageHarness;
using ui::HWND;
using ui::Rect;

const std::vector<std::u16string> kNames = {u"Gate", u"Yard", u"Hall", u"Roof"};

// A TCP port that takes connections into its backlog and never reads them:
// a device that hangs.
class SilentDevice {
 public:
  SilentDevice() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd_, 64) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
  }
  ~SilentDevice() {
    if (fd_ >= 0) ::close(fd_);
  }
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

class LiveStreamFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    // Retries after 50, 100, 200 ms ... instead of seconds.
    ::setenv("KESTROVA_RECONNECT_UNIT_MS", "50", 1);
    std::string error;
    device_ = LivePageHarness::startSimulator(4, &error);
    ASSERT_TRUE(device_) << error;
    ASSERT_TRUE(page_.start(&error)) << error;
    page_.addBrowser("Camera Wall - Browser", Rect{100, 50, 900, 650}, Rect{108, 80, 892, 642});
  }

  void TearDown() override {
    page_.stop();
    if (device_) device_->stop();
    ::unsetenv("KESTROVA_RECONNECT_UNIT_MS");
  }

  // A dock at `place` ("x": .., "y": .., "w": .., "h": ..) of the page.
  Json::Value preview(uint32_t device, int msgId, const std::string& names, const std::string& place,
                      const std::function<void()>& poll = {}) {
    return page_.live(device, msgId, 1,
                      R"("Preview": {"title": "camera wall", "layout": 2, )" + place +
                          R"(, "openAll": true, "channelName": [)" + names + "]}}",
                      0, poll);
  }

  Json::Value snapshot(uint32_t device, int msgId) {
    return page_.request(R"({"msgId": )" + std::to_string(msgId) +
                         R"(, "Fountion": "snapshot", "Capture": {"uniqueId": )" + std::to_string(device) +
                         R"(, "channel": 0, "format": 2}})");
  }

  static bool pictureIn(const ui::Image& image, HWND cell) {
    return cell != 0 && LivePageHarness::pictureIn(image, LivePageHarness::pictureArea(ui::getWindowRect(cell)));
  }

  // Pumps until every named cell of `dock` shows a picture (or, with
  // `shown` false, none does).
  bool picturesIn(HWND dock, bool shown, std::chrono::milliseconds limit) {
    return ui::pumpMessagesUntil(
        [&] {
          const ui::Image image = page_.desktop().captureDesktop();
          for (const auto& name : kNames)
            if (pictureIn(image, LivePageHarness::cellCaptioned(dock, name)) != shown) return false;
          return true;
        },
        limit);
  }

  // The pixels sampled in a cell's picture area, to tell one picture from the next.
  static std::vector<ui::COLORREF> sample(const ui::Image& image, HWND cell) {
    std::vector<ui::COLORREF> pixels;
    const Rect r = LivePageHarness::pictureArea(ui::getWindowRect(cell));
    for (int y = r.top; y < r.bottom; y += 7)
      for (int x = r.left; x < r.right; x += 7) pixels.push_back(image.colorAt(x, y));
    return pixels;
  }

  static int countCaptioned(HWND dock, std::u16string_view caption) {
    std::vector<HWND> all;
    LivePageHarness::collectDescendants(dock, all);
    int count = 0;
    for (HWND part : all)
      if (ui::getWindowTextW(part) == caption && ui::getClassName(ui::getParent(part)) == "CPreviewer") ++count;
    return count;
  }

  LivePageHarness page_;
  std::unique_ptr<devsim::DevSimServer> device_;
};

// The two docks sit side by side: a dock on top of another would hide its
// pictures from the desktop's capture.
TEST_F(LiveStreamFaults, AHangingDeviceStallsOnlyItsOwnCellsAndABrokenStreamComesBack) {
  kstest::Watchdog watchdog(150s, "LiveStreamFaults");
  const uint32_t good = page_.createDevice(*device_, "00-11-22-33-44-71", 4);
  ASSERT_NE(good, 0u);
  ASSERT_EQ(
      preview(good, 2, R"("Gate", "Yard", "Hall", "Roof")", R"("x": 20, "y": 60, "w": 560, "h": 420)")["code"].asInt(),
      200);
  ASSERT_EQ(LivePageHarness::docks().size(), 1u);
  const HWND goodDock = LivePageHarness::docks().front();
  ASSERT_TRUE(picturesIn(goodDock, true, 10s));

  // A device that never answers: while its Preview waits (for the login's
  // time-out), its cell says so and the good dock keeps drawing new pictures.
  SilentDevice silent;
  ASSERT_NE(silent.port(), 0);
  const uint16_t unusedMedia = kstest::freeTcpPort();
  const Json::Value created = page_.request(
      R"({"msgId": 3, "Fountion": "createDev", "Device": {"MAC": "00-11-22-33-44-72", "totalChannel": 2,)"
      R"( "cmdPort": )" +
      std::to_string(silent.port()) + R"(, "mediaPort": )" + std::to_string(unusedMedia) +
      R"(, "stream": [2, 2], "resShowBitrate": "Bitrate", "resMainStream": "Main", "resSubStream": "Sub",)"
      R"( "resThirdStream": "Third"}, "Auth": {"usr": "admin", "pwd": "admin", "address": "127.0.0.1"}})");
  ASSERT_EQ(created["code"].asInt(), 200) << created;
  const uint32_t hanging = created["uniqueId"].asUInt();
  const HWND gate = LivePageHarness::cellCaptioned(goodDock, u"Gate");
  const std::vector<ui::COLORREF> before = sample(page_.desktop().captureDesktop(), gate);
  HWND hangingDock = 0;
  bool sawConnecting = false;
  int newPictures = 0;
  std::vector<ui::COLORREF> last = before;
  const Json::Value stalled = preview(hanging, 4, R"("Door", "Lift")", R"("x": 590, "y": 60, "w": 180, "h": 140)", [&] {
    for (HWND dock : LivePageHarness::docks())
      if (dock != goodDock) hangingDock = dock;
    if (hangingDock != 0 && countCaptioned(hangingDock, u"connecting") == 2) sawConnecting = true;
    if (!sawConnecting) return;
    // Pictures drawn while the other device hangs.
    const std::vector<ui::COLORREF> now = sample(page_.desktop().captureDesktop(), gate);
    if (now != last) ++newPictures;
    last = now;
  });
  EXPECT_NE(stalled["code"].asInt(), 200) << stalled;
  EXPECT_TRUE(sawConnecting);
  EXPECT_GE(newPictures, 3);
  // The open failed: the cells no longer claim to connect.
  ASSERT_NE(hangingDock, 0u);
  EXPECT_EQ(countCaptioned(hangingDock, u"connecting"), 0);

  // The good device loses power: every cell says it reconnects, shows no
  // old picture and has nothing to snapshot.
  const uint16_t commandPort = device_->commandPort();
  const uint16_t mediaPort = device_->mediaPort();
  device_->stop();
  ASSERT_TRUE(ui::pumpMessagesUntil([&] { return countCaptioned(goodDock, u"reconnecting") == 4; }, 10s));
  EXPECT_TRUE(ui::pumpMessagesUntil(
      [&] {
        const ui::Image image = page_.desktop().captureDesktop();
        for (HWND cell : ui::getChildWindows(goodDock))
          if (ui::isWindowVisible(cell) && pictureIn(image, cell)) return false;
        return true;
      },
      5s));
  const Json::Value during = snapshot(good, 5);
  EXPECT_EQ(during["code"].asInt(), 1005) << during;
  // Attempts against the closed ports go on failing; the cells keep waiting.
  EXPECT_EQ(countCaptioned(goodDock, u"reconnecting"), 4);

  // The device is back on the same ports: the pictures return under their
  // captions and a snapshot works again.
  devsim::DevSimOptions options;
  options.commandPort = commandPort;
  options.mediaPort = mediaPort;
  options.channels = 4;
  options.loopSeconds = 1;
  device_ = std::make_unique<devsim::DevSimServer>(options);
  std::string error;
  ASSERT_TRUE(device_->start(&error)) << error;
  const bool back = picturesIn(goodDock, true, 20s);
  if (!back) {
    std::vector<HWND> all;
    LivePageHarness::collectDescendants(goodDock, all);
    const ui::Image image = page_.desktop().captureDesktop();
    for (HWND part : all)
      if (ui::getClassName(part) == "CPreviewer" && ui::isWindowVisible(part))
        for (HWND child : ui::getChildWindows(part))
          std::fprintf(stderr, "cell %u child %s '%s' visible %d picture %d\n", part, ui::getClassName(child).c_str(),
                       ui::getWindowText(child).c_str(), ui::isWindowVisible(child), pictureIn(image, part));
  }
  ASSERT_TRUE(back) << countCaptioned(goodDock, u"reconnecting") << " cells still reconnecting, "
                    << device_->streamCount() << " streams on the device";
  EXPECT_EQ(countCaptioned(goodDock, u"reconnecting"), 0);
  const Json::Value after = snapshot(good, 6);
  EXPECT_EQ(after["code"].asInt(), 200) << after;
}

}  // namespace
