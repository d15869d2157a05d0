// The playback dock's player against an in-process device simulator on the
// headless desktop: how long from opening a day of recordings to the first
// picture drawn in the cell, and from a seek to the first frame shown from
// the new place (the SDK's frame time at the target), p50 and p95; and the
// CPU a 1280 x 720 recorded stream costs, decoded and drawn into a window,
// against the same stream live.
//
// Usage: playback_bench [opens, default 10] [seeks, default 20] [seconds per CPU run, default 5]
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

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/DisplayTable.h"
#include "platform/devlink/StreamRenderer.h"
#include "platform/ui/Window.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowSystem.h"
#include "platform/ui/backends/Backends.h"
#include "plugin/session/CDVSDevice.h"
#include "plugin/session/testing/CreateRecord.h"
#include "plugin/video/live/CPreviewer.h"
#include "plugin/video/playback/CPlaybackManager.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using Clock = std::chrono::steady_clock;

double millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t at = std::min(values.size() - 1, static_cast<size_t>(p * (values.size() - 1) + 0.5));
  return values[at];
}

uint64_t drawn(ksplugs::CPreviewer& cell) {
  ksplugs::RecordedStream* stream = cell.recorded();
  if (stream == nullptr || !stream->isOpen()) return 0;
  auto renderer = devlink::DisplayTable::instance().find(stream->handle());
  return renderer ? renderer->stats().framesDrawn : 0;
}

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct CpuRun {
  uint64_t drawn = 0;
  double cpu = 0;  // seconds of the whole process (the in-process simulator included)
};

// Draws an opened main stream into `window` for `seconds` and measures it.
CpuRun drawFor(int32_t stream, ui::HWND window, int seconds) {
  CpuRun run;
  if (DLSDK_StreamOpenEx(stream, 1, 1, 0xFFFFFF, 2, 0, 0, 704, 576) != 0 || DLSDK_StreamPlay(stream, window) != 0)
    return run;
  auto renderer = devlink::DisplayTable::instance().find(stream);
  // The first picture first, so that both runs measure steady playing.
  ui::pumpMessagesUntil([&] { return renderer && renderer->stats().framesDrawn > 0; }, std::chrono::seconds(10));
  const uint64_t before = renderer ? renderer->stats().framesDrawn : 0;
  const double cpu = cpuSeconds();
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  ui::pumpMessagesUntil([&] { return Clock::now() >= end; }, std::chrono::seconds(seconds + 1));
  run.cpu = cpuSeconds() - cpu;
  run.drawn = (renderer ? renderer->stats().framesDrawn : 0) - before;
  DLSDK_StreamStop(stream);
  return run;
}

// 2024-05-06 at `minutes` past midnight.
SystemTime at(int minutes) {
  return SystemTime{2024, 5, 1, 6, static_cast<uint16_t>(minutes / 60), static_cast<uint16_t>(minutes % 60), 0, 0};
}

}  // namespace

int main(int argc, char** argv) {
  const int opens = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const int seeks = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  const int runSeconds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  if (!ui::WindowSystem::install(ui::makeHeadlessBackend())) return 1;
  DLSDK_StartUp();
  av_log_set_level(AV_LOG_QUIET);

  devsim::DevSimOptions options;
  options.commandPort = 0;
  options.mediaPort = 0;
  options.channels = 1;
  // Camera-like pictures, so decoding costs what it does with a camera.
  options.content = devsim::Content::kScene;
  devsim::DevSimServer server(options);
  std::string error;
  if (!server.start(&error)) {
    std::fprintf(stderr, "simulator: %s\n", error.c_str());
    return 1;
  }
  server.loopFor(0, DLSDK_STREAM_SUB);  // encoded before anything is timed
  server.loopFor(0, DLSDK_STREAM_MAIN);

  ksplugs::testing::CreateRecord record("00:11:22:33:44:55", server.commandPort(), server.mediaPort(), 1);
  WebPlug_NCL::CDVSDevice session;
  session.copyFrom(record.param);
  if (session.login() != 0) {
    std::fprintf(stderr, "login failed\n");
    return 1;
  }
  ui::Window host;
  host.create(0, ui::Rect{0, 0, 800, 600}, std::string_view("host"), ui::WS_POPUP | ui::WS_VISIBLE);
  auto dock = std::make_unique<ksplugs::CPlaybackManager>();
  dock->setSession(&session);
  dock->createDock(host.hwnd(), ui::Rect{0, 0, 704, 576});
  ui::pumpPendingMessages();
  ksplugs::CPreviewer* cell = dock->player();
  if (cell == nullptr) return 1;

  std::vector<double> firstPicture;
  for (int i = 0; i < opens; ++i) {
    const auto start = Clock::now();
    if (const int rc = cell->playbackOpen(0, true, false, 63, at(14 * 60 + 7 * i)); rc != 0) {
      std::fprintf(stderr, "open answered %d\n", rc);
      return 1;
    }
    if (ui::pumpMessagesUntil([&] { return drawn(*cell) > 0; }, std::chrono::seconds(10)))
      firstPicture.push_back(millis(Clock::now() - start));
    cell->releasePlayback();
  }

  std::vector<double> seekLatency;
  if (cell->playbackOpen(0, true, false, 63, at(14 * 60)) != 0) return 1;
  ui::pumpMessagesUntil([&] { return drawn(*cell) > 0; }, std::chrono::seconds(10));
  for (int i = 0; i < seeks; ++i) {
    // Targets spread over the afternoon's recording, forward and back.
    const int minutes = 14 * 60 + 10 + ((i * 37) % 500);
    const SystemTime target = at(minutes);
    const int64_t wanted = 1714953600 + minutes * 60;  // 2024-05-06 00:00:00 UTC + minutes
    const auto start = Clock::now();
    if (cell->playbackSeek(0, target) != 0) continue;
    const bool landed = ui::pumpMessagesUntil(
        [&] {
          int64_t seconds = 0;
          return DLSDK_StreamGetAbsoluteTime(cell->recorded()->handle(), &seconds) == 0 && seconds >= wanted &&
                 seconds < wanted + 3;
        },
        std::chrono::seconds(10));
    if (landed) seekLatency.push_back(millis(Clock::now() - start));
  }
  cell->releasePlayback();

  // One 1280 x 720 main stream, recorded and then live, into the same window.
  CpuRun recorded, live;
  {
    DLSDK_HistoryStreamRequest request{};
    request.reserved1 = 1;
    request.start = DLSDK_Time{2024, 5, 6, 14, 0, 0};
    request.end = DLSDK_Time{2024, 5, 6, 23, 59, 59};
    request.typeMask = 63;
    request.reserved3 = 1;
    request.subStream = 0;
    request.mediaPort = static_cast<uint16_t>(session.mediaPort());
    int32_t stream = -1;
    if (DLSDK_HistoryStreamMultiTypeCreate(&stream, session.loginHandle(), &request) == 0) {
      recorded = drawFor(stream, host.hwnd(), runSeconds);
      DLSDK_HistoryStreamDestroy(stream);
    }
  }
  {
    DLSDK_LiveStreamRequest request{};
    request.reserved1 = 1;
    request.streamType = DLSDK_STREAM_MAIN;
    request.mediaPort = static_cast<uint16_t>(session.mediaPort());
    int32_t stream = -1;
    if (DLSDK_RealStreamConnect(&stream, session.loginHandle(), &request) == 0) {
      live = drawFor(stream, host.hwnd(), runSeconds);
      DLSDK_RealStreamDisconnect(stream);
    }
  }

  std::printf("playback of a 704 x 576 sub stream from an in-process simulator\n");
  std::printf("  open to first picture  p50 %7.1f ms  p95 %7.1f ms  (%zu of %d)\n", percentile(firstPicture, 0.5),
              percentile(firstPicture, 0.95), firstPicture.size(), opens);
  std::printf("  seek to frame at target p50 %7.1f ms  p95 %7.1f ms  (%zu of %d)\n", percentile(seekLatency, 0.5),
              percentile(seekLatency, 0.95), seekLatency.size(), seeks);

  const auto perFrame = [](const CpuRun& run) {
    return run.drawn ? run.cpu * 1e6 / static_cast<double>(run.drawn) : 0.0;
  };
  std::printf("1280 x 720 main stream drawn into an 800 x 600 window, %d s each (process CPU, simulator included)\n",
              runSeconds);
  std::printf("  live (baseline)   %6llu pictures  %7.1f us CPU per picture\n",
              static_cast<unsigned long long>(live.drawn), perFrame(live));
  std::printf("  recorded          %6llu pictures  %7.1f us CPU per picture  x%.2f of live\n",
              static_cast<unsigned long long>(recorded.drawn), perFrame(recorded),
              perFrame(live) > 0 ? perFrame(recorded) / perFrame(live) : 0.0);

  dock.reset();
  session.logout();
  server.stop();
  ui::WindowSystem::uninstall();
  return 0;
}
