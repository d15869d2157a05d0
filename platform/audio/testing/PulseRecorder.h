#pragma once
// Tests only: records a server source (e.g. "spk.monitor") at 8 kHz mono on
// its own thread, in 10 ms blocks, noting when each block arrived.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace audio::testing {

class PulseRecorder {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kSampleRate = 8000;
  static constexpr size_t kBlockSamples = 80;

  // Starts recording from the source of the server PULSE_SERVER names.
  explicit PulseRecorder(const std::string& source);
  ~PulseRecorder();
  PulseRecorder(const PulseRecorder&) = delete;
  PulseRecorder& operator=(const PulseRecorder&) = delete;

  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }

  // Everything recorded so far.
  std::vector<int16_t> samples() const;
  size_t sampleCount() const;
  // When the first block at or after `from` whose peak exceeds `level`
  // arrived; nullopt-like Clock::time_point{} when none did.
  Clock::time_point firstLoudBlock(int level, Clock::time_point from) const;

 private:
  void run();

  std::string why_;
  bool ok_ = false;  // set before the thread starts
  void* simple_ = nullptr;  // the pa_simple; the recording thread's only
  std::atomic<bool> quit_{false};
  mutable std::mutex mutex_;
  std::vector<int16_t> samples_;              // guarded by mutex_
  std::vector<Clock::time_point> arrivals_;   // guarded by mutex_: one per block
  std::thread thread_;
};

}  // namespace audio::testing
