// The fourteen exports of libksplugs.so. Each checks that the library is
// initialised, then hands the record to the part of the library that owns
// the work. No exception leaves an export: anything thrown below is answered
// with a result code.
#include <exception>
#include <new>

#include "plugin/api/NotifyDispatcher.h"
#include "plugin/api/PluginGlobals.h"
#include "plugin/api/ksplugs.h"

using ksplugs::PluginGlobals;

namespace {

bool ready() { return PluginGlobals::instance().initialised(); }

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

}  // namespace

extern "C" {

KSPLUGS_API int KsComGlobalInit(void) {
  PluginGlobals& globals = PluginGlobals::instance();
  // The library lives once per process: neither a second start nor a start
  // after shut-down does anything.
  if (globals.retired() || !globals.markInitialised()) return KS_OK;
  return KS_OK;
}

KSPLUGS_API int KsComGlobalUninit(void) {
  PluginGlobals& globals = PluginGlobals::instance();
  if (!globals.markUninitialised()) return KS_OK;
  globals.retire();
  return KS_OK;
}

KSPLUGS_API int KsComInitActiveNotify(NotifyCallback callback, void* user) {
  PluginGlobals::instance().setNotify(callback, user);
  return KS_OK;
}

KSPLUGS_API int KsComGetAliveDeviceCount(void) {
  if (!ready()) return 0;
  return 0;  // no device can exist yet
}

KSPLUGS_API int KsComCreateDevice(DeviceCreateParam* param) {
  if (!ready()) return KS_E_NOT_READY;
  if (param == nullptr) return KS_E_INVALID;
  return guarded([] { return KS_E_NO_DEVICE; });
}

KSPLUGS_API int KsComDestroyObject(DestroyParam* param) {
  if (!ready()) return KS_E_NOT_READY;
  // Only type 1 acts; with no device to match, the answer is 0 in every case.
  return KS_OK;
}

KSPLUGS_API int KsComCreatePreviewerDock(int dockType, void* param) {
  if (!ready()) return KS_E_NOT_READY;
  if (dockType != 1 && dockType != 2) return KS_OK;
  if (param == nullptr) return KS_E_INVALID;
  return KS_E_INVALID;  // the device is not found
}

KSPLUGS_API int KsComDeviceLiveControl(LiveControlParam* param) {
  if (!ready()) return KS_E_NOT_READY;
  if (param == nullptr) return KS_E_INVALID;
  return KS_E_NO_DEVICE;
}

KSPLUGS_API int KsComDevicePlaybackControl(PlaybackControlParam* param) {
  if (!ready()) return KS_E_NOT_READY;
  if (param == nullptr) return KS_E_INVALID;
  // Local playback is refused before any lookup.
  if (param->type == PLAYBACK_PREVIEW && param->preview.remote == 0) return KS_E_NOT_SUPPORTED;
  return KS_E_NO_DEVICE;
}

KSPLUGS_API int KsComSnapshot(SnapshotParam* param) {
  if (!ready()) return KS_E_NOT_READY;
  if (param == nullptr) return KS_E_INVALID;
  return KS_E_NO_DEVICE;
}

KSPLUGS_API int KsComStreamRecord(StreamRecordParam* param) {
  if (!ready()) return KS_E_NOT_READY;
  if (param == nullptr) return KS_E_INVALID;
  return KS_E_NO_DEVICE;
}

KSPLUGS_API int KsComPlaybackQuery(void* /*query*/, uintptr_t /*result*/) {
  // Record queries are accepted by the command channel but not served here.
  return KS_E_NOT_SUPPORTED;
}

KSPLUGS_API int KsComDownloadControl(DownloadControlParam* param) {
  if (!ready()) return KS_E_NOT_READY;
  if (param == nullptr) return KS_E_INVALID;
  return KS_E_NO_DEVICE;
}

KSPLUGS_API int KsComDeviceSettings(DeviceSettingsParam* param, int /*reserved*/) {
  if (!ready()) return KS_E_NOT_READY;
  if (param == nullptr) return KS_E_INVALID;
  return KS_E_NO_DEVICE;
}

}  // extern "C"
