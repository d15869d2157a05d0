#include "platform/ui/WindowDC.h"

#include "platform/ui/WindowApi.h"

namespace ui {

WindowDC::WindowDC(HWND hwnd) : hwnd_(hwnd) {
  WindowSystem* ws = WindowSystem::current();
  if (!ws) return;
  access_ = ws->lockImage(hwnd);
  if (!access_.surface) return;
  dc_ = std::make_unique<DeviceContext>(access_.surface, getDpiForWindow(hwnd));
  Size s = dc_->size();
  dirty_ = {0, 0, s.cx, s.cy};
}

WindowDC::~WindowDC() {
  WindowSystem* ws = WindowSystem::current();
  dc_.reset();
  if (!ws || !access_.surface) return;
  // Present while still holding the image lock so the backend copies a
  // complete picture, never one a second writer is half-way through.
  if (present_ && !dirty_.isEmpty()) ws->present(hwnd_, &dirty_);
  ws->unlockImage(access_);
}

}  // namespace ui
