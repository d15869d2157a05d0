#include "plugin/session/StreamKind.h"

namespace ksplugs {

int StreamKind::deviceFromPage(int64_t pageStream) {
  switch (pageStream) {
    case kPageSub: return kDeviceSub;
    case kPageThird: return kDeviceThird;
    default: return kDeviceMain;
  }
}

int32_t StreamKind::pageFromDevice(int32_t deviceStream) {
  switch (deviceStream) {
    case kDeviceSub: return kPageSub;
    case kDeviceThird: return kPageThird;
    default: return deviceStream;
  }
}

int StreamKind::deviceFromMenu(uint32_t menuId) {
  switch (menuId) {
    case kMenuMain: return kDeviceMain;
    case kMenuSub: return kDeviceSub;
    case kMenuThird: return kDeviceThird;
    default: return 0;
  }
}

uint32_t StreamKind::menuFromDevice(int deviceStream) {
  switch (deviceStream) {
    case kDeviceMain: return kMenuMain;
    case kDeviceSub: return kMenuSub;
    case kDeviceThird: return kMenuThird;
    default: return 0;
  }
}

}  // namespace ksplugs
