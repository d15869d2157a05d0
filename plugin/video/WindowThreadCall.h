#pragma once
// Runs a piece of work on the thread that owns a window and waits for its
// answer. The dock's and the cells' operations are called from command
// threads; sending them to the window's thread keeps every field of a dock
// or cell on one thread. The window's handler must answer
// MsgRunOnWindowThread by calling runWindowThreadCall.
#include <functional>
#include <utility>

#include "platform/ui/WindowApi.h"
#include "plugin/video/VideoMessages.h"

namespace ksplugs {

// Answers `fallback` when the window is gone (the work did not run).
template <typename Result, typename Work>
Result callOnWindowThread(ui::HWND hwnd, Result fallback, Work&& work) {
  if (hwnd == 0) return fallback;
  Result result = fallback;
  std::function<void()> task = [&] { result = work(); };
  ui::sendMessage(hwnd, MsgRunOnWindowThread, reinterpret_cast<ui::WPARAM>(&task), 0);
  return result;
}

inline ui::LRESULT runWindowThreadCall(ui::WPARAM wParam) {
  if (auto* task = reinterpret_cast<std::function<void()>*>(wParam)) (*task)();
  return 0;
}

}  // namespace ksplugs
