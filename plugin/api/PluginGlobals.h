#pragma once
// Process-wide state behind the exports.
//
// `initialised` is set by KsComGlobalInit and cleared by KsComGlobalUninit;
// every export that needs the library checks it first. The notify callback
// may be replaced while library threads raise events, so the pair
// (callback, user value) is guarded by `notifyLock`.
#include <atomic>
#include <cstdint>
#include <mutex>

#include "plugin/api/ksplugs.h"

namespace ksplugs {

class PluginGlobals {
 public:
  static PluginGlobals& instance();

  bool initialised() const { return initialised_.load(std::memory_order_acquire); }
  // Sets the flag; answers false when it was already set.
  bool markInitialised() { return !initialised_.exchange(true, std::memory_order_acq_rel); }
  // Clears the flag; answers false when it was already clear.
  bool markUninitialised() { return initialised_.exchange(false, std::memory_order_acq_rel); }
  // Once the library has been shut down it is not started again in this process.
  bool retired() const { return retired_.load(std::memory_order_acquire); }
  void retire() { retired_.store(true, std::memory_order_release); }

  void setNotify(NotifyCallback callback, void* user);
  // Copies the current callback and user value (callback null when none).
  void notify(NotifyCallback& callback, void*& user) const;

  // Handle of the Escape key hook of the window layer; 0 when none.
  std::atomic<uint32_t> keyboardHook{0};

 private:
  std::atomic<bool> initialised_{false};
  std::atomic<bool> retired_{false};
  mutable std::mutex notifyLock_;
  NotifyCallback notifyCallback_ = nullptr;  // guarded by notifyLock_
  void* notifyUser_ = nullptr;               // guarded by notifyLock_
};

}  // namespace ksplugs
