#pragma once
// The microphone through the sound server: a record stream of 8 kHz mono
// 16-bit PCM from the server's default source or a named one, cut into
// 20 ms chunks for the callback.
//
// Threads: the callback runs on the context's loop thread with the loop lock
// held; it must not wait for anything that waits for that lock. start() and
// stop() take the lock, so after stop() no callback runs.
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/AudioSource.h"
#include "platform/audio/PulseContext.h"

struct pa_stream;

namespace audio {

class PulseAudioSource : public AudioSource {
 public:
  explicit PulseAudioSource(std::shared_ptr<PulseContext> context, std::string sourceName = {});
  ~PulseAudioSource() override;

  bool start(ChunkCallback callback) override;
  void stop() override;

 private:
  static void onRead(pa_stream* stream, size_t bytes, void* self);
  void takeLocked(const int16_t* samples, size_t count);
  void closeStreamLocked();

  const std::shared_ptr<PulseContext> context_;
  const std::string sourceName_;
  // All guarded by the context's loop lock.
  pa_stream* stream_ = nullptr;
  ChunkCallback callback_;
  std::vector<int16_t> pending_;  // samples short of a whole chunk
  bool ended_ = false;            // the callback asked for no more
};

}  // namespace audio
