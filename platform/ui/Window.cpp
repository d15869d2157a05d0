#include "platform/ui/Window.h"

#include "platform/sys/Utf.h"
#include "platform/ui/WindowSystem.h"

namespace ui {

Window::Window() = default;

Window::~Window() {
  if (!hwnd_) return;
  WindowSystem* ws = WindowSystem::current();
  if (!ws) return;
  HWND h = hwnd_;
  // Detach first: the handler of a half-destroyed object must not run.
  ws->detachObject(h);
  ws->destroyWindow(h);
  hwnd_ = 0;
}

HWND Window::create(HWND parentOrOwner, const Rect& rect, std::string_view title, uint32_t style, uint32_t exStyle,
                    const char* className, void* createParam) {
  WindowSystem* ws = WindowSystem::current();
  if (!ws) return 0;
  return ws->createWindow(this, parentOrOwner, rect, title, style, exStyle, className, createParam);
}

HWND Window::create(HWND parentOrOwner, const Rect& rect, std::u16string_view title, uint32_t style,
                    uint32_t exStyle, const char* className, void* createParam) {
  return create(parentOrOwner, rect, std::string_view(sys::utf16ToUtf8(title)), style, exStyle, className,
                createParam);
}

bool Window::destroyWindow() {
  WindowSystem* ws = WindowSystem::current();
  return ws && hwnd_ && ws->destroyWindow(hwnd_);
}

LRESULT Window::sendMessage(UINT msg, WPARAM wParam, LPARAM lParam) const {
  WindowSystem* ws = WindowSystem::current();
  return ws && hwnd_ ? ws->sendMessage(hwnd_, msg, wParam, lParam) : 0;
}

bool Window::postMessage(UINT msg, WPARAM wParam, LPARAM lParam) const {
  WindowSystem* ws = WindowSystem::current();
  return ws && hwnd_ && ws->postMessage(hwnd_, msg, wParam, lParam);
}

LRESULT Window::handleMessage(UINT msg, WPARAM wParam, LPARAM lParam) { return defaultHandle(msg, wParam, lParam); }

LRESULT Window::defaultHandle(UINT msg, WPARAM wParam, LPARAM lParam) {
  WindowSystem* ws = WindowSystem::current();
  return ws && hwnd_ ? ws->defaultProc(hwnd_, msg, wParam, lParam) : 0;
}

void Window::onFinalMessage(HWND) {}

}  // namespace ui
