#include "platform/ui/WindowApi.h"

#include <algorithm>
#include <climits>

#include "platform/sys/Utf.h"
#include "platform/ui/WindowSystem.h"

namespace ui {

namespace {

WindowSystem* ws() { return WindowSystem::current(); }

long long distanceSquared(const Rect& r, Point p) {
  long long dx = p.x < r.left ? r.left - p.x : (p.x >= r.right ? p.x - r.right + 1 : 0);
  long long dy = p.y < r.top ? r.top - p.y : (p.y >= r.bottom ? p.y - r.bottom + 1 : 0);
  return dx * dx + dy * dy;
}

}  // namespace

HWND getDesktopWindow() { return kDesktopWindow; }

LRESULT sendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return ws() ? ws()->sendMessage(hwnd, msg, wParam, lParam) : 0;
}

bool postMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return ws() && ws()->postMessage(hwnd, msg, wParam, lParam);
}

bool postTask(HWND hwnd, std::function<void()> task) { return ws() && ws()->postTask(hwnd, std::move(task)); }

bool sendTask(HWND hwnd, std::function<void()> task) { return ws() && ws()->sendTask(hwnd, task); }

int runMessageLoop() { return ws() ? ws()->runMessageLoop() : -1; }

void postQuitMessage(int code) {
  if (ws()) ws()->postQuit(code);
}

bool pumpMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  return ws() ? ws()->pumpUntil(done, timeout) : done();
}

void pumpPendingMessages() {
  if (ws()) ws()->pumpPending();
}

bool destroyWindow(HWND hwnd) { return ws() && ws()->destroyWindow(hwnd); }

bool isWindow(HWND hwnd) { return ws() && ws()->isWindow(hwnd); }

bool isWindowVisible(HWND hwnd) {
  auto info = getDesktopWindowInfo(hwnd);
  return info && info->visible;
}

bool isWindowExposed(HWND hwnd) { return ws() && ws()->isExposed(hwnd); }

bool isIconic(HWND hwnd) {
  auto info = getDesktopWindowInfo(hwnd);
  return info && info->minimized;
}

bool isZoomed(HWND hwnd) {
  auto info = getDesktopWindowInfo(hwnd);
  return info && info->maximized;
}

bool showWindow(HWND hwnd, int cmd) { return ws() && ws()->showWindow(hwnd, cmd); }

bool setWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  return ws() && ws()->setWindowPos(hwnd, insertAfter, x, y, cx, cy, flags);
}

bool moveWindow(HWND hwnd, int x, int y, int cx, int cy, bool repaint) {
  return setWindowPos(hwnd, 0, x, y, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

Rect getWindowRect(HWND hwnd) { return ws() ? ws()->windowRectScreen(hwnd) : Rect{}; }

Rect getClientRect(HWND hwnd) {
  Rect r = getClientRectScreen(hwnd);
  return {0, 0, r.width(), r.height()};
}

Rect getClientRectScreen(HWND hwnd) {
  auto info = getDesktopWindowInfo(hwnd);
  return info ? info->clientRect : Rect{};
}

Point clientToScreen(HWND hwnd, Point p) {
  if (!ws()) return p;
  Point o = ws()->clientOrigin(hwnd);
  return {p.x + o.x, p.y + o.y};
}

Point screenToClient(HWND hwnd, Point p) {
  if (!ws()) return p;
  Point o = ws()->clientOrigin(hwnd);
  return {p.x - o.x, p.y - o.y};
}

bool getExtendedFrameBounds(HWND hwnd, Rect& bounds) {
  auto info = getDesktopWindowInfo(hwnd);
  if (!info) return false;
  bounds = info->frameBounds;
  return true;
}

bool getWindowPlacement(HWND hwnd, WindowPlacement& placement) {
  if (!ws() || isForeignHandle(hwnd)) return false;
  auto info = ws()->windowInfo(hwnd);
  if (!info) return false;
  auto data = ws()->find(hwnd);
  if (!data) return false;
  placement.showCmd = info->minimized ? SW_SHOWMINIMIZED : info->maximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
  placement.normalPosition = ws()->normalRect(hwnd);
  return true;
}

bool setWindowPlacement(HWND hwnd, const WindowPlacement& placement) {
  if (!ws() || isForeignHandle(hwnd) || !ws()->isWindow(hwnd)) return false;
  const Rect& r = placement.normalPosition;
  bool visible = (getWindowStyle(hwnd) & WS_VISIBLE) != 0;
  if (isZoomed(hwnd) || isIconic(hwnd)) showWindow(hwnd, SW_RESTORE);
  setWindowPos(hwnd, 0, r.left, r.top, r.width(), r.height(), SWP_NOZORDER | SWP_NOACTIVATE);
  switch (placement.showCmd) {
    case SW_HIDE:
      showWindow(hwnd, SW_HIDE);
      break;
    case SW_SHOWMAXIMIZED:
      showWindow(hwnd, SW_MAXIMIZE);
      break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
      showWindow(hwnd, SW_MINIMIZE);
      break;
    default:
      // A normal placement does not show a hidden window by itself.
      if (visible) showWindow(hwnd, SW_SHOWNA);
      break;
  }
  return true;
}

HWND getParent(HWND hwnd) {
  auto info = getDesktopWindowInfo(hwnd);
  if (!info) return 0;
  if (info->parent) return info->parent;
  // A child-style window directly on the desktop has the desktop as parent;
  // a popup answers its owner.
  if (info->style & WS_CHILD) return kDesktopWindow;
  if (info->style & WS_POPUP) return info->owner;
  return 0;
}

HWND setParent(HWND hwnd, HWND parent) { return ws() ? ws()->setParent(hwnd, parent) : 0; }

HWND getWindowOwner(HWND hwnd) {
  auto info = getDesktopWindowInfo(hwnd);
  return info ? info->owner : 0;
}

bool setWindowOwner(HWND hwnd, HWND owner) { return ws() && ws()->setOwner(hwnd, owner); }

std::vector<HWND> getChildWindows(HWND hwnd) { return ws() ? ws()->children(hwnd) : std::vector<HWND>{}; }

std::vector<HWND> getTopLevelWindows() { return ws() ? ws()->backend().topLevelWindows() : std::vector<HWND>{}; }

bool setForegroundWindow(HWND hwnd) { return ws() && ws()->setForeground(hwnd); }
bool desktopOnScreen() { return ws() && ws()->backend().onScreen(); }

uint32_t getWindowStyle(HWND hwnd) {
  auto info = getDesktopWindowInfo(hwnd);
  return info ? info->style : 0;
}

uint32_t getWindowExStyle(HWND hwnd) {
  auto info = getDesktopWindowInfo(hwnd);
  return info ? info->exStyle : 0;
}

bool setWindowStyle(HWND hwnd, uint32_t style) { return ws() && ws()->setStyle(hwnd, style, false); }

bool setWindowExStyle(HWND hwnd, uint32_t exStyle) { return ws() && ws()->setStyle(hwnd, exStyle, true); }

std::string getWindowText(HWND hwnd) {
  auto info = getDesktopWindowInfo(hwnd);
  return info ? info->title : std::string{};
}

std::u16string getWindowTextW(HWND hwnd) { return sys::utf8ToUtf16(getWindowText(hwnd)); }

bool setWindowText(HWND hwnd, std::string_view utf8) {
  if (!ws() || isForeignHandle(hwnd) || !ws()->isWindow(hwnd)) return false;
  std::string text(utf8);
  return ws()->sendMessage(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) != 0;
}

bool setWindowText(HWND hwnd, std::u16string_view utf16) { return setWindowText(hwnd, sys::utf16ToUtf8(utf16)); }

std::string getClassName(HWND hwnd) {
  auto info = getDesktopWindowInfo(hwnd);
  return info ? info->className : std::string{};
}

uint32_t getWindowProcessId(HWND hwnd) {
  auto info = getDesktopWindowInfo(hwnd);
  return info ? info->processId : 0;
}

std::optional<DesktopWindowInfo> getDesktopWindowInfo(HWND hwnd) {
  return ws() ? ws()->windowInfo(hwnd) : std::nullopt;
}

bool invalidateRect(HWND hwnd, const Rect* rect, bool erase) { return ws() && ws()->invalidate(hwnd, rect, erase); }

bool validateRect(HWND hwnd) { return ws() && ws()->validate(hwnd); }

bool updateWindow(HWND hwnd) { return ws() && ws()->updateWindow(hwnd); }

uint32_t setTimer(HWND hwnd, uint32_t id, uint32_t ms) { return ws() ? ws()->setTimer(hwnd, id, ms) : 0; }

bool killTimer(HWND hwnd, uint32_t id) { return ws() && ws()->killTimer(hwnd, id); }

HWND setFocus(HWND hwnd) { return ws() ? ws()->input().setFocus(hwnd) : 0; }

HWND getFocus() { return ws() ? ws()->input().focus() : 0; }

HWND setCapture(HWND hwnd) { return ws() ? ws()->input().setCapture(hwnd) : 0; }

bool releaseCapture() { return ws() && ws()->input().releaseCapture(); }

HWND getCapture() { return ws() ? ws()->input().capture() : 0; }

void setCursor(CursorShape shape) {
  if (ws()) ws()->backend().setCursorShape(shape);
}

Point getCursorPos() { return ws() ? ws()->backend().cursorPos() : Point{}; }

bool clipCursor(const Rect* r) {
  if (!ws()) return false;
  ws()->backend().clipCursor(r ? std::optional<Rect>(*r) : std::nullopt);
  return true;
}

std::optional<Rect> getClipCursor() { return ws() ? ws()->backend().cursorClip() : std::nullopt; }

std::vector<MonitorInfo> getMonitors() { return ws() ? ws()->backend().monitors() : std::vector<MonitorInfo>{}; }

Rect getDesktopBounds() {
  Rect all;
  for (const MonitorInfo& m : getMonitors()) all = all.unite(m.bounds);
  return all;
}

Size getPrimaryScreenSize() {
  for (const MonitorInfo& m : getMonitors()) {
    if (m.primary) return {m.bounds.width(), m.bounds.height()};
  }
  return {};
}

MonitorInfo monitorFromPoint(Point p, bool nearest) { return pickMonitor(getMonitors(), p, nearest); }

MonitorInfo pickMonitor(const std::vector<MonitorInfo>& monitors, Point p, bool nearest) {
  const MonitorInfo* best = nullptr;
  long long bestDistance = LLONG_MAX;
  for (const MonitorInfo& m : monitors) {
    long long d = distanceSquared(m.bounds, p);
    if (d < bestDistance) {
      bestDistance = d;
      best = &m;
    }
  }
  if (!best || (bestDistance > 0 && !nearest)) return {};
  return *best;
}

Point clampToWorkArea(Point p) {
  MonitorInfo m = monitorFromPoint(p, false);
  if (!m.bounds.isEmpty()) return p;
  m = monitorFromPoint(p, true);
  if (m.workArea.isEmpty()) return p;
  p.x = std::clamp(p.x, m.workArea.left, m.workArea.right - 1);
  return p;
}

UINT getDpiForWindow(HWND hwnd) { return ws() ? ws()->backend().dpiForWindow(hwnd) : 96; }

int installKeyHook(std::function<bool(UINT, UINT)> hook) {
  return ws() ? ws()->input().addKeyHook(std::move(hook)) : 0;
}

bool removeKeyHook(int id) { return ws() && ws()->input().removeKeyHook(id); }

std::optional<std::string> showSaveFileDialog(const SaveDialogRequest& request) {
  return ws() ? ws()->backend().saveFileDialog(request) : std::nullopt;
}

}  // namespace ui
