#pragma once
// The parameter sets at the head of a key frame (SPS and PPS, and the VPS
// of H.265), which become the MP4 video track's codec data, and the picture
// size read from the sequence parameter set.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace streamconverter {

class ParameterSets {
 public:
  // At most this many parameter-set units, of at most this many bytes in
  // all, are taken: a hostile key frame cannot make the codec data grow.
  static constexpr size_t kMaxUnits = 16;
  static constexpr size_t kMaxBytes = 64 * 1024;

  // Scans the Annex B access unit of a key frame of wire format `format`
  // (H.264 or H.265) up to its first slice. Nothing when the sequence
  // parameter set is missing or does not parse, when it belongs to the
  // other codec, or when a picture parameter set (or, for H.265, a video
  // parameter set) is missing.
  static std::optional<ParameterSets> find(uint8_t format, std::span<const uint8_t> accessUnit);

  // The parameter sets in Annex B form, each behind a four-byte start code.
  const std::vector<uint8_t>& extradata() const { return extradata_; }
  int width() const { return width_; }
  int height() const { return height_; }

  // Calls fn(unit) for each NAL unit of an Annex B access unit (start code
  // removed, trailing zero bytes stripped, never empty) until fn answers
  // false. Linear in the size of the access unit.
  template <typename Fn>
  static void forEachUnit(std::span<const uint8_t> au, Fn&& fn);

 private:
  std::vector<uint8_t> extradata_;
  int width_ = 0;
  int height_ = 0;
};

template <typename Fn>
void ParameterSets::forEachUnit(std::span<const uint8_t> au, Fn&& fn) {
  const size_t n = au.size();
  auto startCodeAt = [&](size_t from) {
    for (size_t k = from; k + 3 <= n; ++k) {
      if (au[k + 2] > 1) {
        k += 2;  // no start code can end at k + 2, so none starts before k + 3
        continue;
      }
      if (au[k] == 0 && au[k + 1] == 0 && au[k + 2] == 1) return k;
    }
    return n;
  };
  size_t code = startCodeAt(0);
  while (code < n) {
    const size_t begin = code + 3;
    const size_t next = startCodeAt(begin);
    size_t end = next;
    while (end > begin && au[end - 1] == 0) --end;
    if (end > begin && !fn(au.subspan(begin, end - begin))) return;
    code = next;
  }
}

}  // namespace streamconverter
