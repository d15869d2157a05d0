#pragma once
// Live streams that the SDK decodes and draws into windows, as the display
// benchmarks run them against an in-process device simulator: opening and
// closing them, counting what their renderers did over a measured stretch,
// and decoding frames recorded from them with bare libavcodec for the
// like-for-like baseline. The window layer must be installed first; which
// desktop it runs on is the caller's choice.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/StreamRenderer.h"
#include "platform/ui/Types.h"
#include "platform/ui/Window.h"

namespace devsim {
class DevSimServer;
}

namespace benchsupport {

// One stream: its latencies (written by its own drawing thread only, read
// after drawing was reset) and, for a few streams, the video frames as
// received, from the first key frame of the measured stretch on.
struct Cell {
  int32_t handle = -1;
  std::shared_ptr<devlink::StreamRenderer> renderer;
  std::atomic<bool> measuring{false};
  std::vector<int32_t> latencyMs;
  bool record = false;
  std::mutex framesMutex;
  std::vector<std::vector<uint8_t>> frames;  // guarded by framesMutex
  int format = 0;                            // guarded by framesMutex
};

using Cells = std::vector<std::unique_ptr<Cell>>;

struct Totals {
  uint64_t decoded = 0, drawn = 0, dropped = 0, skipped = 0, errors = 0;
  int64_t cpuNs = 0;
};

// The renderers' counters summed over the cells.
Totals totals(const Cells& cells);

// A stream of channel and type (DLSDK_STREAM_*) drawn into window; null
// when it does not open. record: keep its frames for bareDecodeNsPerFrame.
std::unique_ptr<Cell> openCell(int32_t login, uint16_t mediaPort, int channel, int type, ui::HWND window, bool record);
void closeCells(Cells& cells);

// DLSDK_StartUp and a login to the simulator at commandPort as admin;
// the login handle, -1 when it failed.
int32_t startSdkAndLogin(uint16_t commandPort);

// A full-screen 1920 x 1080 window cut into n x n child windows, each
// playing a sub stream of channel (index % channels); the first `recorded`
// cells keep their frames.
struct Grid {
  ui::Window top;
  std::vector<std::unique_ptr<ui::Window>> windows;
  Cells cells;
};
// False, with a line on stderr, when a stream does not open.
// `spread`: the cells open evenly over this time. The simulator starts each
// stream at a key frame, so cells opened at once get their key frames in the
// same 40 ms every second; 36 cameras' encoders run on their own clocks, and
// cells opened over one key-frame interval (1 s) see key frames spread as
// theirs are.
bool openGrid(Grid& grid, int32_t login, uint16_t mediaPort, int n, int channels, int recorded,
              std::chrono::milliseconds spread = std::chrono::milliseconds(0));

// What a measured stretch saw.
struct RunResult {
  Totals delta;
  double seconds = 0;
  double processCpu = 0;                // this process's CPU seconds
  double companionCpu = 0;              // the companion process's, when one was given
  uint64_t picturesSent = 0;            // video frames the simulator sent, when it was given
  std::vector<uint64_t> drawnPerCell;   // frames each cell drew
  std::vector<int32_t> latencies;       // filled by collectLatencies
};

// What measure() reads besides the cells: the simulator's counter of
// pictures sent and another process whose CPU time counts too (an X
// server). Both optional.
struct MeasureOptions {
  const devsim::DevSimServer* server = nullptr;
  pid_t companion = 0;
};

// Plays the cells for `seconds` after a two-second warm-up, pumping this
// thread's messages, and measures.
RunResult measure(Cells& cells, int seconds, const MeasureOptions& options = {});

// Stops the cells' drawing callbacks and gathers their latencies into r.
void collectLatencies(Cells& cells, RunResult& r);

// Decodes the frames on this thread with bare libavcodec (one thread, no
// scaling, no drawing); answers CPU nanoseconds per decoded frame. With an
// interval the frames are fed at that pace (a live stream's), else back to
// back.
double bareDecodeNsPerFrame(const std::vector<std::vector<uint8_t>>& frames, int format, size_t& decoded,
                            std::chrono::milliseconds interval = std::chrono::milliseconds(0));

// The bare decode of every recorded cell's frames.
struct BareDecode {
  size_t recorded = 0;  // frames kept
  size_t decoded = 0;   // pictures out of the decoder
  double nsPerFrame = 0;
};
BareDecode bareDecodeRecorded(Cells& cells);
// The recorded cells' frames decoded bare with one decoder per stream, a
// frame of each stream in turn (the order they arrived in) instead of one
// stream after the other; answers CPU nanoseconds per decoded frame.
double bareDecodeInterleavedNsPerFrame(Cells& cells, size_t& decoded);

}  // namespace benchsupport
