#include "plugin/video/CellOverlay.h"

#include <mutex>

namespace ksplugs {

namespace {

std::mutex factoryLock;
CellOverlay::Factory factory;  // guarded by factoryLock

}  // namespace

void CellOverlay::setFactory(Factory f) {
  std::lock_guard lock(factoryLock);
  factory = std::move(f);
}

std::unique_ptr<CellOverlay> CellOverlay::create() {
  Factory f;
  {
    std::lock_guard lock(factoryLock);
    f = factory;
  }
  return f ? f() : nullptr;
}

}  // namespace ksplugs
