#pragma once
// Writes a decoded picture at its own size to a picture file: BMP when the
// name ends in ".bmp", otherwise JPEG (".jpg", ".jpeg" or any other name),
// both encoded with libavcodec. The file is written only once the whole
// picture is encoded, and removed again when writing fails, so a failed
// snapshot never leaves a half file behind.
#include <string>

struct AVFrame;

namespace devlink {

class SnapshotWriter {
 public:
  enum class Format { kBmp, kJpeg };

  static Format formatFor(const std::string& path);
  // Answers a DLSDK_ code: DLSDK_ERR_NO_PICTURE without a picture,
  // DLSDK_ERR_FILE when the file cannot be written, DLSDK_ERR_FAILED when
  // encoding fails.
  static int write(const AVFrame* picture, const std::string& path);
};

}  // namespace devlink
