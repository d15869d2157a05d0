#include "plugin/video/RecordingSink.h"

namespace ksplugs {

int RecordingSink::start(int, LiveStream&, uint32_t) { return 0; }

int RecordingSink::stop(int32_t, bool) { return 0; }

void RecordingSink::onFrame(int32_t, const DLSDK_MediaFrame&) {}

}  // namespace ksplugs
