#pragma once
// The default audio sink: it plays nothing and counts what it is given, so
// the sound state of a stream can be observed without a sound server.
#include <atomic>
#include <cstdint>

#include "platform/devlink/AudioSink.h"

namespace devlink {

class NullAudioSink : public AudioSink {
 public:
  void start(int sampleRate) override;
  void write(const int16_t* samples, size_t count) override;
  void stop() override;

  bool playing() const { return playing_.load(); }
  int sampleRate() const { return sampleRate_.load(); }
  uint64_t samples() const { return samples_.load(); }
  // Largest absolute sample value written since the last call.
  int takePeak() { return peak_.exchange(0); }
  int starts() const { return starts_.load(); }

 private:
  // Atomics: written under the stream's audio lock, read by anyone.
  std::atomic<bool> playing_{false};
  std::atomic<int> sampleRate_{0};
  std::atomic<uint64_t> samples_{0};
  std::atomic<int> peak_{0};
  std::atomic<int> starts_{0};
};

}  // namespace devlink
