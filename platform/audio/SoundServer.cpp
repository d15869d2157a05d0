#include "platform/audio/SoundServer.h"

#include <iostream>

#include "platform/audio/PulseAudioSink.h"
#include "platform/audio/PulseAudioSource.h"

namespace audio {

namespace {

// One line per process, however many servers (tests) fail to answer.
std::atomic<bool> g_reported{false};

}  // namespace

SoundServer& SoundServer::instance() {
  static SoundServer server;
  return server;
}

std::shared_ptr<PulseContext> SoundServer::context() {
  std::lock_guard lock(mutex_);
  if (context_ && context_->alive()) return context_;
  const auto now = std::chrono::steady_clock::now();
  if (now < nextTry_) return nullptr;
  // A lost connection is released here, outside any libpulse callback.
  context_.reset();
  std::string why;
  context_ = PulseContext::connect(kConnectTimeout, &why);
  if (!context_) {
    nextTry_ = std::chrono::steady_clock::now() + kRetryPause;
    if (!g_reported.exchange(true)) {
      std::cerr << "kestrova: no sound server (" << why << "); camera sound plays nowhere and talk sends silence\n";
    }
  }
  return context_;
}

std::shared_ptr<devlink::AudioSink> SoundServer::makeSink() {
  std::shared_ptr<PulseContext> connection = context();
  if (!connection) return nullptr;
  return std::make_shared<PulseAudioSink>(std::move(connection));
}

std::unique_ptr<AudioSource> SoundServer::makeSource(const std::string& sourceName) {
  std::shared_ptr<PulseContext> connection = context();
  if (!connection) return nullptr;
  return std::make_unique<PulseAudioSource>(std::move(connection), sourceName);
}

void SoundServer::release() {
  std::shared_ptr<PulseContext> held;
  {
    std::lock_guard lock(mutex_);
    held = std::move(context_);
    nextTry_ = {};
  }
}

}  // namespace audio
