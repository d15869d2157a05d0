// Feeds arbitrary bytes to every entry point: as a whole frame, and as a bare
// H.264 and H.265 parameter set. A located set must lie inside the frame and
// parse again where the caller would look for it.
#include <cstdlib>

#include "platform/h264parse/H264Parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > static_cast<size_t>(1) << 24) return 0;
  const int length = static_cast<int>(size);

  int offset = 0, spsLength = 0, codec = 0;
  if (get_sps_info_from_frame(data, length, &offset, &spsLength, &codec) == kH264ParseOk) {
    if (offset < -1 || spsLength <= 0 || int64_t{offset} + 4 + spsLength > int64_t{length}) abort();
    const uint8_t* nal = data + offset + 4;
    if (codec == kH264ParseCodecH264) {
      H264SpsInfo sps{};
      if (h264_parse_sequence_parameter_set(nal, spsLength * 8, &sps) != kH264ParseOk) abort();
      if (sps.width <= 0 || sps.height <= 0) abort();
    } else if (codec == kH264ParseCodecH265) {
      H265SpsInfo sps{};
      if (h265_parse_sequence_parameter_set(nal, spsLength, &sps) != kH264ParseOk) abort();
      if (sps.width <= 0 || sps.height <= 0) abort();
    } else {
      abort();
    }
  }

  H264SpsInfo h264{};
  if (h264_parse_sequence_parameter_set(data, length * 8, &h264) == kH264ParseOk &&
      (h264.width <= 0 || h264.height <= 0)) {
    abort();
  }
  // A bit length that ends inside a byte.
  if (size > 0) h264_parse_sequence_parameter_set(data, length * 8 - 3, &h264);
  H265SpsInfo h265{};
  if (h265_parse_sequence_parameter_set(data, length, &h265) == kH264ParseOk &&
      (h265.width <= 0 || h265.height <= 0)) {
    abort();
  }
  return 0;
}
