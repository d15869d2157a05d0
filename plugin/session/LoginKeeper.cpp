#include "plugin/session/LoginKeeper.h"

#include <cstring>

#include "platform/devlink/DevLinkSdk.h"
#include "platform/sys/Utf.h"
#include "plugin/api/SdkResult.h"
#include "plugin/api/ksplugs.h"

namespace WebPlug_NCL {

LoginKeeper::~LoginKeeper() { logout(); }

int LoginKeeper::login() {
  std::lock_guard lock(mutex_);
  return loginLocked();
}

int LoginKeeper::loginSince(uint64_t seenAttempts) {
  std::lock_guard lock(mutex_);
  if (handle_.load() == -1 && attempts_.load(std::memory_order_acquire) > seenAttempts && lastFailure_ != 0)
    return lastFailure_;
  return loginLocked();
}

int LoginKeeper::renew(int32_t stale) {
  std::lock_guard lock(mutex_);
  const int32_t current = handle_.load();
  if (current != -1 && current != stale) return KS_OK;
  if (current != -1) {
    handle_.store(-1, std::memory_order_release);
    DLSDK_UserLogout(current);
  }
  return loginLocked();
}

void LoginKeeper::logout() {
  std::lock_guard lock(mutex_);
  const int32_t handle = handle_.exchange(-1);
  if (handle != -1) DLSDK_UserLogout(handle);
}

int LoginKeeper::loginLocked() {
  if (handle_.load() != -1) return KS_OK;
  DLSDK_LoginInfo info;
  std::memset(&info, 0, sizeof info);
  sys::copyUtf8Bounded(info.address, sizeof info.address, account_.address);
  info.commandPort = account_.commandPort;
  sys::copyUtf8Bounded(info.user, sizeof info.user, account_.user);
  sys::copyUtf8Bounded(info.password, sizeof info.password, account_.password);
  int32_t handle = -1;
  const int code = DLSDK_UserLogin(&handle, &info);
  attempts_.fetch_add(1, std::memory_order_acq_rel);
  if (code != DLSDK_OK || handle < 0) {
    // A login that fails for no specific reason is reported as a failed
    // login, which the page shows as such; specific causes (bad password,
    // unreachable device) keep their own codes.
    const int mapped = code == DLSDK_OK ? KS_E_SDK : ksplugs::MapSdkResult(code);
    lastFailure_ = mapped == KS_E_SDK ? KS_E_LOGIN : mapped;
    return lastFailure_;
  }
  lastFailure_ = 0;
  handle_.store(handle, std::memory_order_release);
  return KS_OK;
}

}  // namespace WebPlug_NCL
