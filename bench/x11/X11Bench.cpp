// x11_bench: the X11 desktop under load, on an Xvfb (1920 x 1080, 24 bits)
// that the benchmark starts for itself and ends when it is done.
//
// 1. One 704 x 576 frame presented to a top-level window the way the video
//    renderer does it: copied into the window's image through a WindowDC,
//    presented when the DC is released, then one round trip so the time
//    includes the server having put the pixels on the screen. Once with
//    MIT-SHM and once with core PutImage; the baseline is a memcpy of the
//    same bytes.
// 2. 36 sub streams (704 x 576 H.264, over 4 simulated cameras of a devsim
//    child process) decoded and drawn into the 36 child
//    windows of a 6 x 6 grid at 1920 x 1080. Reported: frames drawn per
//    cell per second, frames decoded, and the CPU time of this process and
//    of the X server together per drawn frame, against bare libavcodec
//    decoding of frames recorded from four of the streams. The simulator is
//    a devsim child process; its CPU is shown, not counted.
//
// Usage: x11_bench [grid seconds, default 20] [presents per path, default 1000]
#include <signal.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "bench/support/DevsimProcess.h"
#include "bench/support/Figures.h"
#include "bench/support/GridStreams.h"
#include "bench/support/ProcessCpu.h"
#include "platform/devlink/DevLinkSdk.h"
#include "platform/ui/Window.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowDC.h"
#include "platform/ui/WindowSystem.h"
#include "platform/ui/backends/X11Desktop.h"
#include "platform/ui/testing/Xvfb.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kFrameWidth = 704;
constexpr int kFrameHeight = 576;
constexpr int kGrid = 6;
constexpr int kGridChannels = 4;     // 36 streams over 4 simulated cameras
constexpr int kRecordedStreams = 4;  // streams whose frames are kept for the bare decode
constexpr int kWarmUp = 50;          // presents before the timed ones

// The X server's process id for the signal handler, which ends it when the
// benchmark is interrupted or crashes (the Xvfb object's destructor does
// otherwise).
std::atomic<pid_t> xServerPid{0};

void onSignal(int signal) {
  const pid_t pid = xServerPid.load();
  if (pid > 0) ::kill(pid, SIGTERM);
  ::_exit(128 + signal);
}

// Installs an X11 desktop for the life of the object.
class InstalledDesktop {
 public:
  explicit InstalledDesktop(bool useShm) {
    auto desktop = ui::X11Desktop::open({nullptr, useShm}, &error_);
    if (!desktop) return;
    desktop_ = desktop.get();
    if (!ui::WindowSystem::install(std::move(desktop))) {
      desktop_ = nullptr;
      error_ = "a window system is installed already";
    }
  }
  ~InstalledDesktop() {
    if (!desktop_) return;
    ui::pumpPendingMessages();
    ui::WindowSystem::uninstall();
  }
  InstalledDesktop(const InstalledDesktop&) = delete;
  InstalledDesktop& operator=(const InstalledDesktop&) = delete;

  ui::X11Desktop* get() const { return desktop_; }
  const std::string& error() const { return error_; }

 private:
  ui::X11Desktop* desktop_ = nullptr;
  std::string error_;
};

// A plain client of the display, to see what reached the screen.
class ScreenReader {
 public:
  ScreenReader() : c_(xcb_connect(nullptr, nullptr)) {
    if (!xcb_connection_has_error(c_)) screen_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
  }
  ~ScreenReader() { xcb_disconnect(c_); }
  bool ok() const { return screen_ != nullptr; }

  bool viewable(xcb_window_t w) {
    auto* a = xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, w), nullptr);
    const bool yes = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(a);
    return yes;
  }
  // 0x00RRGGBB of one pixel of the screen.
  uint32_t pixel(int x, int y) {
    auto* r = xcb_get_image_reply(c_,
                                  xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, screen_->root, static_cast<int16_t>(x),
                                                static_cast<int16_t>(y), 1, 1, ~0u),
                                  nullptr);
    const uint32_t v = r && xcb_get_image_data_length(r) >= 4 ? *reinterpret_cast<uint32_t*>(xcb_get_image_data(r)) : 0;
    std::free(r);
    return v & 0xFFFFFF;
  }

 private:
  xcb_connection_t* c_;
  xcb_screen_t* screen_ = nullptr;
};

std::vector<uint8_t> makeFrame(int seed) {
  std::vector<uint8_t> frame(static_cast<size_t>(kFrameWidth) * kFrameHeight * 4);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7 + seed);
  return frame;
}

uint32_t lastPixel(const std::vector<uint8_t>& frame) {
  uint32_t v = 0;
  std::memcpy(&v, frame.data() + frame.size() - 4, 4);
  return v & 0xFFFFFF;
}

double micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

struct Timing {
  double median = 0, p99 = 0;
};

Timing summarize(const std::vector<double>& us) {
  return {benchsupport::percentile(us, 0.5, 0.0), benchsupport::percentile(us, 0.99, 0.0)};
}

// Times `presents` presents of a 704 x 576 frame to a top-level window;
// empty, with a line on stderr, when the desktop or the screen misbehaves.
std::optional<std::vector<double>> timePresents(bool useShm, int presents) {
  InstalledDesktop desktop(useShm);
  if (!desktop.get()) {
    std::fprintf(stderr, "x11_bench: %s\n", desktop.error().c_str());
    return std::nullopt;
  }
  ui::X11Desktop& x11 = *desktop.get();
  ScreenReader reader;
  ui::Window window;
  const ui::HWND h = window.create(0, {0, 0, kFrameWidth, kFrameHeight}, "frame", ui::WS_POPUP | ui::WS_VISIBLE);
  const xcb_window_t xid = x11.xWindowOf(h);
  if (!h || !reader.ok() || !ui::pumpMessagesUntil([&] { return reader.viewable(xid); }, 5s)) {
    std::fprintf(stderr, "x11_bench: the frame window did not come up on the display\n");
    return std::nullopt;
  }
  ui::pumpPendingMessages();
  if (x11.presentsShared(h) != useShm) {
    std::fprintf(stderr, "x11_bench: the window presents %s, not %s\n", useShm ? "without SHM" : "with SHM",
                 useShm ? "with SHM" : "without SHM");
    return std::nullopt;
  }
  const std::vector<uint8_t> frames[2] = {makeFrame(0), makeFrame(1)};
  std::vector<double> us;
  us.reserve(static_cast<size_t>(presents));
  for (int i = 0; i < kWarmUp + presents; ++i) {
    const std::vector<uint8_t>& frame = frames[i % 2];
    const auto start = Clock::now();
    {
      ui::WindowDC dc(h);
      const ui::PixelAccess px = dc.dc().pixels();
      for (int y = 0; y < kFrameHeight; ++y) {
        std::memcpy(px.data + static_cast<size_t>(y) * px.stride,
                    frame.data() + static_cast<size_t>(y) * kFrameWidth * 4, static_cast<size_t>(kFrameWidth) * 4);
      }
      dc.dc().markDirty();
    }
    x11.sync();
    if (i >= kWarmUp) us.push_back(micros(Clock::now() - start));
  }
  // The last frame must be what the screen shows, or nothing was measured.
  const std::vector<uint8_t>& last = frames[(kWarmUp + presents - 1) % 2];
  if (reader.pixel(kFrameWidth - 1, kFrameHeight - 1) != lastPixel(last)) {
    std::fprintf(stderr, "x11_bench: the screen does not show the presented frame\n");
    return std::nullopt;
  }
  window.destroyWindow();
  return us;
}

std::vector<double> timeMemcpy(int copies) {
  const std::vector<uint8_t> frame = makeFrame(0);
  std::vector<uint8_t> target(frame.size());
  std::vector<double> us;
  us.reserve(static_cast<size_t>(copies));
  for (int i = 0; i < kWarmUp + copies; ++i) {
    const auto start = Clock::now();
    std::memcpy(target.data(), frame.data(), frame.size());
    // Keeps the compiler from dropping the copy.
    asm volatile("" : : "r"(target.data()) : "memory");
    if (i >= kWarmUp) us.push_back(micros(Clock::now() - start));
  }
  return us;
}

bool presentBench(int presents) {
  std::printf("\npresenting one %d x %d frame (WindowDC copy + present + round trip), %d presents each:\n", kFrameWidth,
              kFrameHeight, presents);
  const Timing copy = summarize(timeMemcpy(presents));
  std::printf("  memcpy of the same bytes   median %8.1f us  p99 %8.1f us\n", copy.median, copy.p99);
  for (const bool shm : {true, false}) {
    const auto us = timePresents(shm, presents);
    if (!us) return false;
    const Timing t = summarize(*us);
    std::printf("  %-26s median %8.1f us  p99 %8.1f us  = %5.1f x memcpy (median)\n",
                shm ? "X11 present, MIT-SHM" : "X11 present, core PutImage", t.median, t.p99,
                copy.median > 0 ? t.median / copy.median : 0.0);
  }
  return true;
}

bool gridBench(int seconds, pid_t xServer) {
  InstalledDesktop desktop(true);
  if (!desktop.get()) {
    std::fprintf(stderr, "x11_bench: %s\n", desktop.error().c_str());
    return false;
  }
  // The simulator runs in a process of its own, so that the CPU counted is
  // this process's (the shell's drawing path) and the X server's only.
  benchsupport::DevsimProcess devsim;
  if (!devsim.start({"--channels", std::to_string(kGridChannels), "--loop-seconds", "2", "--content", "scene",
                     "--codec", "h264", "--max-streams", "64"}))
    return false;
  const int32_t login = benchsupport::startSdkAndLogin(static_cast<uint16_t>(devsim.commandPort()));
  bool ok = login >= 0;
  if (!ok) std::fprintf(stderr, "x11_bench: login to the simulator failed\n");
  benchsupport::Grid grid;
  if (ok)
    // Opened over one second: key frames spread as 36 cameras' are.
    ok = benchsupport::openGrid(grid, login, static_cast<uint16_t>(devsim.mediaPort()), kGrid, kGridChannels,
                                kRecordedStreams, std::chrono::seconds(1));
  // The simulator encodes its picture loops when the first streams open;
  // measuring starts once every cell has drawn.
  if (ok && !ui::pumpMessagesUntil(
                [&] {
                  return std::all_of(grid.cells.begin(), grid.cells.end(),
                                     [](const auto& c) { return c->renderer->stats().framesDrawn > 0; });
                },
                60s)) {
    std::fprintf(stderr, "x11_bench: not every cell drew a picture within 60 s\n");
    ok = false;
  }
  benchsupport::RunResult run;
  const double devsimCpuBefore = benchsupport::processCpuSeconds(devsim.pid()).value_or(0);
  const auto runStart = Clock::now();
  if (ok) run = benchsupport::measure(grid.cells, seconds, {nullptr, xServer});
  const double devsimCores = (benchsupport::processCpuSeconds(devsim.pid()).value_or(0) - devsimCpuBefore) /
                             std::chrono::duration<double>(Clock::now() - runStart).count();
  benchsupport::closeCells(grid.cells);
  if (ok) {
    std::vector<double> perCell;
    for (const uint64_t drawn : run.drawnPerCell) perCell.push_back(static_cast<double>(drawn) / run.seconds);
    std::sort(perCell.begin(), perCell.end());
    const double cpu = run.processCpu + run.companionCpu;
    std::printf("\n6 x 6 grid on the X display: %zu sub streams (%d x %d H.264) into 320 x 180 cells, %.1f s:\n",
                grid.cells.size(), kFrameWidth, kFrameHeight, run.seconds);
    std::printf("  frames decoded              %8llu (%.1f/s)\n", static_cast<unsigned long long>(run.delta.decoded),
                run.delta.decoded / run.seconds);
    std::printf("  frames drawn                %8llu (%.1f/s)\n", static_cast<unsigned long long>(run.delta.drawn),
                run.delta.drawn / run.seconds);
    std::printf("  drawn per cell per second   min %.1f  median %.1f  max %.1f\n", perCell.front(),
                benchsupport::percentile(perCell, 0.5, 0.0), perCell.back());
    std::printf("  CPU, this process           %8.2f s (%.2f cores)\n", run.processCpu, run.processCpu / run.seconds);
    std::printf("  CPU, the X server           %8.2f s (%.2f cores)\n", run.companionCpu,
                run.companionCpu / run.seconds);
    std::printf("  CPU, the simulator process  %8.2f cores (not counted)\n", devsimCores);
    const benchsupport::BareDecode bare = benchsupport::bareDecodeRecorded(grid.cells);
    if (run.delta.drawn && bare.decoded) {
      const double perDrawnMs = cpu * 1e3 / static_cast<double>(run.delta.drawn);
      const double bareMs = bare.nsPerFrame / 1e6;
      std::printf("  CPU per drawn frame         %8.3f ms (this process and the X server)\n", perDrawnMs);
      std::printf(
          "  bare libavcodec per frame   %8.3f ms (%zu frames recorded from %d streams from a key frame, "
          "%zu decoded, one thread)\n",
          bareMs, bare.recorded, kRecordedStreams, bare.decoded);
      std::printf("  ratio                       %8.2f (CPU per drawn frame over bare decoding)\n",
                  perDrawnMs / bareMs);
      benchsupport::figure("36 x D1 grid on X11: shell drawing process + X server CPU per drawn frame, x bare",
                           perDrawnMs / bareMs, "ratio", "<= 1.5");
    } else {
      std::fprintf(stderr, "x11_bench: nothing was drawn or nothing recorded\n");
      ok = false;
    }
  }
  grid.cells.clear();
  grid.windows.clear();
  grid.top.destroyWindow();
  if (login >= 0) DLSDK_UserLogout(login);
  DLSDK_CleanUp();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const int gridSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const int presents = argc > 2 ? std::max(10, std::atoi(argv[2])) : 1000;
  av_log_set_level(AV_LOG_QUIET);
  ui::test::Xvfb xvfb;
  if (!xvfb.error().empty()) {
    std::fprintf(stderr, "x11_bench: %s\n", xvfb.error().c_str());
    return 1;
  }
  xServerPid = xvfb.pid();
  for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGABRT, SIGSEGV, SIGBUS}) ::signal(s, onSignal);
  ::setenv("DISPLAY", xvfb.display().c_str(), 1);
  std::printf("x11_bench: %u cores, Xvfb %s (1920x1080x24), grid %d s\n", std::thread::hardware_concurrency(),
              xvfb.display().c_str(), gridSeconds);
  std::fflush(stdout);
  const bool ok = presentBench(presents) && gridBench(gridSeconds, xvfb.pid());
  std::fflush(stdout);
  return ok ? 0 : 1;
}
