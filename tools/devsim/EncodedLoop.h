#pragma once
// One stream kind of one channel, encoded once: a loop of whole seconds of
// the test picture, each second starting with a key frame that carries its
// parameter sets, no B frames (so decode order is display order). Serving a
// stream only copies these access units.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace devsim {

struct EncodedLoop {
  static constexpr int kFrameRate = 25;
  static constexpr int kGop = 25;  // one key frame a second

  int width = 0;
  int height = 0;
  uint8_t format = 0;  // wire format code (H.264 or H.265)
  std::vector<std::vector<uint8_t>> frames;  // Annex B access units

  int size() const { return static_cast<int>(frames.size()); }
  static bool isKey(int index) { return index % kGop == 0; }

  // Encodes `seconds` seconds of the channel's test picture with libx264 or
  // libx265. Null (and the reason in *error) when the encoder is missing or
  // fails.
  static std::shared_ptr<const EncodedLoop> encode(int width, int height, int channel, bool h265, int seconds,
                                                   std::string* error);
};

}  // namespace devsim
