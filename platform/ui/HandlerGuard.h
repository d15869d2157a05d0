#pragma once
// Handlers and hooks are a callback boundary: an exception never leaves the
// message loop. It is reported on stderr since the layer has no other
// channel, and the call answers 0.
#include <cstdio>
#include <exception>

#include "platform/ui/Types.h"

namespace ui {

template <typename F>
LRESULT guardedCall(F&& f) {
  try {
    return f();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ui: handler raised: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "ui: handler raised an unknown exception\n");
  }
  return 0;
}

}  // namespace ui
