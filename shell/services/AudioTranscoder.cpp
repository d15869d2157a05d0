#include "shell/services/AudioTranscoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <new>

#include "platform/sys/Base64.h"
#include "platform/sys/G711.h"

namespace kestrova {
namespace {

uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t read32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

bool sameId(const uint8_t* p, const char* id) {
  for (int i = 0; i < 4; ++i) {
    const auto a = static_cast<unsigned char>(p[i]);
    const auto b = static_cast<unsigned char>(id[i]);
    const auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; };
    if (lower(a) != lower(b)) return false;
  }
  return true;
}

int16_t sample16(const uint8_t* p) { return static_cast<int16_t>(read16(p)); }
int sample8(const uint8_t* p) { return (int{p[0]} - 128) * 256; }

// One mono value per frame. Two channels are averaged with truncation toward
// zero; a single channel is taken as it is. Files with more channels keep
// their first channel, read at its own width.
template <int Channels, int Bits>
struct MonoReader {
  const uint8_t* data;
  size_t stride;
  int operator()(size_t frame) const {
    const uint8_t* p = data + frame * stride;
    if constexpr (Channels == 2 && Bits == 16) return (int{sample16(p)} + sample16(p + 2)) / 2;
    if constexpr (Channels == 2 && Bits == 8) return (sample8(p) + sample8(p + 1)) / 2;
    if constexpr (Channels == 1 && Bits == 16) return sample16(p);
    if constexpr (Channels == 1 && Bits == 8) return sample8(p);
  }
};

template <typename Reader>
void resampleAndCompand(const Reader& in, size_t frames, uint32_t rate, bool ulaw, std::vector<uint8_t>& out) {
  const double step = 8000.0 / rate;
  for (size_t i = 0; i < out.size(); ++i) {
    const double position = static_cast<double>(i) / step;
    size_t k = static_cast<size_t>(position);
    if (k >= frames) k = frames - 1;  // guards rounding at the very end
    const double fraction = position - static_cast<double>(k);
    const size_t k2 = k + 1 < frames ? k + 1 : k;
    const double mixed = fraction * in(k2) + (1.0 - fraction) * in(k);
    const auto value = static_cast<int16_t>(static_cast<int>(mixed));  // truncation toward zero
    out[i] = ulaw ? g711::encodeMuLawDesigned(value) : g711::encodeALaw(value);
  }
}

template <int Channels, int Bits>
void run(const WavInfo& info, bool ulaw, std::vector<uint8_t>& out) {
  resampleAndCompand(MonoReader<Channels, Bits>{info.data, info.blockAlign}, info.frames, info.sampleRate, ulaw, out);
}

}  // namespace

int parseWav(std::span<const uint8_t> bytes, WavInfo& info) {
  info = WavInfo{};
  const size_t size = bytes.size();
  const uint8_t* base = bytes.data();
  if (size < 12 || !sameId(base, "RIFF") || !sameId(base + 8, "WAVE")) return audio_result::kInvalidInput;

  bool haveFormat = false;
  size_t offset = 12;
  // Walk the chunks: the format chunk must come before the data chunk.
  while (true) {
    if (size - offset < 8) return audio_result::kInvalidInput;
    const uint8_t* chunk = base + offset;
    const uint64_t chunkSize = read32(chunk + 4);
    const size_t bodyOffset = offset + 8;
    if (chunkSize > size - bodyOffset) return audio_result::kInvalidInput;
    const uint8_t* body = chunk + 8;
    if (sameId(chunk, "fmt ")) {
      if (chunkSize < 16) return audio_result::kInvalidInput;
      const uint16_t format = read16(body);
      info.channels = read16(body + 2);
      info.sampleRate = read32(body + 4);
      info.blockAlign = read16(body + 12);
      info.bitsPerSample = read16(body + 14);
      if (format != 1 || (info.bitsPerSample != 8 && info.bitsPerSample != 16)) return audio_result::kInvalidInput;
      if (info.channels == 0 || info.sampleRate == 0 || info.blockAlign == 0) return audio_result::kInvalidInput;
      // The samples read from a frame must lie inside it.
      const unsigned bytesPerSample = info.bitsPerSample / 8;
      const unsigned needed = (info.channels == 2 ? 2 : 1) * bytesPerSample;
      if (info.blockAlign < needed) return audio_result::kInvalidInput;
      haveFormat = true;
    } else if (sameId(chunk, "data") && haveFormat) {
      info.data = body;
      info.frames = static_cast<size_t>(chunkSize / info.blockAlign);
      return audio_result::kOk;
    }
    // Chunks are padded to an even size.
    const uint64_t advance = 8 + chunkSize + (chunkSize & 1);
    if (advance > size - offset) return audio_result::kInvalidInput;
    offset += static_cast<size_t>(advance);
  }
}

int transcodePcm(const WavInfo& info, int64_t maxSamples, bool ulaw, std::vector<uint8_t>& out) {
  out.clear();
  if (info.frames == 0) return audio_result::kOk;
  const double step = 8000.0 / info.sampleRate;
  const double wanted = std::floor(static_cast<double>(info.frames) * step);
  uint64_t count = wanted >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(wanted);
  if (maxSamples >= 0 && static_cast<uint64_t>(maxSamples) < count) count = static_cast<uint64_t>(maxSamples);
  if (count > kMaxOutputSamples) return audio_result::kOutOfMemory;
  try {
    out.resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc&) {
    return audio_result::kOutOfMemory;
  }
  const bool wide = info.bitsPerSample == 16;
  if (info.channels == 2) {
    wide ? run<2, 16>(info, ulaw, out) : run<2, 8>(info, ulaw, out);
  } else {
    wide ? run<1, 16>(info, ulaw, out) : run<1, 8>(info, ulaw, out);
  }
  return audio_result::kOk;
}

namespace {

int transcodeBytes(std::span<const uint8_t> wav, int64_t maxSamples, bool ulaw, std::string& audioBase64) {
  WavInfo info;
  if (const int result = parseWav(wav, info); result != 0) return result;
  std::vector<uint8_t> companded;
  if (const int result = transcodePcm(info, maxSamples, ulaw, companded); result != 0) return result;
  try {
    audioBase64 = sys::base64Encode(companded.data(), companded.size());
  } catch (const std::bad_alloc&) {
    return audio_result::kOutOfMemory;
  }
  return audio_result::kOk;
}

}  // namespace

int transcodeBase64Wav(std::string_view base64, int64_t maxSamples, bool ulaw, std::string& audioBase64) {
  audioBase64.clear();
  if (base64.empty()) return audio_result::kInvalidInput;
  if (base64.size() / 4 * 3 > kMaxWavBytes) return audio_result::kOutOfMemory;
  try {
    const auto bytes = sys::base64Decode(base64);
    if (!bytes) return audio_result::kInvalidInput;
    return transcodeBytes(*bytes, maxSamples, ulaw, audioBase64);
  } catch (const std::bad_alloc&) {
    return audio_result::kOutOfMemory;
  }
}

int transcodeWavFile(const std::string& path, int64_t maxSamples, bool ulaw, std::string& audioBase64) {
  audioBase64.clear();
  // A path with an embedded NUL would name a different file than asked for.
  if (path.empty() || path.find('\0') != std::string::npos) return audio_result::kCannotOpen;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return audio_result::kCannotOpen;
  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  // Only regular files: a FIFO or a device would block or never end.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return audio_result::kCannotOpen;
  if (st.st_size <= 0) return audio_result::kInvalidInput;
  if (static_cast<uint64_t>(st.st_size) > kMaxWavBytes) return audio_result::kOutOfMemory;
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<size_t>(st.st_size));
  } catch (const std::bad_alloc&) {
    return audio_result::kOutOfMemory;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return audio_result::kInvalidInput;  // a short read: the file shrank or failed
    done += static_cast<size_t>(n);
  }
  return transcodeBytes(bytes, maxSamples, ulaw, audioBase64);
}

}  // namespace kestrova
