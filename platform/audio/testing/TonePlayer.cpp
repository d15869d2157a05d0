#include "platform/audio/testing/TonePlayer.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace audio::testing {

TonePlayer::TonePlayer(const std::string& sink, double frequency, int amplitude)
    : frequency_(frequency), amplitude_(amplitude) {
  pa_sample_spec spec{};
  spec.format = PA_SAMPLE_S16LE;
  spec.rate = kSampleRate;
  spec.channels = 1;
  int error = 0;
  pa_simple* simple = pa_simple_new(nullptr, "kestrova-test", PA_STREAM_PLAYBACK, sink.c_str(), "tone", &spec,
                                    nullptr, nullptr, &error);
  if (simple == nullptr) {
    why_ = std::string("cannot play into ") + sink + ": " + pa_strerror(error);
    return;
  }
  simple_ = simple;
  ok_ = true;
  thread_ = std::thread([this] { run(); });
}

TonePlayer::~TonePlayer() {
  quit_ = true;
  if (thread_.joinable()) thread_.join();
  if (simple_ != nullptr) pa_simple_free(static_cast<pa_simple*>(simple_));
}

void TonePlayer::run() {
  std::vector<int16_t> block(kSampleRate / 50);
  uint64_t n = 0;
  while (!quit_) {
    for (int16_t& s : block) {
      s = static_cast<int16_t>(amplitude_ * std::sin(2 * M_PI * frequency_ * static_cast<double>(n++) / kSampleRate));
    }
    int error = 0;
    // Blocks while the server's buffer is full: the server sets the pace.
    if (pa_simple_write(static_cast<pa_simple*>(simple_), block.data(), block.size() * sizeof(int16_t), &error) < 0) {
      return;
    }
  }
}

}  // namespace audio::testing
