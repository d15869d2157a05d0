#pragma once
// Tests only: what a recording holds, measured with the Goertzel algorithm.
#include <cstddef>
#include <cstdint>
#include <span>

namespace audio::testing {

// Power of one frequency in the samples (Goertzel), normalised by length.
double tonePower(std::span<const int16_t> samples, int sampleRate, double frequency);
// The strongest frequency between 100 Hz and sampleRate/2 - 100 Hz, in 5 Hz
// steps; 0 for silence.
double dominantFrequency(std::span<const int16_t> samples, int sampleRate);
// Root mean square of the samples.
double rms(std::span<const int16_t> samples);
// The loudest `length` samples' window start, stepping by `length` / 4; for
// picking the tone out of a recording that holds silence too.
size_t loudestWindow(std::span<const int16_t> samples, size_t length);

}  // namespace audio::testing
