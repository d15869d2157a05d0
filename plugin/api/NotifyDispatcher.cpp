#include "plugin/api/NotifyDispatcher.h"

#include "plugin/api/PluginGlobals.h"

namespace ksplugs {

int32_t pageStreamCode(int32_t deviceStream) {
  switch (deviceStream) {
    case 4: return 2;
    case 5: return 3;
    default: return deviceStream;  // 1 stays 1; unknown codes pass unchanged
  }
}

void raiseEvent(NotifyEvent& event) {
  if (event.type == NOTIFY_BITRATE) {
    event.bitrateStream = pageStreamCode(event.bitrateStream);
  } else if (event.type == NOTIFY_STREAM_SWITCHED) {
    event.switchedStream = pageStreamCode(event.switchedStream);
  }
  NotifyCallback callback = nullptr;
  void* user = nullptr;
  PluginGlobals::instance().notify(callback, user);
  if (callback != nullptr) callback(&event, user);
}

}  // namespace ksplugs
