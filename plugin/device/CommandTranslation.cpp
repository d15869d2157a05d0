#include "plugin/device/CommandTranslation.h"

namespace ksplugs {

int32_t CommandTranslation::talkCodec(int64_t pageCodec) {
  switch (pageCodec) {
    case 2: return 1;
    case 3: return 5;
    case 4: return 6;
    default: return 2;
  }
}

uint32_t CommandTranslation::recordTypeMask(int64_t recordType) {
  switch (recordType) {
    case 1: return 1;
    case 2: return 2;
    case 3: return 4;
    case 4: return 8;
    case 5: return 16;
    case 7: return 32;
    case -1: return 63;
    default: return 0;
  }
}

int32_t CommandTranslation::downloadFormat(int32_t format) { return format == 2 ? 3 : format; }

}  // namespace ksplugs
