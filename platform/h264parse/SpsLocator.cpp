// Finds the sequence parameter set in an Annex B frame. Which codec the
// frame carries is not known in advance, so each NAL unit header is read
// both ways: an H.264 set has type 7 in the low five bits of its one-byte
// header (0x67 in practice), an H.265 set type 33 in its two-byte header
// (0x42 0x01). No byte is both, and a candidate only counts once it parses,
// so stray bytes before the first start code or a unit that merely looks
// like a set cannot produce a wrong size.
#include <cstddef>

#include "platform/h264parse/H264Parse.h"

namespace {

// Index of the next 00 00 01 at or after `from`, or `size` when none.
size_t findStartCode(const uint8_t* data, size_t size, size_t from) {
  size_t i = from;
  while (i + 3 <= size) {
    // A byte above 1 at i + 2 cannot be part of a start code that begins
    // at i, i + 1 or i + 2, so the search may jump past it.
    if (data[i + 2] > 1) {
      i += 3;
    } else if (data[i + 2] == 1 && data[i + 1] == 0 && data[i] == 0) {
      return i;
    } else {
      ++i;
    }
  }
  return size;
}

enum class Candidate { None, H264, H265 };

Candidate classify(const uint8_t* nal, size_t size) {
  if (size < 1 || (nal[0] & 0x80) != 0) return Candidate::None;
  if ((nal[0] & 0x1F) == 7) return Candidate::H264;
  // Only the base layer (layer id 0) describes the picture, and a temporal
  // id of zero is not a valid header.
  if (size >= 2 && ((nal[0] >> 1) & 0x3F) == 33 && (nal[0] & 1) == 0 && (nal[1] >> 3) == 0 &&
      (nal[1] & 7) != 0) {
    return Candidate::H265;
  }
  return Candidate::None;
}

}  // namespace

extern "C" int get_sps_info_from_frame(const uint8_t* frame, int length, int* offset,
                                       int* spsLength, int* codec) {
  if (frame == nullptr || length < 0 || offset == nullptr || spsLength == nullptr ||
      codec == nullptr) {
    return kH264ParseBadArgument;
  }
  const size_t size = static_cast<size_t>(length);
  int result = kH264ParseNotFound;
  size_t startCode = findStartCode(frame, size, 0);
  while (startCode < size) {
    const size_t nalStart = startCode + 3;
    const size_t nextStartCode = findStartCode(frame, size, nalStart);
    // Zero bytes before the next start code are padding or the first byte
    // of a four-byte start code; a NAL unit never ends in a zero byte.
    size_t nalEnd = nextStartCode;
    while (nalEnd > nalStart && frame[nalEnd - 1] == 0) --nalEnd;
    const size_t nalSize = nalEnd - nalStart;

    const Candidate candidate = classify(frame + nalStart, nalSize);
    if (candidate != Candidate::None) {
      if (nalSize > static_cast<size_t>(kH264ParseMaxSpsBytes)) {
        result = kH264ParseUnsupported;
      } else if (candidate == Candidate::H264) {
        H264SpsInfo sps{};
        result = h264_parse_sequence_parameter_set(frame + nalStart, static_cast<int>(nalSize * 8), &sps);
      } else {
        H265SpsInfo sps{};
        result = h265_parse_sequence_parameter_set(frame + nalStart, static_cast<int>(nalSize), &sps);
      }
      if (result == kH264ParseOk) {
        // Callers skip four bytes of start code; pointing four bytes before
        // the unit keeps that right after a three-byte start code too.
        *offset = static_cast<int>(nalStart) - 4;
        *spsLength = static_cast<int>(nalSize);
        *codec = candidate == Candidate::H264 ? kH264ParseCodecH264 : kH264ParseCodecH265;
        return kH264ParseOk;
      }
    }
    startCode = nextStartCode;
  }
  return result;
}
