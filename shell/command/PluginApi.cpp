#include "shell/command/PluginApi.h"

namespace kestrova {

const PluginApi& realPluginApi() {
  static const PluginApi api{
      KsComGlobalInit,          KsComGlobalUninit,      KsComInitActiveNotify,
      KsComGetAliveDeviceCount, KsComCreateDevice,      KsComDestroyObject,
      KsComCreatePreviewerDock, KsComDeviceLiveControl, KsComDevicePlaybackControl,
      KsComSnapshot,            KsComStreamRecord,      KsComPlaybackQuery,
      KsComDownloadControl,     KsComDeviceSettings,
  };
  return api;
}

}  // namespace kestrova
