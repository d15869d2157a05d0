#include "platform/audio/testing/PulseRecorder.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <cstdlib>

namespace audio::testing {

PulseRecorder::PulseRecorder(const std::string& source) {
  pa_sample_spec spec{};
  spec.format = PA_SAMPLE_S16LE;
  spec.rate = kSampleRate;
  spec.channels = 1;
  pa_buffer_attr attributes{};
  attributes.maxlength = static_cast<uint32_t>(-1);
  attributes.tlength = static_cast<uint32_t>(-1);
  attributes.prebuf = static_cast<uint32_t>(-1);
  attributes.minreq = static_cast<uint32_t>(-1);
  attributes.fragsize = kBlockSamples * sizeof(int16_t);
  int error = 0;
  pa_simple* simple = pa_simple_new(nullptr, "kestrova-test", PA_STREAM_RECORD, source.c_str(), "recorder", &spec,
                                    nullptr, &attributes, &error);
  if (simple == nullptr) {
    why_ = std::string("cannot record ") + source + ": " + pa_strerror(error);
    return;
  }
  simple_ = simple;
  ok_ = true;
  thread_ = std::thread([this] { run(); });
}

PulseRecorder::~PulseRecorder() {
  quit_ = true;
  if (thread_.joinable()) thread_.join();
  if (simple_ != nullptr) pa_simple_free(static_cast<pa_simple*>(simple_));
}

void PulseRecorder::run() {
  std::vector<int16_t> block(kBlockSamples);
  while (!quit_) {
    int error = 0;
    if (pa_simple_read(static_cast<pa_simple*>(simple_), block.data(), block.size() * sizeof(int16_t), &error) < 0) {
      return;
    }
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(mutex_);
    samples_.insert(samples_.end(), block.begin(), block.end());
    arrivals_.push_back(now);
  }
}

std::vector<int16_t> PulseRecorder::samples() const {
  std::lock_guard lock(mutex_);
  return samples_;
}

size_t PulseRecorder::sampleCount() const {
  std::lock_guard lock(mutex_);
  return samples_.size();
}

PulseRecorder::Clock::time_point PulseRecorder::firstLoudBlock(int level, Clock::time_point from) const {
  std::lock_guard lock(mutex_);
  for (size_t b = 0; b < arrivals_.size(); ++b) {
    if (arrivals_[b] < from) continue;
    for (size_t i = b * kBlockSamples; i < (b + 1) * kBlockSamples; ++i) {
      if (std::abs(static_cast<int>(samples_[i])) > level) return arrivals_[b];
    }
  }
  return {};
}

}  // namespace audio::testing
