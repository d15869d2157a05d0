#include "platform/ui/PaintScope.h"

#include "platform/ui/WindowApi.h"

namespace ui {

PaintScope::PaintScope(HWND hwnd) : hwnd_(hwnd) {
  WindowSystem* ws = WindowSystem::current();
  if (!ws) return;
  bool erase = false;
  rect_ = ws->takeInvalid(hwnd, erase);
  access_ = ws->lockImage(hwnd);
  if (!access_.surface) return;
  dc_ = std::make_unique<DeviceContext>(access_.surface, getDpiForWindow(hwnd));
  dc_->clipTo(rect_);
  if (erase) {
    int level = dc_->save();
    erase_ = ws->sendMessage(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc_.get()), 0) == 0;
    dc_->restore(level);
  }
}

PaintScope::~PaintScope() {
  WindowSystem* ws = WindowSystem::current();
  dc_.reset();
  if (ws && access_.surface) {
    ws->unlockImage(access_);
    if (!rect_.isEmpty()) ws->present(hwnd_, &rect_);
  }
}

}  // namespace ui
