// The live-view dock under load: a 36-channel device from an in-process
// device simulator in a 6 x 6 dock of 1920 x 1080 on the headless desktop,
// every cell playing its channel's sub stream. Reports the pictures drawn
// per second in each cell, the process's CPU, the resident memory each
// playing stream adds, and what one layout pass (a resize) and one paging
// step (the same split requested again) cost, idle and while all streams
// play.
//
// Usage: liveview_bench [seconds of playback, default 20]
#include <sys/resource.h>

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

#include "bench/support/Figures.h"
#include "bench/support/ProcessSample.h"
#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/DisplayTable.h"
#include "platform/devlink/StreamRenderer.h"
#include "platform/ui/Window.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowSystem.h"
#include "platform/ui/backends/Backends.h"
#include "plugin/session/CDVSDevice.h"
#include "plugin/session/testing/CreateRecord.h"
#include "plugin/video/live/CPreviewManager.h"
#include "plugin/video/live/CPreviewer.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kChannels = 36;

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Resident memory of this process in bytes (0 when /proc cannot tell).
double residentBytes() { return benchsupport::sampleThisProcess(0).rssKb * 1024.0; }

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

uint64_t drawnOf(ksplugs::CPreviewer* cell) {
  if (!cell->isOpen()) return 0;
  auto renderer = devlink::DisplayTable::instance().find(cell->stream()->handle());
  return renderer ? renderer->stats().framesDrawn : 0;
}

// Microseconds per layout pass: the dock is resized back and forth by one
// pixel, each size change running one pass over all 36 cells.
double layoutPassMicros(ksplugs::CPreviewManager& dock, int rounds) {
  const auto start = Clock::now();
  for (int i = 0; i < rounds; ++i) ui::moveWindow(dock.window(), 0, 0, 1920 - (i % 2), 1080, true);
  const double us = seconds(Clock::now() - start) * 1e6 / rounds;
  ui::pumpPendingMessages();
  return us;
}

// Microseconds per paging step: the 3 x 3 split requested again shows the
// next page of nine cells.
double pagingStepMicros(ksplugs::CPreviewManager& dock, int rounds) {
  dock.setLayout(3);
  const auto start = Clock::now();
  for (int i = 0; i < rounds; ++i) dock.setLayout(3);
  const double us = seconds(Clock::now() - start) * 1e6 / rounds;
  dock.setLayout(6);
  ui::pumpPendingMessages();
  return us;
}

}  // namespace

int main(int argc, char** argv) {
  const int playSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  auto backend = ui::makeHeadlessBackend();
  if (!ui::WindowSystem::install(std::move(backend))) return 1;
  DLSDK_StartUp();
  av_log_set_level(AV_LOG_QUIET);

  devsim::DevSimOptions options;
  options.commandPort = 0;
  options.mediaPort = 0;
  options.channels = kChannels;
  options.loopSeconds = 1;
  // Camera-like pictures, so decoding costs what it does with a camera.
  options.content = devsim::Content::kScene;
  options.maxStreams = 64;
  devsim::DevSimServer server(options);
  std::string error;
  if (!server.start(&error)) {
    std::fprintf(stderr, "simulator: %s\n", error.c_str());
    return 1;
  }
  // Encode the 36 sub-stream loops before anything is timed.
  const auto encodeStart = Clock::now();
  for (int channel = 0; channel < kChannels; ++channel) server.loopFor(channel, DLSDK_STREAM_SUB);
  std::printf("encoded 36 sub-stream loops in %.1f s\n", seconds(Clock::now() - encodeStart));

  ksplugs::testing::CreateRecord record("00:11:22:33:44:55", server.commandPort(), server.mediaPort(), kChannels);
  WebPlug_NCL::CDVSDevice session;
  session.copyFrom(record.param);
  if (session.login() != 0) {
    std::fprintf(stderr, "login failed\n");
    return 1;
  }

  ui::Window host;
  host.create(0, ui::Rect{0, 0, 1920, 1080}, std::string_view("host"), ui::WS_POPUP | ui::WS_VISIBLE);
  auto dock = std::make_unique<ksplugs::CPreviewManager>();
  dock->setSession(&session);
  dock->createDock(host.hwnd(), ui::Rect{0, 0, 1920, 1080});
  ui::pumpPendingMessages();

  const double idlePass = layoutPassMicros(*dock, 200);
  const double idlePage = pagingStepMicros(*dock, 200);

  const double residentBefore = residentBytes();
  for (int channel = 0; channel < kChannels; ++channel) {
    if (int rc = dock->findCell(channel, false)->open(DLSDK_STREAM_SUB, true); rc != 0)
      std::fprintf(stderr, "cell %d: open answered %d\n", channel, rc);
  }
  // Warm up until every cell has drawn, at most 10 s.
  ui::pumpMessagesUntil(
      [&] {
        for (ksplugs::CPreviewer* cell : dock->cells())
          if (drawnOf(cell) == 0) return false;
        return true;
      },
      std::chrono::seconds(10));
  ui::pumpMessagesUntil([] { return false; }, std::chrono::seconds(1));

  std::vector<uint64_t> before;
  for (ksplugs::CPreviewer* cell : dock->cells()) before.push_back(drawnOf(cell));
  const uint64_t sentBefore = server.framesSent();
  const uint64_t picturesBefore = server.picturesSent();
  const double cpuBefore = cpuSeconds();
  const auto start = Clock::now();
  ui::pumpMessagesUntil([] { return false; }, std::chrono::seconds(playSeconds));
  const double wall = seconds(Clock::now() - start);
  const double cpu = cpuSeconds() - cpuBefore;
  const double residentPlaying = residentBytes();
  const uint64_t pictures = server.picturesSent() - picturesBefore;
  const uint64_t sound = server.framesSent() - sentBefore - pictures;
  std::vector<double> fps;
  for (size_t i = 0; i < dock->cells().size(); ++i) fps.push_back((drawnOf(dock->cells()[i]) - before[i]) / wall);

  const double busyPass = layoutPassMicros(*dock, 50);
  const double busyPage = pagingStepMicros(*dock, 50);

  std::vector<double> sorted = fps;
  std::sort(sorted.begin(), sorted.end());
  double total = 0;
  for (double f : fps) total += f;
  std::printf("\n36 sub streams (704 x 576 at 25 fps) in a 6 x 6 dock of 1920 x 1080, %.1f s\n", wall);
  std::printf("  pictures sent by the simulator %7.1f /s (and %.1f sound frames/s)\n", pictures / wall, sound / wall);
  std::printf("  drawn per cell                min %.1f  median %.1f  max %.1f  fps\n", sorted.front(),
              sorted[sorted.size() / 2], sorted.back());
  std::printf("  drawn, all cells              %8.1f /s\n", total);
  std::printf("  process CPU                   %8.2f cores (%.1f ms per drawn picture)\n", cpu / wall,
              total > 0 ? cpu * 1e3 / (total * wall) : 0.0);
  std::printf("  resident memory               %8.1f MB before the streams, %.1f MB playing: %.2f MB per stream\n",
              residentBefore / 1e6, residentPlaying / 1e6, (residentPlaying - residentBefore) / 1e6 / kChannels);
  std::printf("  layout pass (36 cells)        %8.1f us idle, %.1f us while playing\n", idlePass, busyPass);
  std::printf("  paging step (3 x 3 split)     %8.1f us idle, %.1f us while playing\n", idlePage, busyPage);
  std::printf("  per cell fps:");
  for (size_t i = 0; i < fps.size(); ++i) std::printf("%s%.1f", i % 12 == 0 ? "\n    " : " ", fps[i]);
  std::printf("\n");
  benchsupport::figure("live view: resident memory per D1 stream", (residentPlaying - residentBefore) / 1e6 / kChannels,
                       "MB", "<= 8");
  benchsupport::figure("layout pass over 36 playing cells", busyPass / 1000.0, "ms", "<= 3");

  dock.reset();  // the cells close their streams with their windows
  session.logout();
  server.stop();
  ui::WindowSystem::uninstall();
  return 0;
}
