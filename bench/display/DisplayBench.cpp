// display_bench: the SDK's display side under a grid's load. An in-process
// device simulator sends 36 live sub streams (704 x 576, 25 fps, H.264)
// that the SDK decodes and draws into the 36 cells of a 6 x 6 grid on a
// 1920 x 1080 headless desktop. Reported: frames decoded and drawn per
// second, CPU time per frame (the drawing threads alone, and the whole
// process with the simulator), frames dropped or skipped, and the latency
// from the simulator stamping a frame to the SDK having drawn it (p50,
// p99). The same frames, recorded from four of the streams, are then
// decoded by bare libavcodec without drawing, for the ratio. Last, one
// 1280 x 720 H.265 main stream into a 1280 x 720 window.
//
// Usage: display_bench [grid seconds, default 20] [main-stream seconds, default 10]
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
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
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/DisplayTable.h"
#include "platform/devlink/StreamRenderer.h"
#include "platform/ui/Window.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowSystem.h"
#include "platform/ui/backends/Backends.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using namespace std::chrono_literals;
using devlink::StreamRenderer;

constexpr int kGrid = 6;
constexpr int kGridChannels = 4;    // 36 streams over 4 simulated cameras
constexpr int kH265Channel = 4;
constexpr int kRecordedStreams = 4;  // streams whose frames are kept for the bare decode

double processCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The simulator's clock: local wall-clock time as calendar milliseconds.
int64_t calendarNowMs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm local {};
  localtime_r(&ts.tv_sec, &local);
  return static_cast<int64_t>(timegm(&local)) * 1000 + ts.tv_nsec / 1000000;
}

// One stream in the benchmark: its latencies (written by its own drawing
// thread only, read after the stream is closed) and, for a few streams,
// the video frames as received.
struct Cell {
  int32_t handle = -1;
  std::shared_ptr<StreamRenderer> renderer;
  std::atomic<bool> measuring{false};
  std::vector<int32_t> latencyMs;
  bool record = false;
  std::mutex framesMutex;
  std::vector<std::vector<uint8_t>> frames;  // guarded by framesMutex
  int format = 0;                            // guarded by framesMutex
};

void onDrawn(int32_t, void*, void* context) {
  auto* cell = static_cast<Cell*>(context);
  if (!cell->measuring.load(std::memory_order_relaxed)) return;
  cell->latencyMs.push_back(static_cast<int32_t>(calendarNowMs() - cell->renderer->drawingFrameTimeMs()));
}

int onMedia(int32_t, const DLSDK_MediaFrame* f, void* context) {
  auto* cell = static_cast<Cell*>(context);
  if (!cell->record || f->frameType == DLSDK_FRAME_AUDIO || f->length <= 32) return 1;
  if (!cell->measuring.load(std::memory_order_relaxed)) return 1;
  std::lock_guard lock(cell->framesMutex);
  cell->format = f->formatCode;
  cell->frames.emplace_back(f->data + 32, f->data + f->length);
  return 1;
}

struct Totals {
  uint64_t decoded = 0, drawn = 0, dropped = 0, skipped = 0, errors = 0;
  int64_t cpuNs = 0;
};

Totals totals(const std::vector<std::unique_ptr<Cell>>& cells) {
  Totals t;
  for (const auto& c : cells) {
    const auto s = c->renderer->stats();
    t.decoded += s.framesDecoded;
    t.drawn += s.framesDrawn;
    t.dropped += s.framesDropped;
    t.skipped += s.framesSkipped;
    t.errors += s.decodeErrors;
    t.cpuNs += s.cpuNs;
  }
  return t;
}

int percentile(std::vector<int32_t> v, double p) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

// Decodes the frames on this thread with bare libavcodec (one thread, no
// scaling, no drawing); answers CPU nanoseconds per frame.
double bareDecodeNsPerFrame(const std::vector<std::vector<uint8_t>>& frames, int format, size_t& decoded) {
  const AVCodec* codec = avcodec_find_decoder(format == DLSDK_FORMAT_H265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->thread_count = 1;
  ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
  avcodec_open2(ctx, codec, nullptr);
  AVPacket* packet = av_packet_alloc();
  AVFrame* picture = av_frame_alloc();
  std::vector<uint8_t> padded;
  timespec a{}, b{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
  for (const auto& f : frames) {
    padded.assign(f.begin(), f.end());
    padded.resize(f.size() + AV_INPUT_BUFFER_PADDING_SIZE);
    packet->data = padded.data();
    packet->size = static_cast<int>(f.size());
    if (avcodec_send_packet(ctx, packet) < 0) continue;
    while (avcodec_receive_frame(ctx, picture) == 0) ++decoded;
  }
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
  av_frame_free(&picture);
  av_packet_free(&packet);
  avcodec_free_context(&ctx);
  const double ns = (b.tv_sec - a.tv_sec) * 1e9 + (b.tv_nsec - a.tv_nsec);
  return decoded ? ns / decoded : 0;
}

struct RunResult {
  Totals delta;
  double seconds = 0;
  double processCpu = 0;
  std::vector<int32_t> latencies;
};

// Plays the cells for `seconds` after a two-second warm-up and measures.
RunResult measure(std::vector<std::unique_ptr<Cell>>& cells, int seconds) {
  ui::pumpMessagesUntil([] { return false; }, 2s);
  for (auto& c : cells) c->measuring = true;
  const Totals before = totals(cells);
  const double cpuBefore = processCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  ui::pumpMessagesUntil([] { return false; }, std::chrono::seconds(seconds));
  for (auto& c : cells) c->measuring = false;
  RunResult r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.processCpu = processCpuSeconds() - cpuBefore;
  const Totals after = totals(cells);
  r.delta.decoded = after.decoded - before.decoded;
  r.delta.drawn = after.drawn - before.drawn;
  r.delta.dropped = after.dropped - before.dropped;
  r.delta.skipped = after.skipped - before.skipped;
  r.delta.errors = after.errors - before.errors;
  r.delta.cpuNs = after.cpuNs - before.cpuNs;
  return r;
}

void report(const char* title, int streams, RunResult& r, double offeredFps, std::vector<std::unique_ptr<Cell>>& cells) {
  for (auto& c : cells) {
    DLSDK_StreamResetDraw(c->handle, 2, nullptr, nullptr);  // the drawing threads stop writing latencies
    r.latencies.insert(r.latencies.end(), c->latencyMs.begin(), c->latencyMs.end());
  }
  const double decodedFps = r.delta.decoded / r.seconds;
  std::printf("\n%s: %d stream(s), %.1f s measured\n", title, streams, r.seconds);
  std::printf("  offered           %8.1f frames/s\n", offeredFps);
  std::printf("  decoded           %8.1f frames/s (%.0f%% of offered)\n", decodedFps, 100.0 * decodedFps / offeredFps);
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

std::unique_ptr<Cell> openCell(int32_t login, uint16_t mediaPort, int channel, int type, ui::HWND window,
                               bool record) {
  auto cell = std::make_unique<Cell>();
  cell->record = record;
  cell->latencyMs.reserve(4096);
  DLSDK_LiveStreamRequest r{};
  r.channel = channel;
  r.reserved1 = 1;
  r.streamType = type;
  r.mediaPort = mediaPort;
  if (DLSDK_RealStreamConnect(&cell->handle, login, &r) != DLSDK_OK ||
      DLSDK_StreamOpenEx(cell->handle, 1, 1, 0xFFFFFF, 2, 0, 0, 704, 576) != DLSDK_OK) {
    return nullptr;
  }
  cell->renderer = devlink::DisplayTable::instance().find(cell->handle);
  DLSDK_StreamSetFrameSize(cell->handle, 5);
  DLSDK_StreamResetDraw(cell->handle, 2, &onDrawn, cell.get());
  DLSDK_StreamMediaCB(cell->handle, &onMedia, cell.get());
  DLSDK_StreamPlay(cell->handle, window);
  return cell;
}

void closeCells(std::vector<std::unique_ptr<Cell>>& cells) {
  for (auto& c : cells) {
    DLSDK_StreamMediaCB(c->handle, nullptr, nullptr);
    DLSDK_StreamStop(c->handle);
    DLSDK_RealStreamDisconnect(c->handle);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int gridSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const int mainSeconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
  av_log_set_level(AV_LOG_QUIET);
  ui::WindowSystem::install(ui::makeHeadlessBackend());

  devsim::DevSimOptions o;
  o.commandPort = 0;
  o.mediaPort = 0;
  o.channels = kGridChannels + 1;
  o.loopSeconds = 2;
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

  DLSDK_StartUp();
  DLSDK_SetAttribute(DLSDK_ATTR_RECEIVE_BUFFER, 0x200000);
  DLSDK_LoginInfo info{};
  std::strcpy(info.address, "127.0.0.1");
  info.commandPort = server.commandPort();
  std::strcpy(info.user, "admin");
  std::strcpy(info.password, "admin");
  int32_t login = -1;
  if (DLSDK_UserLogin(&login, &info) != DLSDK_OK) {
    std::fprintf(stderr, "login failed\n");
    return 1;
  }
  std::printf("display_bench: %u cores, grid %d s, main stream %d s\n", std::thread::hardware_concurrency(),
              gridSeconds, mainSeconds);

  // The 6 x 6 grid: a full-screen window with 36 cells of 320 x 180.
  ui::Window grid;
  grid.setClassBackground(ui::RGB(0x48, 0x4D, 0x5A));
  const ui::HWND gridWindow = grid.create(0, {0, 0, 1920, 1080}, "grid", ui::WS_VISIBLE | ui::WS_POPUP);
  std::vector<std::unique_ptr<ui::Window>> cellWindows;
  std::vector<std::unique_ptr<Cell>> cells;
  const int cw = 1920 / kGrid, ch = 1080 / kGrid;
  for (int i = 0; i < kGrid * kGrid; ++i) {
    auto w = std::make_unique<ui::Window>();
    w->setClassBackground(ui::RGB(0x48, 0x4D, 0x5A));
    const int x = (i % kGrid) * cw, y = (i / kGrid) * ch;
    const ui::HWND hwnd = w->create(gridWindow, {x, y, x + cw, y + ch}, "", ui::WS_CHILD | ui::WS_VISIBLE);
    auto cell = openCell(login, server.mediaPort(), i % kGridChannels, DLSDK_STREAM_SUB, hwnd, i < kRecordedStreams);
    if (!cell) {
      std::fprintf(stderr, "stream %d did not open\n", i);
      return 1;
    }
    cells.push_back(std::move(cell));
    cellWindows.push_back(std::move(w));
  }
  RunResult gridRun = measure(cells, gridSeconds);
  closeCells(cells);
  report("6 x 6 grid of sub streams (704 x 576 H.264 into 320 x 180 cells)", kGrid * kGrid, gridRun,
         kGrid * kGrid * 25.0, cells);

  // The same frames, decoded bare.
  size_t recorded = 0, bareDecoded = 0;
  double bareNs = 0;
  for (int i = 0; i < kRecordedStreams; ++i) {
    std::lock_guard lock(cells[i]->framesMutex);
    size_t n = 0;
    const double ns = bareDecodeNsPerFrame(cells[i]->frames, cells[i]->format, n);
    bareNs += ns * n;
    bareDecoded += n;
    recorded += cells[i]->frames.size();
  }
  if (bareDecoded) {
    const double sdkMs = gridRun.delta.decoded ? gridRun.delta.cpuNs / 1e6 / gridRun.delta.decoded : 0;
    const double bareMs = bareNs / 1e6 / bareDecoded;
    std::printf("\nbare libavcodec, same frames (%zu recorded from %d streams, %zu decoded, one thread):\n", recorded,
                kRecordedStreams, bareDecoded);
    std::printf("  CPU per frame     %8.2f ms  -> %.0f frames/s per core\n", bareMs, 1000.0 / bareMs);
    std::printf("  SDK / bare        %8.2f (drawing threads' CPU per frame over bare decoding)\n", sdkMs / bareMs);
  }
  cells.clear();
  cellWindows.clear();
  grid.destroyWindow();

  // One H.265 main stream, 1280 x 720, into a window of the same size.
  ui::Window big;
  const ui::HWND bigWindow = big.create(0, {0, 0, 1280, 720}, "main", ui::WS_VISIBLE | ui::WS_POPUP);
  std::vector<std::unique_ptr<Cell>> mainCells;
  mainCells.push_back(openCell(login, server.mediaPort(), kH265Channel, DLSDK_STREAM_MAIN, bigWindow, true));
  if (!mainCells.back()) return 1;
  RunResult mainRun = measure(mainCells, mainSeconds);
  closeCells(mainCells);
  report("main stream (1280 x 720 H.265 into 1280 x 720)", 1, mainRun, 25.0, mainCells);
  {
    size_t n = 0;
    std::lock_guard lock(mainCells[0]->framesMutex);
    const double ns = bareDecodeNsPerFrame(mainCells[0]->frames, mainCells[0]->format, n);
    if (n) std::printf("  bare libavcodec   %8.2f ms per frame, one thread (%zu frames)\n", ns / 1e6, n);
    std::printf("  decoder threads   %8d\n", mainCells[0]->renderer->stats().decoderThreads);
  }
  mainCells.clear();
  big.destroyWindow();
  DLSDK_UserLogout(login);
  DLSDK_CleanUp();
  server.stop();
  ui::WindowSystem::uninstall();
  return 0;
}
