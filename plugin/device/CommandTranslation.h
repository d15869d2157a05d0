#pragma once
// The page's codes for talk codecs, record types and download formats,
// translated into the codes that the device understands (stream codes are
// StreamKind's). Pure functions: every value of the record is accepted, and a
// value the page does not define falls back to the documented default.
#include <cstdint>

namespace ksplugs {

class CommandTranslation {
 public:
  // Page talk codec to the device's: 2 -> 1, 3 -> 5, 4 -> 6, anything else 2.
  static int32_t talkCodec(int64_t pageCodec);
  // Page record type to the device's record-type mask: 1 -> 1, 2 -> 2,
  // 3 -> 4, 4 -> 8, 5 -> 16, 7 -> 32, -1 (all) -> 63, anything else 0.
  static uint32_t recordTypeMask(int64_t recordType);
  // Download format: 2 goes on as 3, others unchanged (1 is an MP4 file).
  static int32_t downloadFormat(int32_t format);
};

}  // namespace ksplugs
