#pragma once
// A stream's sound played through the sound server: one playback stream of
// 16-bit mono PCM at the stream's sample rate, from start() to stop().
//
// The server keeps about kTargetLatency of sound buffered. The server asks
// for sound in its own rhythm, not the device's, so up to kMaxPending more
// wait here and go when it asks (its write callback). write() never waits
// for the server: sound beyond that, or anything while the server is away,
// is dropped and counted, so a stream's receive thread is never held up.
//
// Threads: start, write and stop are serialised by the caller (the stream's
// audio lock, see AudioSink); each takes the context's loop lock briefly.
// The write callback runs on the loop thread with that lock held.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/PulseContext.h"
#include "platform/devlink/AudioSink.h"

struct pa_stream;

namespace audio {

class PulseAudioSink : public devlink::AudioSink {
 public:
  static constexpr std::chrono::milliseconds kTargetLatency{100};
  static constexpr std::chrono::milliseconds kMaxPending{60};

  // Plays into the named server sink, or the server's default when empty.
  explicit PulseAudioSink(std::shared_ptr<PulseContext> context, std::string sinkName = {});
  ~PulseAudioSink() override;

  void start(int sampleRate) override;
  void write(const int16_t* samples, size_t count) override;
  void stop() override;

  // Samples handed to the server and samples dropped since construction.
  uint64_t samplesPlayed() const { return played_.load(); }
  uint64_t samplesDropped() const { return dropped_.load(); }
  // The playback stream is connected and taking sound.
  bool streaming() const;

 private:
  static void onWritable(pa_stream* stream, size_t bytes, void* self);
  void flushLocked();
  void closeStreamLocked();

  const std::shared_ptr<PulseContext> context_;
  const std::string sinkName_;
  // Guarded by the context's loop lock.
  pa_stream* stream_ = nullptr;
  std::vector<int16_t> pending_;  // sound the server has not asked for yet
  size_t maxPending_ = 0;         // samples: kMaxPending at the stream's rate
  std::atomic<uint64_t> played_{0};
  std::atomic<uint64_t> dropped_{0};
};

}  // namespace audio
