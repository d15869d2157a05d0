#pragma once
// The plug-in library's fourteen exports as a table of function pointers.
// Handlers call the library only through this table: the shell uses the real
// exports, tests substitute functions that capture the records and script
// the answers.
#include "plugin/api/ksplugs.h"

namespace kestrova {

struct PluginApi {
  int (*globalInit)();
  int (*globalUninit)();
  int (*initActiveNotify)(NotifyCallback, void*);
  int (*getAliveDeviceCount)();
  int (*createDevice)(DeviceCreateParam*);
  int (*destroyObject)(DestroyParam*);
  int (*createPreviewerDock)(int, void*);
  int (*deviceLiveControl)(LiveControlParam*);
  int (*devicePlaybackControl)(PlaybackControlParam*);
  int (*snapshot)(SnapshotParam*);
  int (*streamRecord)(StreamRecordParam*);
  int (*playbackQuery)(void*, uintptr_t);
  int (*downloadControl)(DownloadControlParam*);
  int (*deviceSettings)(DeviceSettingsParam*, int);
};

// The table of the linked library's real exports.
const PluginApi& realPluginApi();

}  // namespace kestrova
