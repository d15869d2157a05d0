#include "plugin/download/DownloadTask.h"

namespace ksplugs {

void DownloadTask::stop() {
  // No download can be started yet, so the handle is always -1 here.
  handle_.store(-1, std::memory_order_release);
}

}  // namespace ksplugs
