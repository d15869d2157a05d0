#pragma once
// Every event of the library leaves through raiseEvent: it rewrites the
// device's stream codes into the page's codes and calls the shell's callback
// synchronously on the calling thread. Without a callback the event is
// dropped.
#include <cstdint>

#include "plugin/api/ksplugs.h"

namespace ksplugs {

// Device stream code to the page's: 1 -> 1, 4 -> 2, 5 -> 3; others unchanged.
int32_t pageStreamCode(int32_t deviceStream);

// `event` is the caller's record; the rewrite is applied to it in place.
void raiseEvent(NotifyEvent& event);

}  // namespace ksplugs
