#include "plugin/video/RecordingSink.h"

namespace ksplugs {

int RecordingSink::start(int, LiveStream&, uint32_t) { return 0; }

int RecordingSink::stop(int32_t, bool) { return 0; }

int RecordingSink::stopAt(int32_t streamHandle, bool announce, std::string& path) {
  path.clear();
  return stop(streamHandle, announce);
}

void RecordingSink::onFrame(int32_t, const DLSDK_MediaFrame&) {}

void RecordingSink::onSizedFrame(int32_t streamHandle, const DLSDK_MediaFrame& frame, int, int) {
  onFrame(streamHandle, frame);
}

}  // namespace ksplugs
