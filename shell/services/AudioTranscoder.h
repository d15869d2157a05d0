#pragma once
// Turns a PCM WAV file into the devices' talk format: 8 kHz, mono, 8-bit
// μ-law or A-law, returned as base64 text.
//
// Pipeline: RIFF/WAVE parse, mix to 16-bit mono, linear resampling to
// 8000 Hz, companding, base64. Everything in the WAV is untrusted: every
// size is checked against the bytes actually present before it is used.
// Pure functions; safe on any thread.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

namespace audio_result {
inline constexpr int kOk = 0;
inline constexpr int kOutOfMemory = 1002;  // also: input or output beyond the size limits
inline constexpr int kInvalidInput = 1003;
inline constexpr int kCannotOpen = 3006;
}  // namespace audio_result

// A WAV file is loaded whole; larger files are refused with kOutOfMemory.
inline constexpr uint64_t kMaxWavBytes = 256u << 20;
// One hour of talk audio; a request for more is refused with kOutOfMemory
// (a tiny declared sample rate would otherwise ask for billions of samples).
inline constexpr uint64_t kMaxOutputSamples = 8000u * 3600u;

// The fields of a parsed PCM WAV that the pipeline uses. `data` points into
// the parsed bytes and holds `frames` whole frames of `blockAlign` bytes.
struct WavInfo {
  uint16_t channels = 0;
  uint32_t sampleRate = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  const uint8_t* data = nullptr;
  size_t frames = 0;
};

// Accepts RIFF/WAVE with a PCM "fmt " chunk (format 1, 8 or 16 bits) and a
// "data" chunk; chunk ids compare without case. kInvalidInput otherwise,
// including zero channels, rate or block align, frames smaller than the
// samples they must hold, and chunk sizes that run past the bytes.
int parseWav(std::span<const uint8_t> bytes, WavInfo& info);

// The companded 8 kHz bytes of a parsed WAV. `maxSamples` < 0 means no limit.
int transcodePcm(const WavInfo& info, int64_t maxSamples, bool ulaw, std::vector<uint8_t>& out);

// The two entry points of the talk feature: a WAV given as base64 text, or as
// a local file path. On success `audioBase64` holds the base64 of the bytes.
int transcodeBase64Wav(std::string_view base64, int64_t maxSamples, bool ulaw, std::string& audioBase64);
int transcodeWavFile(const std::string& path, int64_t maxSamples, bool ulaw, std::string& audioBase64);

}  // namespace kestrova
