// Window layer benchmarks.
//
// SendRoundTrip/idle: a sendMessage from a worker to a window whose thread
// waits in its message loop. SendRoundTrip/busy: the same while that thread
// is kept busy with a stream of 20 us posted work items (a sent message is
// served between two items). PresentFrame: copying a 704 x 576 picture into
// a window's image and presenting it to the desktop, per call; Memcpy is the
// bare copy of the same bytes, for scale.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/ui/Window.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowDC.h"
#include "platform/ui/WindowSystem.h"
#include "platform/ui/backends/Backends.h"

namespace {

using namespace ui;

constexpr UINT kMsgPing = WM_USER + 1;
constexpr UINT kMsgWork = WM_USER + 2;
constexpr UINT kMsgStop = WM_USER + 3;
constexpr int kFrameWidth = 704;
constexpr int kFrameHeight = 576;

class UiWindow : public Window {
 public:
  std::atomic<bool> busy{false};
  LRESULT handleMessage(UINT msg, WPARAM w, LPARAM l) override {
    switch (msg) {
      case kMsgPing:
        return l + 1;
      case kMsgWork: {
        auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(20);
        while (std::chrono::steady_clock::now() < end) {
        }
        if (busy) postMessage(kMsgWork);
        return 0;
      }
      case kMsgStop:
        // The self-posting work would otherwise always be ahead of the quit.
        busy = false;
        postQuitMessage(0);
        return 0;
      default:
        return defaultHandle(msg, w, l);
    }
  }
};

// The UI thread with its window, for the life of one benchmark.
class UiThread {
 public:
  explicit UiThread(bool busy) {
    std::atomic<HWND> ready{0};
    thread_ = std::thread([this, busy, &ready] {
      UiWindow window;
      window.busy = busy;
      HWND h = window.create(0, {0, 0, 10, 10}, "ui", 0);
      if (busy) window.postMessage(kMsgWork);
      ready = h;
      runMessageLoop();
      window.busy = false;
      destroyWindow(h);
    });
    while (!ready) std::this_thread::yield();
    hwnd_ = ready;
  }
  ~UiThread() {
    postMessage(hwnd_, kMsgStop);
    thread_.join();
  }
  HWND hwnd() const { return hwnd_; }

 private:
  std::thread thread_;
  HWND hwnd_ = 0;
};

void installOnce() {
  static bool installed = WindowSystem::install(makeHeadlessBackend());
  (void)installed;
}

void SendRoundTrip(benchmark::State& state) {
  installOnce();
  UiThread ui(state.range(0) != 0);
  LPARAM v = 0;
  for (auto _ : state) {
    v = sendMessage(ui.hwnd(), kMsgPing, 0, v);
    benchmark::DoNotOptimize(v);
  }
  state.SetLabel(state.range(0) ? "busy" : "idle");
}
BENCHMARK(SendRoundTrip)->Arg(0)->Arg(1)->UseRealTime();

std::vector<uint8_t> makeFrame() {
  std::vector<uint8_t> frame(static_cast<size_t>(kFrameWidth) * kFrameHeight * 4);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7);
  return frame;
}

void PresentFrame(benchmark::State& state) {
  installOnce();
  auto frame = makeFrame();
  Window window;
  HWND h = window.create(0, {0, 0, kFrameWidth, kFrameHeight}, "video", WS_VISIBLE);
  pumpPendingMessages();
  for (auto _ : state) {
    WindowDC dc(h);
    PixelAccess px = dc.dc().pixels();
    for (int y = 0; y < kFrameHeight; ++y) {
      std::memcpy(px.data + static_cast<size_t>(y) * px.stride, frame.data() + static_cast<size_t>(y) * kFrameWidth * 4,
                  static_cast<size_t>(kFrameWidth) * 4);
    }
    dc.dc().markDirty();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(frame.size()));
  destroyWindow(h);
}
BENCHMARK(PresentFrame);

void Memcpy(benchmark::State& state) {
  auto frame = makeFrame();
  std::vector<uint8_t> target(frame.size());
  for (auto _ : state) {
    std::memcpy(target.data(), frame.data(), frame.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(frame.size()));
}
BENCHMARK(Memcpy);

}  // namespace

BENCHMARK_MAIN();
