// The fourteen exports of libksplugs.so. Each checks that the library is
// initialised, then hands the record to the part of the library that owns
// the work. No exception leaves an export: anything thrown below is answered
// with a result code.
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>

#include "plugin/api/ksplugs.h"
#include "plugin/exports/PluginContext.h"
#include "plugin/overlay/OsdLattice.h"

using ksplugs::DeviceRef;
using ksplugs::PluginContext;

namespace {

// Path buffers of the records hold 260 bytes.
constexpr size_t kPathBuffer = 260;

// The settings sub-type that renders on-screen text as a lattice.
constexpr int32_t kSubTypeLattice = 11;

// The library's one process-wide anchor: the running context, if any, and
// what outlives a restart of the library (the shell's notify registration,
// the last device id).
// Never freed: an export may still run while the process exits.
class Library {
 public:
  // The running context, or null before KsComGlobalInit and after
  // KsComGlobalUninit. The caller's copy keeps it alive for its call.
  std::shared_ptr<PluginContext> context() {
    std::lock_guard guard(lock_);
    return context_;
  }

  void start() {
    std::lock_guard guard(lock_);
    if (context_) return;
    PluginContext::Options options;
    options.lastDeviceId = lastDeviceId_;
    std::shared_ptr<PluginContext> context = PluginContext::make(std::move(options));
    context->events().setCallback(callback_, user_);
    context->start();
    context_ = std::move(context);
  }

  // Takes the context out; the caller stops it without the lock, since the
  // teardown of devices waits for the user-interface thread.
  std::shared_ptr<PluginContext> take() {
    std::lock_guard guard(lock_);
    return std::move(context_);
  }

  // Keeps the last id of a stopped library (a creation still running while
  // it stopped may have taken one more).
  void keepLastDeviceId(uint32_t id) {
    std::lock_guard guard(lock_);
    if (id > lastDeviceId_) lastDeviceId_ = id;
  }

  void setNotify(NotifyCallback callback, void* user) {
    std::lock_guard guard(lock_);
    callback_ = callback;
    user_ = user;
    if (context_) context_->events().setCallback(callback, user);
  }

 private:
  std::mutex lock_;
  std::shared_ptr<PluginContext> context_;  // guarded by lock_
  NotifyCallback callback_ = nullptr;       // guarded by lock_
  void* user_ = nullptr;                    // guarded by lock_
  // Device ids are never reused in a process, across restarts too.
  uint32_t lastDeviceId_ = 0;  // guarded by lock_
};

Library& library() {
  static Library* const instance = new Library();
  return *instance;
}

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
  std::shared_ptr<PluginContext> context = library().context();
  if (!context) return KS_E_NOT_READY;
  if (param == nullptr) return KS_E_INVALID;
  return guarded([&] {
    DeviceRef ref = context->registry().findById(param->uniqueId);
    if (!ref) return static_cast<int>(KS_E_NO_DEVICE);
    ref->session().updateOwner(param->connectionId);
    return work(*context, *ref);
  });
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
  // A second start does nothing; a start after shut-down brings up a new
  // library. Nothing of the start-up is checked: a library that failed to
  // start a part answers the commands that need it with their own codes.
  try {
    library().start();
  } catch (...) {
    // Without memory for the context the library stays stopped and every
    // command answers that it is not initialised.
  }
  return KS_OK;
}

KSPLUGS_API int KsComGlobalUninit(void) {
  std::shared_ptr<PluginContext> context = library().take();
  if (!context) return KS_OK;
  try {
    context->stop();
  } catch (...) {
  }
  library().keepLastDeviceId(context->registry().lastId());
  return KS_OK;
}

KSPLUGS_API int KsComInitActiveNotify(NotifyCallback callback, void* user) {
  library().setNotify(callback, user);
  return KS_OK;
}

KSPLUGS_API int KsComGetAliveDeviceCount(void) {
  std::shared_ptr<PluginContext> context = library().context();
  if (!context) return 0;
  return guarded([&] { return context->registry().countAlive(); });
}

KSPLUGS_API int KsComCreateDevice(DeviceCreateParam* param) {
  std::shared_ptr<PluginContext> context = library().context();
  if (!context) return KS_E_NOT_READY;
  if (param == nullptr) return KS_E_INVALID;
  return guarded([&] { return context->registry().create(*param); });
}

KSPLUGS_API int KsComDestroyObject(DestroyParam* param) {
  std::shared_ptr<PluginContext> context = library().context();
  if (!context) return KS_E_NOT_READY;
  // Only type 1 acts; with no device to match, the answer is 0 in every case.
  if (param == nullptr || param->type != 1) return KS_OK;
  guarded([&] {
    ksplugs::DeviceRegistry& registry = context->registry();
    if (param->byUniqueId != 0) {
      registry.destroy(registry.findById(param->uniqueId));
      return KS_OK;
    }
    // A page that has gone leaves nothing behind: each destroyed device is
    // closing and no longer found, so the loop ends once none is left.
    while (DeviceRef ref = registry.findByOwner(param->uniqueId)) registry.destroy(std::move(ref));
    return KS_OK;
  });
  return KS_OK;
}

KSPLUGS_API int KsComCreatePreviewerDock(int dockType, void* param) {
  std::shared_ptr<PluginContext> context = library().context();
  if (!context) return KS_E_NOT_READY;
  if (dockType != 1 && dockType != 2) return KS_OK;
  if (param == nullptr) return KS_E_INVALID;
  return guarded([&] {
    const uint32_t id = dockType == 1 ? static_cast<LiveControlParam*>(param)->uniqueId
                                      : static_cast<PlaybackControlParam*>(param)->uniqueId;
    DeviceRef ref = context->registry().findById(id);
    if (!ref) return static_cast<int>(KS_E_INVALID);
    return ref->createDock(dockType, param);
  });
}

KSPLUGS_API int KsComDeviceLiveControl(LiveControlParam* param) {
  return onDevice(param, [param](PluginContext& context, ksplugs::DeviceEntry& entry) {
    // Only one audio source plays at a time: switching sound or talk on
    // silences every device first.
    if ((param->type == LIVE_AUDIO && param->audio.mute == 0) || (param->type == LIVE_TALK && param->talk.open != 0)) {
      context.registry().silenceAll();
    }
    return entry.liveControl(*param);
  });
}

KSPLUGS_API int KsComDevicePlaybackControl(PlaybackControlParam* param) {
  // Local playback is refused before any lookup.
  if (library().context() && param != nullptr && param->type == PLAYBACK_PREVIEW && param->preview.remote == 0) {
    return KS_E_NOT_SUPPORTED;
  }
  return onDevice(param, [param](PluginContext& context, ksplugs::DeviceEntry& entry) {
    if (param->type == PLAYBACK_AUDIO && param->audio.mute == 0) context.registry().silenceAll();
    return entry.playbackControl(*param);
  });
}

KSPLUGS_API int KsComSnapshot(SnapshotParam* param) {
  return onDevice(param, [param](PluginContext&, ksplugs::DeviceEntry& entry) {
    useNativeSeparators(param->path);
    return entry.snapshot(*param);
  });
}

KSPLUGS_API int KsComStreamRecord(StreamRecordParam* param) {
  return onDevice(param, [param](PluginContext&, ksplugs::DeviceEntry& entry) {
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
  return onDevice(param, [param](PluginContext&, ksplugs::DeviceEntry& entry) { return entry.downloadControl(*param); });
}

KSPLUGS_API int KsComDeviceSettings(DeviceSettingsParam* param, int reserved) {
  std::shared_ptr<PluginContext> context = library().context();
  if (!context) return KS_E_NOT_READY;
  if (param == nullptr) return KS_E_INVALID;
  // On-screen text rendered as a lattice needs no device. Only the OSD block
  // carries text: other blocks with sub-type 11 go to their device.
  if (param->operate == 1 && param->subType == kSubTypeLattice && param->type == SETTINGS_OSD) {
    return guarded([&] { return ksplugs::OsdLattice::render(*param); });
  }
  return guarded([&] {
    DeviceRef ref = context->registry().findById(param->uniqueId);
    if (!ref) return static_cast<int>(KS_E_NO_DEVICE);
    return ref->settings(*param, reserved);
  });
}

}  // extern "C"
