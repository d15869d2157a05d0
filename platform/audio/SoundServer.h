#pragma once
// Where the process reaches the sound server: one shared connection
// (PulseContext) that every sink and microphone uses, made on first need.
//
// Without a reachable server makeSink() and makeSource() answer null (the
// caller then plays nowhere or sends silence) and one line on stderr says
// so, once per process. After a failure, or once the server went away, the
// connection is tried again at the next need but not more often than every
// kRetryPause, so cells opened in a burst do not each wait for a dead
// server.
//
// Threads: any; mutex_ guards the connection and the retry time. Connecting
// happens under mutex_ (at most kConnectTimeout).
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "platform/audio/AudioSource.h"
#include "platform/audio/PulseContext.h"
#include "platform/devlink/AudioSink.h"

namespace audio {

class SoundServer {
 public:
  static constexpr std::chrono::milliseconds kConnectTimeout{2000};
  static constexpr std::chrono::milliseconds kRetryPause{5000};

  // The process's own; tests make their own.
  static SoundServer& instance();

  // The shared connection, or null without a server.
  std::shared_ptr<PulseContext> context();
  // A sink for one stream's sound on the default server sink.
  std::shared_ptr<devlink::AudioSink> makeSink();
  // The microphone: the named server source, or the default when empty.
  std::unique_ptr<AudioSource> makeSource(const std::string& sourceName = {});
  // Drops this object's hold on the connection (sinks and sources still
  // using it keep it) and forgets an earlier failure.
  void release();

 private:
  std::mutex mutex_;
  std::shared_ptr<PulseContext> context_;              // guarded by mutex_
  std::chrono::steady_clock::time_point nextTry_{};    // guarded by mutex_
};

}  // namespace audio
