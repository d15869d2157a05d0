#pragma once
// Range-checked reads of parameter-set fields on top of BitReader. Each
// answers a parse result, so a parser reads like the syntax it follows:
//   H264PARSE_TRY(readUe(r, spsId, 31));
// A value outside the range its field allows makes the whole set invalid;
// bounding every count here is also what keeps every loop and every array
// index of the parsers bounded.
#include <cstdint>

#include "platform/h264parse/BitReader.h"
#include "platform/h264parse/H264Parse.h"

#define H264PARSE_TRY(expression)                  \
  do {                                             \
    const int h264parseResult_ = (expression);     \
    if (h264parseResult_ != kH264ParseOk) return h264parseResult_; \
  } while (false)

namespace h264parse {

inline int faultResult(const BitReader& r) {
  return r.fault() == BitReader::Fault::Truncated ? kH264ParseTruncated : kH264ParseInvalid;
}

inline int readBits(BitReader& r, unsigned count, uint32_t& value) {
  return r.readBits(count, value) ? kH264ParseOk : faultResult(r);
}

inline int readFlag(BitReader& r, bool& value) {
  return r.readFlag(value) ? kH264ParseOk : faultResult(r);
}

inline int skipBits(BitReader& r, size_t count) {
  return r.skipBits(count) ? kH264ParseOk : faultResult(r);
}

inline int readUe(BitReader& r, uint32_t& value, uint32_t max) {
  if (!r.readUe(value)) return faultResult(r);
  return value <= max ? kH264ParseOk : kH264ParseInvalid;
}

inline int skipUe(BitReader& r) {
  uint32_t ignored = 0;
  return readUe(r, ignored, UINT32_MAX);
}

inline int readSe(BitReader& r, int32_t& value, int32_t min, int32_t max) {
  if (!r.readSe(value)) return faultResult(r);
  return value >= min && value <= max ? kH264ParseOk : kH264ParseInvalid;
}

inline int skipSe(BitReader& r) {
  int32_t ignored = 0;
  return readSe(r, ignored, INT32_MIN, INT32_MAX);
}

inline int finishAtTrailingBits(BitReader& r) {
  return r.finishAtTrailingBits() ? kH264ParseOk : faultResult(r);
}

inline int skipToTrailingBits(BitReader& r) {
  return r.skipToTrailingBits() ? kH264ParseOk : faultResult(r);
}

}  // namespace h264parse
