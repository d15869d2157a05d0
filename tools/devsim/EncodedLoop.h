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

// What the pictures show: the test picture (cheap to encode and decode,
// easy to check) or a camera-like scene at a camera's bit rate.
enum class Content { kPattern, kScene };

struct EncodedLoop {
  static constexpr int kFrameRate = 25;
  static constexpr int kGop = 25;  // one key frame a second

  int width = 0;
  int height = 0;
  uint8_t format = 0;                        // wire format code (H.264 or H.265)
  std::vector<std::vector<uint8_t>> frames;  // Annex B access units

  int size() const { return static_cast<int>(frames.size()); }
  static bool isKey(int index) { return index % kGop == 0; }

  // Encodes `seconds` seconds of the channel's picture with libx264 or
  // libx265: the test picture at constant quality with the fastest
  // settings, or the scene at about 1 Mb/s for 704 x 576 (in proportion to
  // the picture's size: about 2.3 Mb/s for 1280 x 720) with the settings a
  // camera uses (main profile, CABAC). Null (and the reason in *error) when
  // the encoder is missing or fails.
  static std::shared_ptr<const EncodedLoop> encode(int width, int height, int channel, bool h265, int seconds,
                                                   std::string* error, Content content = Content::kPattern);
};

}  // namespace devsim
