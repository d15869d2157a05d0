// The fourteen exports of libksplugs.so. Each checks that the library is
// initialised, then hands the record to the part of the library that owns
// the work. No exception leaves an export: anything thrown below is answered
// with a result code.
#include <cstring>
#include <exception>
#include <new>

#include "platform/devlink/DevLinkSdk.h"
#include "platform/ui/Messages.h"
#include "platform/ui/WindowSystem.h"
#include "plugin/api/NotifyDispatcher.h"
#include "plugin/api/PluginGlobals.h"
#include "plugin/api/ksplugs.h"
#include "plugin/device/DeviceRegistry.h"
#include "plugin/device/DownloadServer.h"
#include "plugin/device/WorkFolders.h"

using ksplugs::DeviceRef;
using ksplugs::DeviceRegistry;
using ksplugs::PluginGlobals;

namespace {

// Path buffers of the records hold 260 bytes.
constexpr size_t kPathBuffer = 260;

bool ready() { return PluginGlobals::instance().initialised(); }

DeviceRegistry& registry() { return DeviceRegistry::instance(); }

// Runs `work` and turns an escaping exception into a result code, so that
// nothing unwinds into the shell.
template <typename Work>
int guarded(Work&& work) noexcept {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    return KS_E_NO_MEMORY;
  } catch (...) {
    return KS_E_SDK;
  }
}

// A command on one device: looks the record's device up (1016 when there is
// none), makes a non-zero connection its owner and runs `work` on the entry.
// The lookup's reference is dropped when the command ends, so a device
// destroyed meanwhile is torn down then.
template <typename Param, typename Work>
int onDevice(Param* param, Work&& work) noexcept {
  if (!ready()) return KS_E_NOT_READY;
  if (param == nullptr) return KS_E_INVALID;
  return guarded([&] {
    DeviceRef ref = registry().findById(param->uniqueId);
    if (!ref) return static_cast<int>(KS_E_NO_DEVICE);
    ref->session().updateOwner(param->connectionId);
    return work(*ref);
  });
}

// Escape released anywhere on the desktop takes the first full-screen live
// dock out of full screen. The key is always passed on.
bool onKey(ui::UINT message, ui::UINT virtualKey) {
  if (message == ui::WM_KEYUP && virtualKey == ui::VK_ESCAPE && ready()) {
    try {
      registry().escapeAction();
    } catch (...) {
      // Nothing may unwind into the window layer's input thread.
    }
  }
  return false;
}

void installKeyHook() {
  // Without a window system (a shell without a desktop, unit tests) there is
  // no key input to watch.
  ui::WindowSystem* windows = ui::WindowSystem::current();
  if (windows == nullptr) return;
  try {
    const int id = windows->addKeyHook(onKey);
    if (id > 0) PluginGlobals::instance().keyboardHook.store(static_cast<uint32_t>(id));
  } catch (...) {
    // Without the hook, Escape simply does not leave full screen.
  }
}

void removeKeyHook() {
  const uint32_t id = PluginGlobals::instance().keyboardHook.exchange(0);
  if (id == 0) return;
  if (ui::WindowSystem* windows = ui::WindowSystem::current()) windows->removeKeyHook(static_cast<int>(id));
}

// The native separator of our paths is '/'; a page that writes '\\' means it.
void useNativeSeparators(char* path) {
  if (path == nullptr) return;
  const size_t length = strnlen(path, kPathBuffer);
  for (size_t i = 0; i < length; ++i) {
    if (path[i] == '\\') path[i] = '/';
  }
}

// Cuts a file path back to its folder: the last component and the separator
// before it go ("/a/b/c.mp4" becomes "/a/b", "/c.mp4" becomes "/", "c.mp4"
// becomes empty).
void cutToFolder(char* path) {
  if (path == nullptr) return;
  const size_t length = strnlen(path, kPathBuffer);
  if (length == kPathBuffer) return;  // not a terminated text: leave it alone
  const char* end = path + length;
  const char* slash = nullptr;
  for (const char* p = path; p != end; ++p) {
    if (*p == '/') slash = p;
  }
  if (slash == nullptr) {
    path[0] = '\0';
  } else if (slash == path) {
    path[1] = '\0';
  } else {
    path[slash - path] = '\0';
  }
}

}  // namespace

extern "C" {

KSPLUGS_API int KsComGlobalInit(void) {
  PluginGlobals& globals = PluginGlobals::instance();
  // The library lives once per process: neither a second start nor a start
  // after shut-down does anything.
  if (globals.retired() || !globals.markInitialised()) return KS_OK;
  // Nothing of the start-up is checked: a library that failed to start a
  // part answers the commands that need it with their own codes.
  DLSDK_StartUp();
  DLSDK_SetAttribute(DLSDK_ATTR_COMMAND_TIMEOUT_MS, 15000);
  DLSDK_SetAttribute(DLSDK_ATTR_RECEIVE_BUFFER, 0x200000);
  DLSDK_SetAttribute(DLSDK_ATTR_SEND_BUFFER, 0x200000);
  try {
    registry().start();
  } catch (...) {
    // Without the supervision thread devices still work; their docks are
    // only not kept over the browser.
  }
  // The local download server and its serving thread; a server that cannot
  // start leaves the announced addresses leading nowhere, nothing more.
  ksplugs::DownloadServer::instance().start();
  // The recording queue is created here.
  installKeyHook();
  // Files of an earlier run are of no use any more.
  try {
    ksplugs::WorkFolders::deleteTree(ksplugs::WorkFolders::root());
  } catch (...) {
  }
  return KS_OK;
}

KSPLUGS_API int KsComGlobalUninit(void) {
  PluginGlobals& globals = PluginGlobals::instance();
  if (!globals.markUninitialised()) return KS_OK;
  globals.retire();
  removeKeyHook();
  try {
    registry().shutdown();
  } catch (...) {
  }
  // Downloads still running end with the library.
  ksplugs::DownloadServer::instance().stop();
  // The recording queue stops here, before the SDK goes.
  DLSDK_CleanUp();
  return KS_OK;
}

KSPLUGS_API int KsComInitActiveNotify(NotifyCallback callback, void* user) {
  PluginGlobals::instance().setNotify(callback, user);
  return KS_OK;
}

KSPLUGS_API int KsComGetAliveDeviceCount(void) {
  if (!ready()) return 0;
  return guarded([] { return registry().countAlive(); });
}

KSPLUGS_API int KsComCreateDevice(DeviceCreateParam* param) {
  if (!ready()) return KS_E_NOT_READY;
  if (param == nullptr) return KS_E_INVALID;
  return guarded([param] { return registry().create(*param); });
}

KSPLUGS_API int KsComDestroyObject(DestroyParam* param) {
  if (!ready()) return KS_E_NOT_READY;
  // Only type 1 acts; with no device to match, the answer is 0 in every case.
  if (param == nullptr || param->type != 1) return KS_OK;
  guarded([param] {
    DeviceRef ref = param->byUniqueId != 0 ? registry().findById(param->uniqueId)
                                           : registry().findByOwner(param->uniqueId);
    registry().destroy(std::move(ref));
    return KS_OK;
  });
  return KS_OK;
}

KSPLUGS_API int KsComCreatePreviewerDock(int dockType, void* param) {
  if (!ready()) return KS_E_NOT_READY;
  if (dockType != 1 && dockType != 2) return KS_OK;
  if (param == nullptr) return KS_E_INVALID;
  return guarded([dockType, param] {
    const uint32_t id = dockType == 1 ? static_cast<LiveControlParam*>(param)->uniqueId
                                      : static_cast<PlaybackControlParam*>(param)->uniqueId;
    DeviceRef ref = registry().findById(id);
    if (!ref) return static_cast<int>(KS_E_INVALID);
    return ref->createDock(dockType, param);
  });
}

KSPLUGS_API int KsComDeviceLiveControl(LiveControlParam* param) {
  return onDevice(param, [param](ksplugs::DeviceEntry& entry) {
    // Only one audio source plays at a time: switching sound or talk on
    // silences every device first.
    if ((param->type == LIVE_AUDIO && param->audio.mute == 0) || (param->type == LIVE_TALK && param->talk.open != 0)) {
      registry().silenceAll();
    }
    return entry.liveControl(*param);
  });
}

KSPLUGS_API int KsComDevicePlaybackControl(PlaybackControlParam* param) {
  // Local playback is refused before any lookup.
  if (ready() && param != nullptr && param->type == PLAYBACK_PREVIEW && param->preview.remote == 0) {
    return KS_E_NOT_SUPPORTED;
  }
  return onDevice(param, [param](ksplugs::DeviceEntry& entry) {
    if (param->type == PLAYBACK_AUDIO && param->audio.mute == 0) registry().silenceAll();
    return entry.playbackControl(*param);
  });
}

KSPLUGS_API int KsComSnapshot(SnapshotParam* param) {
  return onDevice(param, [param](ksplugs::DeviceEntry& entry) {
    useNativeSeparators(param->path);
    return entry.snapshot(*param);
  });
}

KSPLUGS_API int KsComStreamRecord(StreamRecordParam* param) {
  return onDevice(param, [param](ksplugs::DeviceEntry& entry) {
    const int result = entry.streamRecord(*param);
    // A stopped recording answers the folder its files went to.
    if (param->start == 0) cutToFolder(param->path);
    return result;
  });
}

KSPLUGS_API int KsComPlaybackQuery(void* /*query*/, uintptr_t /*result*/) {
  // Record queries are accepted by the command channel but not served here.
  return KS_E_NOT_SUPPORTED;
}

KSPLUGS_API int KsComDownloadControl(DownloadControlParam* param) {
  return onDevice(param, [param](ksplugs::DeviceEntry& entry) { return entry.downloadControl(*param); });
}

KSPLUGS_API int KsComDeviceSettings(DeviceSettingsParam* param, int reserved) {
  if (!ready()) return KS_E_NOT_READY;
  if (param == nullptr) return KS_E_INVALID;
  // Rasterising on-screen text (operate 1, sub-type 11) needs no device; it
  // is answered here once the text rasteriser exists.
  return guarded([param, reserved] {
    DeviceRef ref = registry().findById(param->uniqueId);
    if (!ref) return static_cast<int>(KS_E_NO_DEVICE);
    return ref->settings(*param, reserved);
  });
}

}  // extern "C"
