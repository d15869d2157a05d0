// Throughput of the MP4 converter: a 1280 x 720 H.264 loop (25 frames a
// second, a key frame each second) with 40 ms G.711 frames, converted into
// a file (a) without sound, (b) with sound re-encoded to AAC, and (c)
// written to a file frame by frame as it came, the baseline. Reports frames
// per second of wall time and CPU microseconds per video frame, each the
// best of three runs, and their ratios to the baseline.
//
// Usage: bench_streamconverter [seconds of content, default 120]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/devlink/WireFormat.h"
#include "platform/streamconverter/StreamConverter.h"
#include "platform/sys/TempPath.h"
#include "tools/devsim/AudioTone.h"
#include "tools/devsim/EncodedLoop.h"

namespace {

namespace wire = devlink::wire;
using Bytes = std::vector<uint8_t>;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kLoopSeconds = 4;
constexpr int kRuns = 3;

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

Bytes frame(uint8_t kind, uint8_t format, int64_t ms, const Bytes& payload) {
  wire::FrameHeader h;
  h.streamType = 1;
  h.kind = kind;
  h.format = format;
  h.seconds = static_cast<uint32_t>(1714989600 + ms / 1000);
  h.milliseconds = static_cast<uint16_t>(ms % 1000);
  if (kind != wire::kAudioFrame) {
    h.width = kWidth;
    h.height = kHeight;
    h.frameRate = devsim::EncodedLoop::kFrameRate;
  }
  h.payloadLength = static_cast<uint32_t>(payload.size());
  Bytes out(wire::kFrameHeaderSize);
  wire::encodeFrameHeader(out.data(), h);
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

int toFile(int32_t, int32_t, int64_t, const uint8_t* data, int32_t length, int32_t, int64_t, int64_t, void* file) {
  return std::fwrite(data, 1, static_cast<size_t>(length), static_cast<FILE*>(file)) == static_cast<size_t>(length) ? 0
                                                                                                                    : 1;
}

struct Measure {
  double wall = 0;
  double cpu = 0;
  int64_t bytes = 0;
};

// One run: `sink` gets every frame and the open file.
template <typename Sink>
Measure run(const std::string& path, const std::vector<Bytes>& frames, Sink&& sink) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::perror(path.c_str());
    std::exit(1);
  }
  const auto wall0 = std::chrono::steady_clock::now();
  const double cpu0 = cpuSeconds();
  sink(frames, file);
  std::fflush(file);
  Measure m;
  m.cpu = cpuSeconds() - cpu0;
  m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  m.bytes = std::ftell(file);
  std::fclose(file);
  std::remove(path.c_str());
  return m;
}

void convert(const std::vector<Bytes>& frames, FILE* file) {
  int32_t handle = -1;
  if (Converter_CreateStream(&handle, 0, &toFile, file) != CONVERTER_OK) std::exit(1);
  for (const Bytes& f : frames) {
    const int rc = Converter_Input(handle, f.data(), static_cast<int32_t>(f.size()));
    if (rc != CONVERTER_OK) {
      std::fprintf(stderr, "Converter_Input answered %d\n", rc);
      std::exit(1);
    }
  }
  Converter_Stats stats{};
  Converter_GetStats(handle, &stats);
  if (Converter_Destroy(handle) != CONVERTER_OK) std::exit(1);
}

void writeRaw(const std::vector<Bytes>& frames, FILE* file) {
  for (const Bytes& f : frames) {
    if (std::fwrite(f.data(), 1, f.size(), file) != f.size()) std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 120;
  av_log_set_level(AV_LOG_QUIET);
  std::string why;
  const auto loop = devsim::EncodedLoop::encode(kWidth, kHeight, 0, false, kLoopSeconds, &why);
  if (!loop) {
    std::fprintf(stderr, "cannot encode the loop: %s\n", why.c_str());
    return 1;
  }
  const devsim::AudioTone tone(wire::kG711Ulaw);
  const int videoFrames = seconds * devsim::EncodedLoop::kFrameRate;
  std::vector<Bytes> video, withSound;
  for (int i = 0; i < videoFrames; ++i) {
    const int index = i % loop->size();
    const int64_t ms = int64_t{i} * 1000 / devsim::EncodedLoop::kFrameRate;
    Bytes v = frame(devsim::EncodedLoop::isKey(index) ? wire::kKeyFrame : wire::kDeltaFrame, wire::kH264, ms,
                    loop->frames[index]);
    video.push_back(v);
    withSound.push_back(std::move(v));
    withSound.push_back(frame(wire::kAudioFrame, wire::kG711Ulaw, ms, tone.frame(i)));
  }
  if (Converter_Initialize() != CONVERTER_OK) return 1;

  const std::string path = sys::tempFolder() + "bench_streamconverter_" + std::to_string(getpid()) + ".out";
  struct Case {
    const char* name;
    const std::vector<Bytes>* frames;
    void (*sink)(const std::vector<Bytes>&, FILE*);
    Measure best;
  };
  Case cases[] = {
      {"(c) raw write of the frames", &withSound, &writeRaw, {}},
      {"(a) remux, no sound", &video, &convert, {}},
      {"(b) remux + AAC", &withSound, &convert, {}},
  };
  for (Case& c : cases) {
    for (int r = 0; r < kRuns; ++r) {
      const Measure m = run(path, *c.frames, c.sink);
      if (r == 0 || m.cpu < c.best.cpu) c.best = m;
    }
  }
  std::printf("input: %d s of %dx%d H.264 at %d fps (%d video frames), G.711 in 40 ms frames\n", seconds, kWidth,
              kHeight, devsim::EncodedLoop::kFrameRate, videoFrames);
  const Measure& base = cases[0].best;
  const double baseFps = videoFrames / base.wall;
  const double baseUs = base.cpu * 1e6 / videoFrames;
  for (const Case& c : cases) {
    const double fps = videoFrames / c.best.wall;
    const double us = c.best.cpu * 1e6 / videoFrames;
    std::printf("%-30s %10.0f frames/s %8.1f CPU us/frame %10.1f MB out   x%.3f frames/s  x%.2f CPU\n", c.name, fps, us,
                c.best.bytes / 1e6, fps / baseFps, us / baseUs);
  }
  Converter_Release();
  return 0;
}
