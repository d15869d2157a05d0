#include "plugin/video/CPreviewManager.h"

namespace ksplugs {

void CPreviewManager::setLayout(uint32_t layout) {
  if (layout != 0) layout_.store(layout, std::memory_order_release);
}

}  // namespace ksplugs
