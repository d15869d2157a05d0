#include "platform/audio/PulseAudioSource.h"

#include <pulse/sample.h>
#include <pulse/stream.h>

#include <mutex>

namespace audio {

PulseAudioSource::PulseAudioSource(std::shared_ptr<PulseContext> context, std::string sourceName)
    : context_(std::move(context)), sourceName_(std::move(sourceName)) {}

PulseAudioSource::~PulseAudioSource() { stop(); }

bool PulseAudioSource::start(ChunkCallback callback) {
  std::lock_guard loop(*context_);
  closeStreamLocked();
  if (!callback || !context_->alive()) return false;
  pa_sample_spec spec{};
  spec.format = PA_SAMPLE_S16LE;
  spec.rate = kSampleRate;
  spec.channels = 1;
  pa_stream* stream = pa_stream_new(context_->context(), "Kestrova talk", &spec, nullptr);
  if (stream == nullptr) return false;
  // Fragments of one chunk: the server hands the sound over every 20 ms
  // instead of in its default large blocks.
  pa_buffer_attr attributes{};
  attributes.maxlength = static_cast<uint32_t>(-1);
  attributes.tlength = static_cast<uint32_t>(-1);
  attributes.prebuf = static_cast<uint32_t>(-1);
  attributes.minreq = static_cast<uint32_t>(-1);
  attributes.fragsize = static_cast<uint32_t>(kChunkSamples * sizeof(int16_t));
  pa_stream_set_read_callback(stream, &PulseAudioSource::onRead, this);
  if (pa_stream_connect_record(stream, sourceName_.empty() ? nullptr : sourceName_.c_str(), &attributes,
                               PA_STREAM_ADJUST_LATENCY) < 0) {
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_unref(stream);
    return false;
  }
  stream_ = stream;
  callback_ = std::move(callback);
  pending_.clear();
  ended_ = false;
  return true;
}

void PulseAudioSource::stop() {
  std::lock_guard loop(*context_);
  closeStreamLocked();
  callback_ = nullptr;
}

void PulseAudioSource::onRead(pa_stream* stream, size_t, void* opaque) {
  auto* self = static_cast<PulseAudioSource*>(opaque);
  // Everything readable now, fragment by fragment.
  while (pa_stream_readable_size(stream) > 0) {
    const void* data = nullptr;
    size_t bytes = 0;
    if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
    // A hole (data null) is sound the server lost: it is skipped.
    if (data != nullptr && !self->ended_) {
      self->takeLocked(static_cast<const int16_t*>(data), bytes / sizeof(int16_t));
    }
    if (pa_stream_drop(stream) < 0) return;
    if (self->ended_) break;
  }
  if (self->ended_ && self->stream_ != nullptr && PA_STREAM_IS_GOOD(pa_stream_get_state(self->stream_))) {
    // The owner asked for no more: the server stops recording now; the
    // stream object itself goes with stop().
    pa_stream_set_read_callback(self->stream_, nullptr, nullptr);
    pa_stream_disconnect(self->stream_);
  }
}

void PulseAudioSource::takeLocked(const int16_t* samples, size_t count) {
  pending_.insert(pending_.end(), samples, samples + count);
  size_t used = 0;
  while (!ended_ && pending_.size() - used >= kChunkSamples) {
    if (!callback_ || !callback_(pending_.data() + used, kChunkSamples)) ended_ = true;
    used += kChunkSamples;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
}

void PulseAudioSource::closeStreamLocked() {
  if (stream_ == nullptr) return;
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  stream_ = nullptr;
}

}  // namespace audio
