// The recording queue's lock under load: 36 streams feed it in real time
// (25 pictures and 25 G.711 blocks a second each, a 704 x 576 H.264 loop
// from the device simulator's encoder) while 0, 1, 4 or 16 of them record.
// Reports, per case, how long each frame held the queue's lock (p50, p99,
// max) and how long a frame of a stream that does not record spent in the
// queue (lock wait included). The MP4 writer is the stream converter when
// the build has it, otherwise a writer that stores the frames as they are,
// so the disk writes still happen under the lock.
//
// Usage: recording_bench [seconds per case, default 5]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/WireFormat.h"
#include "plugin/recording/Mp4Writer.h"
#include "plugin/recording/RecordingQueue.h"
#include "tools/devsim/EncodedLoop.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kStreams = 36;
constexpr int kAudioBytes = 320;  // 40 ms of 8 kHz G.711

class RawWriter : public ksplugs::Mp4Writer {
 public:
  bool open(Output output) override {
    output_ = std::move(output);
    return true;
  }
  bool input(const uint8_t* frame, int32_t length) override { return output_(frame, static_cast<size_t>(length)); }
  void finish() override {}

 private:
  Output output_;
};

std::vector<uint8_t> wholeFrame(int kind, int format, uint32_t seconds, uint16_t ms, const uint8_t* payload,
                                size_t length) {
  devlink::wire::FrameHeader h;
  h.streamType = 4;
  h.kind = static_cast<uint8_t>(kind);
  h.format = static_cast<uint8_t>(format);
  h.seconds = seconds;
  h.milliseconds = ms;
  h.width = 704;
  h.height = 576;
  h.frameRate = 25;
  h.payloadLength = static_cast<uint32_t>(length);
  std::vector<uint8_t> frame(32 + length);
  devlink::wire::encodeFrameHeader(frame.data(), h);
  std::copy(payload, payload + length, frame.begin() + 32);
  return frame;
}

int64_t percentile(std::vector<int64_t>& values, double p) {
  if (values.empty()) return 0;
  const size_t at = std::min(values.size() - 1, static_cast<size_t>(p * (values.size() - 1) + 0.5));
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
  return values[at];
}

}  // namespace

int main(int argc, char** argv) {
  av_log_set_level(AV_LOG_QUIET);
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  std::string error;
  const auto loop = devsim::EncodedLoop::encode(704, 576, 0, false, 1, &error);
  if (!loop) {
    std::fprintf(stderr, "recording_bench: no encoded loop: %s\n", error.c_str());
    return 1;
  }
  const std::vector<uint8_t> silence(kAudioBytes, 0xFF);
  const std::string folder = (std::filesystem::temp_directory_path() / "kestrova-recording-bench").string() + "/";
  std::filesystem::remove_all(folder);

  // The stream converter's MP4 writer, and as the baseline a writer that
  // puts the same frames into the file as they come.
  struct Writer {
    const char* name;
    ksplugs::Mp4WriterFactory factory;
  };
  const Writer writers[] = {
      {"stream converter (MP4)", ksplugs::converterWriterFactory()},
      {"raw frames (baseline)", [] { return std::make_unique<RawWriter>(); }},
  };
  for (const Writer& writer : writers) {
    ksplugs::RecordingQueue::Options options;
    options.writers = writer.factory;
    options.counter = std::make_shared<ksplugs::FileCounter>();
    options.videoFolder = [folder] { return folder; };
    ksplugs::RecordingQueue queue(std::move(options));

    std::printf(
        "writer: %s; %d streams, 25 pictures + 25 audio blocks a "
        "second each, %d s per case\n",
        writer.name, kStreams, seconds);
    std::printf("%-10s %10s %12s %12s %12s %16s %16s\n", "recording", "frames", "hold p50 ns", "hold p99 ns",
                "hold max ns", "other p50 ns", "other p99 ns");
    for (int recording : {0, 1, 4, 16}) {
      for (int s = 0; s < recording; ++s) {
        ksplugs::RecordingTarget target;
        target.channel = s;
        target.streamHandle = 1000 + s;
        target.macText = "bench";
        queue.start(target, 3600);
      }
      queue.takeLockTimes();
      queue.collectLockTimes(true);
      std::vector<std::vector<int64_t>> others(kStreams);
      std::vector<std::thread> streams;
      const auto begin = Clock::now() + std::chrono::milliseconds(50);
      for (int s = 0; s < kStreams; ++s) {
        streams.emplace_back([&, s] {
          const int32_t handle = 1000 + s;
          const uint32_t base = 1'700'000'000;
          for (int i = 0; i < seconds * devsim::EncodedLoop::kFrameRate; ++i) {
            std::this_thread::sleep_until(begin + std::chrono::milliseconds(40 * i));
            const int index = i % loop->size();
            const auto& au = loop->frames[static_cast<size_t>(index)];
            const uint32_t second = base + static_cast<uint32_t>(i / 25);
            const auto ms = static_cast<uint16_t>((i % 25) * 40);
            const int kind = devsim::EncodedLoop::isKey(index) ? DLSDK_FRAME_KEY : DLSDK_FRAME_DELTA;
            for (const auto& bytes :
                 {wholeFrame(kind, DLSDK_FORMAT_H264, second, ms, au.data(), au.size()),
                  wholeFrame(DLSDK_FRAME_AUDIO, DLSDK_FORMAT_G711U, second, ms, silence.data(), silence.size())}) {
              DLSDK_MediaFrame frame{};
              frame.streamHandle = handle;
              frame.data = bytes.data();
              frame.length = static_cast<int32_t>(bytes.size());
              frame.frameType = bytes[8];
              frame.formatCode = bytes[9];
              frame.timeStamp = second;
              const auto t0 = Clock::now();
              queue.onFrame(handle, frame, 704, 576);
              if (s >= recording) others[static_cast<size_t>(s)].push_back((Clock::now() - t0).count());
            }
          }
        });
      }
      for (auto& t : streams) t.join();
      queue.collectLockTimes(false);
      std::vector<int64_t> hold = queue.takeLockTimes();
      std::vector<int64_t> other;
      for (auto& o : others) other.insert(other.end(), o.begin(), o.end());
      const size_t frames = hold.size();
      const int64_t p50 = percentile(hold, 0.50);
      const int64_t p99 = percentile(hold, 0.99);
      const int64_t max = hold.empty() ? 0 : *std::max_element(hold.begin(), hold.end());
      std::printf("%-10d %10zu %12lld %12lld %12lld %16lld %16lld\n", recording, frames, static_cast<long long>(p50),
                  static_cast<long long>(p99), static_cast<long long>(max),
                  static_cast<long long>(percentile(other, 0.50)), static_cast<long long>(percentile(other, 0.99)));
      for (int s = 0; s < recording; ++s) queue.stop(1000 + s, false);
      queue.waitIdle(std::chrono::seconds(10));
    }
    queue.shutdown();
  }
  std::filesystem::remove_all(folder);
  return 0;
}
