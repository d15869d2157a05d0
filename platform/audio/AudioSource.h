#pragma once
// A microphone: 8 kHz mono 16-bit PCM handed over in 20 ms chunks.
//
// Threads: start() and stop() come from the owner's thread, never at the
// same time. The chunk callback runs on the source's own thread; once stop()
// has returned it runs no more, so the callback may use whatever the owner
// frees after stop().
#include <cstddef>
#include <cstdint>
#include <functional>

namespace audio {

class AudioSource {
 public:
  static constexpr int kSampleRate = 8000;
  static constexpr size_t kChunkSamples = 160;  // 20 ms

  // Takes kChunkSamples samples; answers false to end the capture (the
  // source then delivers nothing more, stop() still releases it).
  using ChunkCallback = std::function<bool(const int16_t* samples, size_t count)>;

  virtual ~AudioSource() = default;
  // Starts capturing; false when the capture cannot begin.
  virtual bool start(ChunkCallback callback) = 0;
  // Ends the capture; safe to call twice or without start().
  virtual void stop() = 0;
};

}  // namespace audio
