// display_bench: the SDK's display side under a grid's load. An in-process
// device simulator sends 36 live sub streams (704 x 576, 25 fps, H.264)
// that the SDK decodes and draws into the 36 cells of a 6 x 6 grid on a
// 1920 x 1080 headless desktop. Reported: frames decoded and drawn per
// second, CPU time per frame (the drawing threads alone, and the whole
// process with the simulator), frames dropped or skipped, and the latency
// from the simulator stamping a frame to the SDK having drawn it (p50,
// p99). The same frames, recorded from four of the streams, are then
// decoded by bare libavcodec without drawing, for the ratio. Last, one
// 1280 x 720 H.265 main stream into a 1280 x 720 window (against its frames
// decoded bare back to back and at 25 a second), and a sweep of
// square grids of 1 to 36 streams for the curve of CPU per frame against
// the number of streams, drawn and bare.
//
// Usage: display_bench [grid seconds, default 20] [main-stream seconds, default 10]
//                      [seconds per sweep step, default 4; 0 skips the sweep]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "bench/support/Figures.h"
#include "bench/support/GridStreams.h"
#include "bench/support/ProcessCpu.h"
#include "platform/devlink/DevLinkSdk.h"
#include "platform/ui/Window.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowSystem.h"
#include "platform/ui/backends/Backends.h"
#include "tools/devsim/DevSimServer.h"

namespace {

constexpr int kGrid = 6;
constexpr int kGridChannels = 4;  // 36 streams over 4 simulated cameras
constexpr int kH265Channel = 4;
constexpr int kRecordedStreams = 4;  // streams whose frames are kept for the bare decode

using benchsupport::Cells;
using benchsupport::RunResult;

int percentile(const std::vector<int32_t>& v, double p) { return benchsupport::percentile<int32_t>(v, p, -1); }

void report(const char* title, int streams, RunResult& r, Cells& cells) {
  benchsupport::collectLatencies(cells, r);
  const double decodedFps = r.delta.decoded / r.seconds;
  const double sentFps = r.picturesSent / r.seconds;
  std::printf("\n%s: %d stream(s), %.1f s measured\n", title, streams, r.seconds);
  std::printf("  sent              %8.1f pictures/s (counted by the simulator)\n", sentFps);
  std::printf("  decoded           %8.1f frames/s (%.0f%% of sent)\n", decodedFps,
              sentFps > 0 ? 100.0 * decodedFps / sentFps : 0.0);
  std::printf("  drawn             %8.1f frames/s\n", r.delta.drawn / r.seconds);
  std::printf("  dropped undecoded %8llu frames (%.1f/s)\n", static_cast<unsigned long long>(r.delta.dropped),
              r.delta.dropped / r.seconds);
  std::printf("  decoded not drawn %8llu frames (behind the stream)\n",
              static_cast<unsigned long long>(r.delta.skipped));
  std::printf("  decode errors     %8llu\n", static_cast<unsigned long long>(r.delta.errors));
  if (r.delta.decoded) {
    std::printf("  CPU per frame     %8.2f ms drawing threads (decode + scale + draw)\n",
                r.delta.cpuNs / 1e6 / r.delta.decoded);
    std::printf("                    %8.2f ms whole process (simulator, network, drawing)\n",
                r.processCpu * 1e3 / r.delta.decoded);
  }
  std::printf("  process CPU       %8.2f cores\n", r.processCpu / r.seconds);
  std::printf("  latency sent->drawn p50 %d ms, p99 %d ms (%zu drawn frames)\n", percentile(r.latencies, 0.5),
              percentile(r.latencies, 0.99), r.latencies.size());
}

}  // namespace

int main(int argc, char** argv) {
  const int gridSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const int mainSeconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
  const int sweepSeconds = argc > 3 ? std::max(0, std::atoi(argv[3])) : 4;
  av_log_set_level(AV_LOG_QUIET);
  ui::WindowSystem::install(ui::makeHeadlessBackend());

  devsim::DevSimOptions o;
  o.commandPort = 0;
  o.mediaPort = 0;
  o.channels = kGridChannels + 1;
  o.loopSeconds = 2;
  // Camera-like pictures, so decoding costs what it does with a camera.
  o.content = devsim::Content::kScene;
  o.h265Channels.assign(kGridChannels + 1, false);
  o.h265Channels[kH265Channel] = true;
  o.maxStreams = 64;
  devsim::DevSimServer server(o);
  std::string error;
  if (!server.start(&error)) {
    std::fprintf(stderr, "devsim: %s\n", error.c_str());
    return 1;
  }
  // Encode the picture loops before anything is measured.
  for (int ch = 0; ch < kGridChannels; ++ch) server.loopFor(ch, DLSDK_STREAM_SUB);
  server.loopFor(kH265Channel, DLSDK_STREAM_MAIN);

  const int32_t login = benchsupport::startSdkAndLogin(server.commandPort());
  if (login < 0) {
    std::fprintf(stderr, "login failed\n");
    return 1;
  }
  std::printf("display_bench: %u cores, grid %d s, main stream %d s\n", std::thread::hardware_concurrency(),
              gridSeconds, mainSeconds);

  // The 36 cells opened at once: every stream's key frame falls in the same
  // 40 ms each second. Shown for what it does to the latency only.
  int alignedP99 = -1;
  {
    benchsupport::Grid aligned;
    if (!benchsupport::openGrid(aligned, login, server.mediaPort(), kGrid, kGridChannels, 0)) return 1;
    RunResult run = benchsupport::measure(aligned.cells, std::max(4, gridSeconds / 3));
    benchsupport::closeCells(aligned.cells);
    benchsupport::collectLatencies(aligned.cells, run);
    alignedP99 = percentile(run.latencies, 0.99);
    std::printf(
        "\n6 x 6 grid, cells opened at once (all key frames in the same 40 ms): latency sent->drawn p50 %d ms, "
        "p99 %d ms (%zu drawn frames, %.1f s)\n",
        percentile(run.latencies, 0.5), alignedP99, run.latencies.size(), run.seconds);
    aligned.cells.clear();
    aligned.windows.clear();
    aligned.top.destroyWindow();
  }

  // The 6 x 6 grid: a full-screen window with 36 cells of 320 x 180, opened
  // over one second so that their key frames are spread as 36 cameras' are.
  benchsupport::Grid grid;
  if (!benchsupport::openGrid(grid, login, server.mediaPort(), kGrid, kGridChannels, kRecordedStreams,
                              std::chrono::seconds(1)))
    return 1;
  Cells& cells = grid.cells;
  benchsupport::MeasureOptions counted;
  counted.server = &server;
  RunResult gridRun = benchsupport::measure(cells, gridSeconds, counted);
  benchsupport::closeCells(cells);
  report("6 x 6 grid of sub streams (704 x 576 H.264 into 320 x 180 cells, opened over 1 s)", kGrid * kGrid, gridRun,
         cells);

  // The same frames, decoded bare.
  const benchsupport::BareDecode bare = benchsupport::bareDecodeRecorded(cells);
  if (bare.decoded) {
    const double sdkMs = gridRun.delta.decoded ? gridRun.delta.cpuNs / 1e6 / gridRun.delta.decoded : 0;
    const double bareMs = bare.nsPerFrame / 1e6;
    std::printf("\nbare libavcodec, same frames (%zu recorded from %d streams, %zu decoded, one thread):\n",
                bare.recorded, kRecordedStreams, bare.decoded);
    std::printf("  CPU per frame     %8.2f ms  -> %.0f frames/s per core\n", bareMs, 1000.0 / bareMs);
    std::printf("  SDK / bare        %8.2f (drawing threads' CPU per frame over bare decoding)\n", sdkMs / bareMs);
    size_t interleaved = 0;
    const double interleavedMs = benchsupport::bareDecodeInterleavedNsPerFrame(cells, interleaved) / 1e6;
    std::printf(
        "  interleaved       %8.2f ms per frame, the same frames a stream at a time in turn (%zu decoded; "
        "shown, not the baseline)\n",
        interleavedMs, interleaved);
    benchsupport::figure("36 x D1 grid: drawing CPU per frame, x bare decoding", sdkMs / bareMs, "ratio", "<= 1.3");
  }
  benchsupport::figure("36 x D1 grid: frames dropped undecoded", static_cast<double>(gridRun.delta.dropped), "frames",
                       "<= 0");
  benchsupport::figure("36 x D1 grid: latency sent->drawn p99 (cells opened over 1 s)",
                       percentile(gridRun.latencies, 0.99), "ms", "<= 40");
  benchsupport::figure("36 x D1 grid: latency sent->drawn p99 (cells opened at once)", alignedP99, "ms", "<= 40");
  cells.clear();
  grid.windows.clear();
  grid.top.destroyWindow();

  // One H.265 main stream, 1280 x 720, into a window of the same size.
  ui::Window big;
  const ui::HWND bigWindow = big.create(0, {0, 0, 1280, 720}, "main", ui::WS_VISIBLE | ui::WS_POPUP);
  Cells mainCells;
  mainCells.push_back(
      benchsupport::openCell(login, server.mediaPort(), kH265Channel, DLSDK_STREAM_MAIN, bigWindow, true));
  if (!mainCells.back()) return 1;
  RunResult mainRun = benchsupport::measure(mainCells, mainSeconds, counted);
  benchsupport::closeCells(mainCells);
  report("main stream (1280 x 720 H.265 into 1280 x 720)", 1, mainRun, mainCells);
  {
    size_t n = 0;
    std::lock_guard lock(mainCells[0]->framesMutex);
    const double ns = benchsupport::bareDecodeNsPerFrame(mainCells[0]->frames, mainCells[0]->format, n);
    if (n) std::printf("  bare libavcodec   %8.2f ms per frame, one thread (%zu frames)\n", ns / 1e6, n);
    // The same frames at the stream's own 25 a second: between two frames
    // the thread sleeps as a live stream's does, which alone costs the
    // decoder time (cooled caches) that back-to-back decoding never pays.
    size_t paced = 0;
    const double pacedNs = benchsupport::bareDecodeNsPerFrame(mainCells[0]->frames, mainCells[0]->format, paced,
                                                              std::chrono::milliseconds(40));
    if (paced) std::printf("  bare, 25 a second %8.2f ms per frame, one thread (%zu frames)\n", pacedNs / 1e6, paced);
    if (n && mainRun.delta.decoded) {
      const double sdkNs = static_cast<double>(mainRun.delta.cpuNs) / mainRun.delta.decoded;
      std::printf("  SDK / bare        %8.2f (back to back), %.2f (25 a second)\n", sdkNs / ns,
                  paced ? sdkNs / pacedNs : 0.0);
      benchsupport::figure("720p H.265 main stream: drawing CPU per frame, x bare decoding", sdkNs / ns, "ratio",
                           "<= 1.3");
      if (paced) {
        benchsupport::figure("720p H.265 main stream: drawing CPU per frame, x bare decoding at 25 fps",
                             sdkNs / pacedNs, "ratio", "<= 1.3");
      }
    }
    std::printf("  decoder threads   %8d\n", mainCells[0]->renderer->stats().decoderThreads);
  }
  mainCells.clear();
  big.destroyWindow();

  // The sweep: k x k grids, k = 1 .. 6, each measured alone.
  if (sweepSeconds > 0) std::printf("\nsweep: CPU per frame against the number of streams\n");
  for (int k = 1; sweepSeconds > 0 && k <= kGrid; ++k) {
    benchsupport::Grid step;
    if (!benchsupport::openGrid(step, login, server.mediaPort(), k, kGridChannels, std::min(k * k, kRecordedStreams)))
      return 1;
    RunResult run = benchsupport::measure(step.cells, sweepSeconds, counted);
    benchsupport::closeCells(step.cells);
    const benchsupport::BareDecode stepBare = benchsupport::bareDecodeRecorded(step.cells);
    if (run.delta.decoded && stepBare.decoded) {
      const double drawMs = run.delta.cpuNs / 1e6 / run.delta.decoded;
      const double bareMs = stepBare.nsPerFrame / 1e6;
      std::printf("  %2d streams: drawing %.3f ms, bare %.3f ms per frame (%.2fx)\n", k * k, drawMs, bareMs,
                  drawMs / bareMs);
      benchsupport::curvePoint("live drawing (decode + scale + present)", k * k, drawMs);
      benchsupport::curvePoint("bare libavcodec, same frames", k * k, bareMs);
    }
    step.cells.clear();
    step.windows.clear();
    step.top.destroyWindow();
  }
  DLSDK_UserLogout(login);
  DLSDK_CleanUp();
  server.stop();
  ui::WindowSystem::uninstall();
  return 0;
}
