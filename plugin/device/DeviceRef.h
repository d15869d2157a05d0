#pragma once
// One counted reference to a device entry, handed out by the registry's
// lookups and released through the registry when it goes out of scope, so
// that a device destroyed while a command runs on it is torn down when that
// command ends.
#include <utility>

#include "plugin/device/DeviceEntry.h"

namespace ksplugs {

class DeviceRegistry;

class DeviceRef {
 public:
  DeviceRef() = default;
  DeviceRef(DeviceRegistry* registry, DeviceEntry* entry) : registry_(registry), entry_(entry) {}
  DeviceRef(DeviceRef&& other) noexcept
      : registry_(std::exchange(other.registry_, nullptr)), entry_(std::exchange(other.entry_, nullptr)) {}
  DeviceRef& operator=(DeviceRef&& other) noexcept {
    if (this != &other) {
      reset();
      registry_ = std::exchange(other.registry_, nullptr);
      entry_ = std::exchange(other.entry_, nullptr);
    }
    return *this;
  }
  DeviceRef(const DeviceRef&) = delete;
  DeviceRef& operator=(const DeviceRef&) = delete;
  ~DeviceRef() { reset(); }

  // Drops the reference now.
  void reset();

  DeviceEntry* get() const { return entry_; }
  DeviceEntry* operator->() const { return entry_; }
  DeviceEntry& operator*() const { return *entry_; }
  explicit operator bool() const { return entry_ != nullptr; }

 private:
  DeviceRegistry* registry_ = nullptr;
  DeviceEntry* entry_ = nullptr;
};

}  // namespace ksplugs
