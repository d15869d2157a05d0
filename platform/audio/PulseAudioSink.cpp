#include "platform/audio/PulseAudioSink.h"

#include <pulse/sample.h>
#include <pulse/stream.h>

#include <algorithm>
#include <mutex>

namespace audio {

PulseAudioSink::PulseAudioSink(std::shared_ptr<PulseContext> context, std::string sinkName)
    : context_(std::move(context)), sinkName_(std::move(sinkName)) {}

PulseAudioSink::~PulseAudioSink() { stop(); }

void PulseAudioSink::start(int sampleRate) {
  std::lock_guard loop(*context_);
  closeStreamLocked();
  if (!context_->alive() || sampleRate <= 0 || sampleRate > static_cast<int>(PA_RATE_MAX)) return;
  pa_sample_spec spec{};
  spec.format = PA_SAMPLE_S16LE;
  spec.rate = static_cast<uint32_t>(sampleRate);
  spec.channels = 1;
  pa_stream* stream = pa_stream_new(context_->context(), "Kestrova camera sound", &spec, nullptr);
  if (stream == nullptr) return;
  // The server keeps about kTargetLatency in its buffer and starts playing
  // once that much arrived; ADJUST_LATENCY makes the whole path, sink
  // included, aim at it rather than the sink's default of seconds.
  const auto targetUs = static_cast<pa_usec_t>(std::chrono::microseconds(kTargetLatency).count());
  pa_buffer_attr attributes{};
  attributes.maxlength = static_cast<uint32_t>(-1);
  attributes.tlength = static_cast<uint32_t>(pa_usec_to_bytes(targetUs, &spec));
  attributes.prebuf = static_cast<uint32_t>(-1);
  attributes.minreq = static_cast<uint32_t>(-1);
  attributes.fragsize = static_cast<uint32_t>(-1);
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE);
  pa_stream_set_write_callback(stream, &PulseAudioSink::onWritable, this);
  if (pa_stream_connect_playback(stream, sinkName_.empty() ? nullptr : sinkName_.c_str(), &attributes, flags,
                                 nullptr, nullptr) < 0) {
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_unref(stream);
    return;
  }
  maxPending_ = static_cast<size_t>(sampleRate) * kMaxPending.count() / 1000;
  // Not waited for: write() drops sound until the server has taken the
  // stream, which a local server does within milliseconds.
  stream_ = stream;
}

void PulseAudioSink::write(const int16_t* samples, size_t count) {
  if (count == 0) return;
  std::lock_guard loop(*context_);
  if (stream_ == nullptr || pa_stream_get_state(stream_) != PA_STREAM_READY) {
    dropped_.fetch_add(count);
    return;
  }
  pending_.insert(pending_.end(), samples, samples + count);
  flushLocked();
  // What still waits beyond the bound is the oldest sound: it goes, so the
  // delay stays bounded when the device sends faster than the server plays.
  if (pending_.size() > maxPending_) {
    const size_t excess = pending_.size() - maxPending_;
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(excess));
    dropped_.fetch_add(excess);
  }
}

void PulseAudioSink::onWritable(pa_stream*, size_t, void* self) { static_cast<PulseAudioSink*>(self)->flushLocked(); }

void PulseAudioSink::flushLocked() {
  if (stream_ == nullptr || pending_.empty() || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
  const size_t room = pa_stream_writable_size(stream_);
  if (room == static_cast<size_t>(-1)) return;
  const size_t fits = std::min(pending_.size(), room / sizeof(int16_t));
  if (fits == 0) return;
  if (pa_stream_write(stream_, pending_.data(), fits * sizeof(int16_t), nullptr, 0, PA_SEEK_RELATIVE) < 0) {
    dropped_.fetch_add(pending_.size());
    pending_.clear();
    return;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(fits));
  played_.fetch_add(fits);
}

void PulseAudioSink::stop() {
  std::lock_guard loop(*context_);
  closeStreamLocked();
}

bool PulseAudioSink::streaming() const {
  std::lock_guard loop(*context_);
  return stream_ != nullptr && pa_stream_get_state(stream_) == PA_STREAM_READY;
}

void PulseAudioSink::closeStreamLocked() {
  if (stream_ != nullptr) {
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    // A stream whose server went away is failed already; disconnecting it
    // again only answers an error, which changes nothing.
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }
  dropped_.fetch_add(pending_.size());
  pending_.clear();
}

}  // namespace audio
