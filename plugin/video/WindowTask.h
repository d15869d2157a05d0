#pragma once
// A dock's or cell's operation run on the thread that owns its window, with
// the caller waiting for the answer. Command threads call the operations;
// running them on the window's thread keeps every field of a dock or cell on
// one thread.
#include <functional>

#include "platform/ui/WindowApi.h"

namespace ksplugs {

// The answer of `work` run on `hwnd`'s thread (directly when that is the
// calling thread); `fallback` when the window is gone and `work` did not run.
inline int answerOnWindowThread(ui::HWND hwnd, int fallback, const std::function<int()>& work) {
  if (hwnd == 0) return fallback;
  int result = fallback;
  ui::sendTask(hwnd, [&] { result = work(); });
  return result;
}

}  // namespace ksplugs
