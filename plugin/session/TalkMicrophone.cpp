#include "plugin/session/TalkMicrophone.h"

#include <mutex>

#include "platform/devlink/DevLinkSdk.h"
#include "platform/sys/G711.h"

namespace ksplugs {

namespace {

std::mutex g_factoryMutex;
TalkMicrophone::SourceFactory g_factory;  // guarded by g_factoryMutex

}  // namespace

void TalkMicrophone::setSourceFactory(SourceFactory factory) {
  std::lock_guard lock(g_factoryMutex);
  g_factory = std::move(factory);
}

std::unique_ptr<TalkMicrophone> TalkMicrophone::open(int32_t talkHandle, int32_t codec) {
  if (codec != DLSDK_TALK_G711A && codec != DLSDK_TALK_G711U) return nullptr;
  SourceFactory factory;
  {
    std::lock_guard lock(g_factoryMutex);
    factory = g_factory;
  }
  if (!factory) return nullptr;
  std::unique_ptr<audio::AudioSource> source = factory();
  if (!source) return nullptr;
  std::unique_ptr<TalkMicrophone> microphone(
      new TalkMicrophone(std::move(source), talkHandle, codec == DLSDK_TALK_G711A));
  TalkMicrophone* self = microphone.get();
  if (!self->source_->start([self](const int16_t* samples, size_t count) { return self->onChunk(samples, count); })) {
    return nullptr;
  }
  return microphone;
}

TalkMicrophone::TalkMicrophone(std::unique_ptr<audio::AudioSource> source, int32_t talkHandle, bool aLaw)
    : source_(std::move(source)), talkHandle_(talkHandle), aLaw_(aLaw) {}

// After stop() no chunk arrives, so the capture never sees a freed object.
TalkMicrophone::~TalkMicrophone() { source_->stop(); }

bool TalkMicrophone::onChunk(const int16_t* samples, size_t count) {
  encoded_.resize(count);
  for (size_t i = 0; i < count; ++i) {
    // μ-law as the talk channel has always sent it to devices.
    encoded_[i] = aLaw_ ? g711::encodeALaw(samples[i]) : g711::encodeMuLawDesigned(samples[i]);
  }
  const int rc = DLSDK_VoiceStreamSendData(talkHandle_, encoded_.data(), static_cast<int32_t>(count));
  switch (rc) {
    case DLSDK_OK:
      sent_.fetch_add(1);
      return true;
    case DLSDK_ERR_CONNECT:         // the device went away
    case DLSDK_ERR_INVALID_HANDLE:  // the channel was closed
    case DLSDK_ERR_NOT_INITIALISED:  // the SDK shut down
      ended_ = true;
      return false;
    default:
      // A full queue or a channel paused for a moment: this chunk is lost,
      // the next may go.
      return true;
  }
}

}  // namespace ksplugs
