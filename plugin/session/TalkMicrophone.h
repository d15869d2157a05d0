#pragma once
// The microphone of an open talk channel: captures 20 ms chunks, encodes
// each with the channel's G.711 law and queues it on the channel
// (DLSDK_VoiceStreamSendData), which sends it in place of silence.
//
// Where the microphone comes from is set once for the process by the
// library's start-up (setSourceFactory); without a factory, without a sound
// server or for a codec other than G.711 there is no microphone and the
// channel sends silence. A channel that went away (device lost, SDK shut
// down) ends the capture by itself; destroying the object ends it too.
//
// Threads: open() and the destructor come from the device's command threads
// (under the session's handle lock); the chunks arrive on the sound
// server's thread. The factory is guarded by a process-wide mutex.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/audio/AudioSource.h"

namespace ksplugs {

class TalkMicrophone {
 public:
  using SourceFactory = std::function<std::unique_ptr<audio::AudioSource>()>;

  // Installs (or with null removes) the process's microphone factory.
  static void setSourceFactory(SourceFactory factory);
  // Starts capturing for the talk channel `talkHandle` opened with `codec`
  // (DLSDK_TALK_*); null when there is no microphone for it.
  static std::unique_ptr<TalkMicrophone> open(int32_t talkHandle, int32_t codec);
  ~TalkMicrophone();
  TalkMicrophone(const TalkMicrophone&) = delete;
  TalkMicrophone& operator=(const TalkMicrophone&) = delete;

  // Chunks queued on the channel so far.
  uint64_t chunksSent() const { return sent_.load(); }
  // The channel refused a chunk for good; nothing more is captured.
  bool ended() const { return ended_.load(); }

 private:
  TalkMicrophone(std::unique_ptr<audio::AudioSource> source, int32_t talkHandle, bool aLaw);
  bool onChunk(const int16_t* samples, size_t count);

  const std::unique_ptr<audio::AudioSource> source_;
  const int32_t talkHandle_;
  const bool aLaw_;
  std::vector<uint8_t> encoded_;  // the capture thread's only
  std::atomic<uint64_t> sent_{0};
  std::atomic<bool> ended_{false};
};

}  // namespace ksplugs
