#include "plugin/video/live/BitrateTimer.h"

#include <cstdio>

#include "platform/sys/Utf.h"
#include "platform/ui/WindowApi.h"

namespace ksplugs {

void BitrateTimer::start(ui::HWND cell) { ui::setTimer(cell, kId, kIntervalMs); }

void BitrateTimer::stop(ui::HWND cell) { ui::killTimer(cell, kId); }

int BitrateTimer::kbpsFor(int streamType, int kbpsMain, int kbpsSub, int kbpsThird) {
  switch (streamType) {
    case 1: return kbpsMain;
    case 4: return kbpsSub;
    case 5: return kbpsThird;
    default: return 0;
  }
}

std::u16string BitrateTimer::labelText(int width, int height, int kbps) {
  char text[kLabelUnits];
  std::snprintf(text, sizeof text, "[%dx%d, %d Kbps]", width, height, kbps);
  return sys::utf8ToUtf16(text);
}

}  // namespace ksplugs
