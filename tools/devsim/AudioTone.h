#pragma once
// The sound every stream of the device carries: one second of G.711 in
// 40 ms frames, a 400 Hz beep for half a second, then half a second of
// silence. Built once; read-only afterwards, so any thread may read it.
#include <cstdint>
#include <vector>

namespace devsim {

class AudioTone {
 public:
  static constexpr int kBytesPerFrame = 320;  // 40 ms at 8 kHz
  static constexpr int kFramesPerSecond = 25;

  // A-law for the wire's A-law code, standard μ-law for anything else.
  explicit AudioTone(uint8_t audioFormat);

  // The frame at `index`, counting round the second.
  const std::vector<uint8_t>& frame(int index) const { return frames_[index % frames_.size()]; }

 private:
  std::vector<std::vector<uint8_t>> frames_;
};

}  // namespace devsim
