// From a mouse move to the picture: how long after a drag step the moved
// privacy mask shows on the desktop, in one process on the headless desktop
// with the shell's dialog, the plug-in library and a device simulator at 25
// pictures per second. The baseline, measured from the same moments, is the
// time until the next new picture shows anywhere in a part of the cell the
// mask never covers: an editor cannot show a change sooner than the next
// picture it is drawn over.
//
// Both figures include up to one capture interval, which is printed.
//
// Usage: overlay_drag_bench [drag steps, default 60]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "bench/support/ProcessCpu.h"
#include "platform/ui/WindowApi.h"
#include "tests/support/LivePageHarness.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using Clock = std::chrono::steady_clock;
using kstest::LivePageHarness;

double millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double median(const std::vector<double>& values) { return benchsupport::percentile(values, 0.5, 0.0); }

// A cheap fingerprint of a rectangle of the capture.
uint64_t fingerprint(const ui::Image& image, const ui::Rect& r) {
  uint64_t h = 1469598103934665603ull;
  for (int y = r.top; y < r.bottom; y += 3)
    for (int x = r.left; x < r.right; x += 3) h = (h ^ image.colorAt(x, y)) * 1099511628211ull;
  return h;
}

}  // namespace

int main(int argc, char** argv) {
  const int steps = argc > 1 ? std::clamp(std::atoi(argv[1]), 5, 1000) : 60;
  av_log_set_level(AV_LOG_QUIET);
  devsim::DevSimOptions options;
  options.commandPort = 0;
  options.mediaPort = 0;
  options.channels = 1;
  options.loopSeconds = 2;
  // Camera-like pictures, so decoding costs what it does with a camera.
  options.content = devsim::Content::kScene;
  devsim::DevSimServer device(options);
  std::string error;
  if (!device.start(&error)) {
    std::fprintf(stderr, "devsim: %s\n", error.c_str());
    return 1;
  }
  auto page = std::make_unique<LivePageHarness>();
  if (!page->start(&error)) {
    std::fprintf(stderr, "page: %s\n", error.c_str());
    return 1;
  }
  page->addBrowser("Drag bench - Browser", ui::Rect{20, 20, 900, 760}, ui::Rect{28, 50, 892, 752});
  const uint32_t id = page->createDevice(device, "00-11-22-33-44-99", 1, 2);
  const Json::Value preview =
      page->live(id, 2, 1,
                 R"("settings": true, "Preview": {"title": "drag", "layout": 1, "x": 20, "y": 20, "w": 703, "h": 575,)"
                 R"( "open": true, "channelName": ["Gate"]})");
  if (id == 0 || preview["code"].asInt() != 200) {
    std::fprintf(stderr, "no settings view\n");
    return 1;
  }
  ui::Rect cell;
  for (ui::HWND dock : LivePageHarness::docks())
    for (ui::HWND child : ui::getChildWindows(dock))
      if (ui::getClassName(child) == "CPreviewer" && ui::isWindowVisible(child)) cell = ui::getWindowRect(child);
  const Json::Value applied = page->request(
      R"({"msgId": 3, "Fountion": "settings", "settings": {"operate": 1, "uniqueId": )" + std::to_string(id) +
      R"(, "type": 3, "privacyCover": {"type": 1, "count": 1, "left": [100], "top": [100], "right": [300],)"
      R"( "bottom": [300], "fillColor": "FF0000"}}})");
  if (applied["code"].asInt() != 200) {
    std::fprintf(stderr, "privacy apply answered %d\n", applied["code"].asInt());
    return 1;
  }
  ui::HeadlessDesktop& desktop = page->desktop();
  const ui::COLORREF blue = ui::RGB(0, 0, 255);
  const auto at = [&](int x, int y) { return ui::Point{cell.left + x, cell.top + y}; };
  if (!ui::pumpMessagesUntil([&] { return desktop.captureDesktop().colorAt(cell.left + 200, cell.top + 200) == blue; },
                             std::chrono::seconds(10))) {
    std::fprintf(stderr, "the mask never showed\n");
    return 1;
  }
  // Where pictures change and the mask never goes.
  const ui::Rect quiet{cell.left + 450, cell.top + 350, cell.left + 690, cell.top + 560};

  desktop.moveMouse(at(200, 200));
  desktop.mouse(at(200, 200), ui::MouseAction::LeftDown);
  ui::pumpPendingMessages();
  std::vector<double> toMask;
  std::vector<double> toPicture;
  std::vector<double> captures;
  int x = 200;
  for (int i = 0; i < steps; ++i) {
    x += 2;
    // The mask's right edge moves from r - 2 to r = 300 + (x - 200); its red
    // selection outline covers a pixel either side of the edge, so pixel
    // r - 3 turns from outline red to the mask's blue.
    const int edge = 300 + (x - 200) - 3;
    const uint64_t before = fingerprint(desktop.captureDesktop(), quiet);
    const Clock::time_point start = Clock::now();
    desktop.moveMouse(at(x, 200));
    double mask = -1;
    double picture = -1;
    while (mask < 0 || picture < 0) {
      ui::pumpPendingMessages();
      const Clock::time_point shot = Clock::now();
      const ui::Image image = desktop.captureDesktop();
      captures.push_back(millis(Clock::now() - shot));
      const double now = millis(Clock::now() - start);
      if (mask < 0 && image.colorAt(cell.left + edge, cell.top + 200) == blue) mask = now;
      if (picture < 0 && fingerprint(image, quiet) != before) picture = now;
      if (now > 2000) break;
    }
    if (mask >= 0) toMask.push_back(mask);
    if (picture >= 0) toPicture.push_back(picture);
  }
  desktop.mouse(at(x, 200), ui::MouseAction::LeftUp);
  ui::pumpPendingMessages();
  const double m = median(toMask);
  const double p = median(toPicture);
  std::printf("drag step to the mask shown:   median %6.1f ms, max %6.1f ms (%zu of %d steps)\n", m,
              toMask.empty() ? 0.0 : *std::max_element(toMask.begin(), toMask.end()), toMask.size(), steps);
  std::printf("same moment to a new picture:  median %6.1f ms (%zu steps)\n", p, toPicture.size());
  std::printf("ratio %.2fx; one capture takes %.1f ms (median)\n", p > 0 ? m / p : 0.0, median(captures));
  page.reset();
  device.stop();
  return 0;
}
