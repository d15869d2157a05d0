// Built when the StreamConverter library is not part of the build: no MP4.
#include "plugin/download/Mp4Converter.h"

namespace ksplugs {

const Mp4Converter* mp4Converter() { return nullptr; }

}  // namespace ksplugs
