#include "plugin/api/PluginGlobals.h"

namespace ksplugs {

PluginGlobals& PluginGlobals::instance() {
  static PluginGlobals globals;
  return globals;
}

void PluginGlobals::setNotify(NotifyCallback callback, void* user) {
  std::lock_guard lock(notifyLock_);
  notifyCallback_ = callback;
  notifyUser_ = user;
}

void PluginGlobals::notify(NotifyCallback& callback, void*& user) const {
  std::lock_guard lock(notifyLock_);
  callback = notifyCallback_;
  user = notifyUser_;
}

}  // namespace ksplugs
