// Live view opened from a page, timed end to end in one process on the
// headless desktop: the page sends "live" Preview with openAll over the
// WebSocket to the shell's dialog, the library opens every channel of a
// device simulator, and the cells draw into their windows.
//
// "Drawn" is read from the window layer only: after the request is sent, the
// user-interface thread keeps handling messages and, between them, captures
// the desktop and samples each visible cell's rectangle (below its label
// row) for pixels that are neither the empty cell, the dock, the browser nor
// the desktop. A cell counts as drawn at the first capture that shows such a
// picture, so every figure includes up to one capture interval (printed).
// Between repeats all channels are closed and the cells are seen empty again.
//
// Second part: one supervision pass (the registry's walk calling each
// entry's dock tracking) over 8 devices that each have a live dock over a
// browser window of this process, run on a thread of its own while the
// user-interface thread handles the dock moves, with the browsers still and
// with all 8 browsers moved before every pass.
//
// Usage: livecmd_bench [repeats per layout, default 5]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "bench/support/Figures.h"
#include "platform/devlink/DevLinkSdk.h"
#include "platform/ui/WindowApi.h"
#include "plugin/device/DeviceRegistry.h"
#include "plugin/session/testing/CreateRecord.h"
#include "tests/support/LivePageHarness.h"
#include "tests/support/LoopbackClientSocket.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using Clock = std::chrono::steady_clock;
using kstest::LivePageHarness;

double millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The visible cells of a dock and their screen rectangles.
std::vector<ui::Rect> visibleCellRects(ui::HWND dock) {
  std::vector<ui::Rect> rects;
  for (ui::HWND child : ui::getChildWindows(dock))
    if (ui::getClassName(child) == "CPreviewer" && ui::isWindowVisible(child))
      rects.push_back(LivePageHarness::pictureArea(ui::getWindowRect(child)));
  return rects;
}

struct OpenTimes {
  double reply = 0;    // the page has the answer
  double first = 0;    // the first cell shows a picture
  double median = 0;   // the median cell shows one
  double all = 0;      // every cell shows one; -1 when some never did
  int neverDrawn = 0;  // cells that showed no picture within the time-out
  bool complete = false;
};

// One openAll Preview, polled until every cell has drawn or 20 s passed.
OpenTimes timeOpen(LivePageHarness& page, uint32_t device, int layout, int channels, int msgId,
                   std::vector<double>& captureCost, ui::HWND& dock) {
  std::string names;
  for (int i = 0; i < channels; ++i) names += (i == 0 ? "\"C" : ", \"C") + std::to_string(i) + "\"";
  const std::string body = R"("Preview": {"title": "camera wall", "layout": )" + std::to_string(layout) +
                           R"(, "x": 20, "y": 20, "w": 1280, "h": 720, "streamType": 2, "openAll": true,)"
                           R"( "channelName": [)" +
                           names + "]}";
  std::vector<ui::Rect> cells;
  std::vector<double> drawnAt;
  const auto start = Clock::now();
  auto poll = [&] {
    // The pump calls this after every message; a capture costs about 2 ms,
    // so the queue is drained first and the window thread runs its messages
    // at the pace it would with nobody watching, one capture per pass.
    ui::pumpPendingMessages();
    if (dock == 0 || cells.empty()) {
      const auto docks = LivePageHarness::docks();
      for (ui::HWND candidate : docks)
        if (ui::isWindowVisible(candidate) && static_cast<int>(visibleCellRects(candidate).size()) == channels) {
          dock = candidate;
          cells = visibleCellRects(candidate);
          drawnAt.assign(cells.size(), -1);
        }
      if (cells.empty()) return;
    }
    const auto before = Clock::now();
    const ui::Image image = page.desktop().captureDesktop();
    captureCost.push_back(millis(Clock::now() - before));
    const double now = millis(Clock::now() - start);
    for (size_t i = 0; i < cells.size(); ++i)
      if (drawnAt[i] < 0 && LivePageHarness::pictureIn(image, cells[i], 4)) drawnAt[i] = now;
  };
  auto allDrawn = [&] {
    return !cells.empty() && std::none_of(drawnAt.begin(), drawnAt.end(), [](double t) { return t < 0; });
  };
  OpenTimes times;
  const Json::Value reply = page.live(device, msgId, 1, body, 0, poll);
  times.reply = millis(Clock::now() - start);
  if (reply["code"].asInt() != 200) {
    std::fprintf(stderr, "Preview answered %s\n", reply.toStyledString().c_str());
    return times;
  }
  ui::pumpMessagesUntil(
      [&] {
        poll();
        return allDrawn();
      },
      std::chrono::seconds(20));
  times.complete = allDrawn();
  // Cells that never drew are counted apart, never folded into the times.
  std::vector<double> sorted;
  for (double t : drawnAt)
    if (t >= 0) sorted.push_back(t);
  times.neverDrawn = static_cast<int>(drawnAt.size() - sorted.size());
  if (cells.empty()) times.neverDrawn = channels;
  if (!sorted.empty()) {
    std::sort(sorted.begin(), sorted.end());
    times.first = sorted.front();
    times.median = sorted[sorted.size() / 2];
    times.all = times.complete ? sorted.back() : -1;
  } else {
    times.first = times.median = times.all = -1;
  }
  return times;
}

// Closes every channel and waits until no cell shows a picture any more.
bool closeAll(LivePageHarness& page, uint32_t device, ui::HWND dock, int msgId) {
  const Json::Value reply = page.live(device, msgId, 1, R"("Preview": {"title": "camera wall", "closeAll": true})");
  if (reply["code"].asInt() != 200) return false;
  const std::vector<ui::Rect> cells = visibleCellRects(dock);
  return ui::pumpMessagesUntil(
      [&] {
        const ui::Image image = page.desktop().captureDesktop();
        for (const ui::Rect& cell : cells)
          if (LivePageHarness::pictureIn(image, cell, 4)) return false;
        return true;
      },
      std::chrono::seconds(10));
}

struct PassTimes {
  double stillP50 = 0, stillMax = 0, movingP50 = 0, movingMax = 0;
  bool ok = false;
};

// Supervision passes over 8 devices with a live dock each, each over its own
// browser window.
PassTimes timeSupervision(LivePageHarness& page, int passes) {
  PassTimes result;
  constexpr int kDevices = ksplugs::DeviceRegistry::kMaxDevices;
  auto registry = ksplugs::DeviceRegistry::make();
  kstest::LoopbackClientSocket socket;
  // Logins are never made: tracking needs only the dock windows.
  const uint16_t nowhere = kstest::freeTcpPort();
  std::vector<ui::HWND> browsers;
  std::vector<std::unique_ptr<ksplugs::testing::CreateRecord>> records;
  for (int i = 0; i < kDevices; ++i) {
    const ui::Rect frame{40 + 10 * i, 40 + 10 * i, 840 + 10 * i, 640 + 10 * i};
    browsers.push_back(page.addBrowser("Wall " + std::to_string(i) + " - Browser", frame,
                                       ui::Rect{frame.left + 8, frame.top + 30, frame.right - 8, frame.bottom - 8}));
    char mac[18];
    std::snprintf(mac, sizeof mac, "00-11-22-33-44-%02X", 0x80 + i);
    records.push_back(std::make_unique<ksplugs::testing::CreateRecord>(mac, nowhere, nowhere, 4, 100 + i));
    if (registry->create(records.back()->param) != KS_OK) {
      std::fprintf(stderr, "device %d not created\n", i);
      return result;
    }
    ksplugs::DeviceRef ref = registry->findById(records.back()->param.uniqueId);
    std::u16string title = u"Wall " + std::u16string(1, static_cast<char16_t>(u'0' + i));
    char16_t titleBuffer[260] = {};
    std::copy(title.begin(), title.end(), titleBuffer);
    LiveControlParam param{};
    param.type = LIVE_PREVIEW;
    param.preview.open = 1;
    param.preview.streamType = 1;
    param.preview.clientPort = socket.port();
    param.preview.title = titleBuffer;
    param.preview.layout = 2;
    param.preview.x = 10;
    param.preview.y = 10;
    param.preview.w = 400;
    param.preview.h = 300;
    if (!ref || ref->createDock(1, &param) != KS_OK) {
      std::fprintf(stderr, "dock %d not created\n", i);
      return result;
    }
  }
  ui::pumpPendingMessages();

  // One pass as the supervision thread makes it, timed on a thread of its
  // own while this thread handles what the pass sends to the docks.
  auto pass = [&](std::vector<double>& out) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
      const auto start = Clock::now();
      int visited = 0;
      for (ksplugs::DeviceEntry* entry = registry->next(nullptr); entry != nullptr; entry = registry->next(entry)) {
        entry->trackDocks();
        ++visited;
      }
      out.push_back(millis(Clock::now() - start) * 1000.0);
      if (visited != kDevices) std::fprintf(stderr, "a pass visited %d devices\n", visited);
      done = true;
    });
    ui::pumpMessagesUntil([&] { return done.load(); }, std::chrono::seconds(10));
    worker.join();
  };
  std::vector<double> still;
  std::vector<double> moving;
  for (int i = 0; i < 20; ++i) pass(still);  // warm-up
  still.clear();
  // Still and moved passes alternate, so that neither gains from running
  // first or later.
  for (int i = 0; i < passes; ++i) {
    pass(still);
    const int shift = i % 2 == 0 ? 5 : -5;
    for (ui::HWND browser : browsers) {
      const ui::Rect frame = ui::getWindowRect(browser);
      const ui::Rect moved{frame.left + shift, frame.top, frame.right + shift, frame.bottom};
      page.desktop().moveForeignWindow(browser, moved, std::nullopt,
                                       ui::Rect{moved.left + 8, moved.top + 30, moved.right - 8, moved.bottom - 8});
    }
    pass(moving);
    // The docks' queued moves are handled before the next still pass.
    ui::pumpMessagesUntil([] { return false; }, std::chrono::milliseconds(2));
  }
  // Every dock followed its browser, once the queued moves are handled.
  ui::pumpMessagesUntil([] { return false; }, std::chrono::milliseconds(200));
  result.ok = true;
  for (ksplugs::DeviceEntry* entry = registry->next(nullptr); entry != nullptr; entry = registry->next(entry)) {
    const ui::HWND owner = entry->liveDock()->ownerWindow();
    const ui::Rect browser = ui::getWindowRect(owner);
    const ui::Rect dock = ui::getWindowRect(entry->liveDock()->window());
    // The page offset (10) plus half the border between frame and client (8).
    if (owner == 0 || dock.left != browser.left + 18) {
      std::fprintf(stderr, "dock at %d,%d; its browser at %d,%d\n", dock.left, dock.top, browser.left, browser.top);
      result.ok = false;
    }
  }
  std::sort(still.begin(), still.end());
  std::sort(moving.begin(), moving.end());
  result.stillP50 = median(still);
  result.stillMax = still.back();
  result.movingP50 = median(moving);
  result.movingMax = moving.back();
  registry->shutdown();
  ui::pumpPendingMessages();
  for (ui::HWND browser : browsers) page.desktop().removeForeignWindow(browser);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  av_log_set_level(AV_LOG_QUIET);

  // One simulator of 36 channels serves the three devices; its sub-stream
  // loops are encoded before anything is timed.
  devsim::DevSimOptions options;
  options.commandPort = 0;
  options.mediaPort = 0;
  options.channels = 36;
  options.loopSeconds = 1;
  // Camera-like pictures, so decoding costs what it does with a camera.
  options.content = devsim::Content::kScene;
  options.maxStreams = 64;
  options.maxSessions = 16;
  devsim::DevSimServer server(options);
  std::string error;
  if (!server.start(&error)) {
    std::fprintf(stderr, "simulator: %s\n", error.c_str());
    return 1;
  }
  for (int channel = 0; channel < options.channels; ++channel) server.loopFor(channel, DLSDK_STREAM_SUB);

  LivePageHarness page;
  if (!page.start(&error)) {
    std::fprintf(stderr, "harness: %s\n", error.c_str());
    return 1;
  }
  page.addBrowser("Camera Wall - Browser", ui::Rect{0, 0, 1400, 820}, ui::Rect{8, 30, 1392, 812});

  struct Case {
    int layout;
    int cells;
  };
  std::printf(
      "livecmd_bench: \"live\" Preview openAll (sub streams, 704 x 576) to pictures in the cells,\n"
      "dock 1280 x 720, p50 over %d reopens (close all, open all); cold = first open\n"
      "(login and dock creation included). Times in ms from sending the request.\n\n",
      repeats);
  std::printf("%-7s %5s | %8s %8s %8s | %8s %8s %8s %8s\n", "layout", "cells", "cold 1st", "cold all", "reply",
              "p50 1st", "p50 med", "p50 all", "p50 rep");
  std::vector<double> captureCost;
  int msgId = 10;
  int mac = 1;
  for (const Case c : {Case{2, 4}, Case{4, 16}, Case{6, 36}}) {
    char macText[18];
    std::snprintf(macText, sizeof macText, "00-11-22-33-44-%02X", mac++);
    const uint32_t device = page.createDevice(server, macText, c.cells, 2);
    if (device == 0) {
      std::fprintf(stderr, "device of %d channels not created\n", c.cells);
      return 1;
    }
    ui::HWND dock = 0;
    const OpenTimes cold = timeOpen(page, device, c.layout, c.cells, msgId++, captureCost, dock);
    std::vector<double> first, med, all, reply;
    int incomplete = cold.complete ? 0 : 1;
    int neverDrawn = cold.neverDrawn;
    const auto keep = [](std::vector<double>& list, double t) {
      if (t >= 0) list.push_back(t);
    };
    for (int r = 0; r < repeats; ++r) {
      if (!closeAll(page, device, dock, msgId++)) {
        std::fprintf(stderr, "layout %d: cells still show pictures after closing\n", c.layout);
        return 1;
      }
      const OpenTimes t = timeOpen(page, device, c.layout, c.cells, msgId++, captureCost, dock);
      if (!t.complete) ++incomplete;
      neverDrawn += t.neverDrawn;
      keep(first, t.first);
      keep(med, t.median);
      keep(all, t.all);
      reply.push_back(t.reply);
    }
    std::printf("%-7d %5d | %8.0f %8.0f %8.0f | %8.0f %8.0f %8.0f %8.0f", c.layout, c.cells, cold.first, cold.all,
                cold.reply, median(first), median(med), median(all), median(reply));
    if (incomplete > 0) {
      std::printf("  (%d of %d opens left %d cells without a picture in 20 s; left out of the times)", incomplete,
                  repeats + 1, neverDrawn);
    }
    std::printf("\n");
    std::fflush(stdout);
    if (c.cells == 36)
      benchsupport::figure("dock of 36 cells: last cell drawn after the Preview (warm, p50)", median(all), "ms",
                           "<= 250");
    // This device's dock leaves the screen for the next one.
    closeAll(page, device, dock, msgId++);
    page.live(device, msgId++, 9, R"("ShowDock": {"showMode": 4})");
  }
  std::printf("\ncapture of the desktop (the polling interval): p50 %.1f ms, max %.1f ms\n", median(captureCost),
              captureCost.empty() ? 0.0 : *std::max_element(captureCost.begin(), captureCost.end()));

  const PassTimes passes = timeSupervision(page, 200);
  std::printf("\nsupervision pass, 8 devices with a live dock each (200 passes, us)\n");
  std::printf("  browsers still    p50 %8.1f   max %8.1f\n", passes.stillP50, passes.stillMax);
  std::printf("  browsers moved    p50 %8.1f   max %8.1f   (every dock moved along%s)\n", passes.movingP50,
              passes.movingMax, passes.ok ? "" : ": NOT all followed");
  page.stop();
  server.stop();
  return 0;
}
