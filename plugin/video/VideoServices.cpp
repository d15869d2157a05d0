#include "plugin/video/VideoServices.h"

#include <ctime>

namespace ksplugs {

sys::CalendarTime VideoServices::now() const {
  if (clock) return clock();
  return sys::secondsToLocal(static_cast<int64_t>(std::time(nullptr)));
}

}  // namespace ksplugs
