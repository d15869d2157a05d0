#pragma once
// The window calls, as free functions over the installed WindowSystem. They
// work on this process's windows and, where it makes sense (rectangles,
// titles, styles, Z order, owner), on foreign windows that the desktop
// reports. Without an installed window system they fail (0, false, empty).
//
// Threads: any thread may call them. Calls that change a window run on the
// window's own thread (the caller waits, and keeps handling messages sent to
// its own windows while it waits).
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Backend.h"
#include "platform/ui/Messages.h"
#include "platform/ui/Types.h"

namespace ui {

// The desktop window: a parent of 0 or this handle makes a top-level window.
constexpr HWND kDesktopWindow = 0x0000FFFF;
HWND getDesktopWindow();

// Messages. sendMessage runs the handler on the window's thread and waits;
// postMessage queues; postTask queues a closure for the window's thread that
// is dropped when the window is gone first.
LRESULT sendMessage(HWND hwnd, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
bool postMessage(HWND hwnd, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
bool postTask(HWND hwnd, std::function<void()> task);
// Runs task on the window's thread and waits for it: directly when that is
// the calling thread; otherwise the caller keeps handling messages sent to
// its own windows while it waits, as in sendMessage. False when the window
// is gone (before the task reached its thread or by the time it got there)
// and the task did not run. An exception from the task does not cross the
// thread: it is reported and swallowed there, and the call still answers true.
bool sendTask(HWND hwnd, std::function<void()> task);

// The message loop of the calling thread: runs until postQuitMessage on
// this thread, answering its code.
int runMessageLoop();
void postQuitMessage(int code);
// Handles this thread's messages until done() holds or the time runs out;
// answers done(). For tests and modal waits.
bool pumpMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
// Handles whatever is ready now (sent, posted, due timers, paints), then returns.
void pumpPendingMessages();

// Life.
bool destroyWindow(HWND hwnd);
bool isWindow(HWND hwnd);  // this process's or a foreign window

// Visibility and geometry.
bool isWindowVisible(HWND hwnd);
// Visible and not wholly under a visible sibling above it (or above one of
// its ancestors) among this process's windows: whether drawing into it can
// show. Cheap enough to ask for every video picture.
bool isWindowExposed(HWND hwnd);
bool isIconic(HWND hwnd);
bool isZoomed(HWND hwnd);
// Answers whether the window was visible before.
bool showWindow(HWND hwnd, int cmd);
bool setWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
bool moveWindow(HWND hwnd, int x, int y, int cx, int cy, bool repaint = true);
Rect getWindowRect(HWND hwnd);  // screen
Rect getClientRect(HWND hwnd);  // client: (0, 0, width, height)
// The client rectangle in screen coordinates (foreign windows: their client area).
Rect getClientRectScreen(HWND hwnd);
Point clientToScreen(HWND hwnd, Point p);
Point screenToClient(HWND hwnd, Point p);
// The visible frame without invisible borders and shadows (screen).
bool getExtendedFrameBounds(HWND hwnd, Rect& bounds);

struct WindowPlacement {
  int showCmd = SW_SHOWNORMAL;
  Rect normalPosition;  // the parent's client coordinates (screen for top-level windows)
};
bool getWindowPlacement(HWND hwnd, WindowPlacement& placement);
bool setWindowPlacement(HWND hwnd, const WindowPlacement& placement);

// Tree.
HWND getParent(HWND hwnd);
// Answers the previous parent, 0 on failure.
HWND setParent(HWND hwnd, HWND parent);
HWND getWindowOwner(HWND hwnd);
bool setWindowOwner(HWND hwnd, HWND owner);
std::vector<HWND> getChildWindows(HWND hwnd);  // direct children, Z order top first
// Top-level windows of every process in Z order, topmost first.
std::vector<HWND> getTopLevelWindows();
bool setForegroundWindow(HWND hwnd);
// Whether the desktop is one a person sees (false: none installed, or in memory).
bool desktopOnScreen();

// Properties.
uint32_t getWindowStyle(HWND hwnd);
uint32_t getWindowExStyle(HWND hwnd);
bool setWindowStyle(HWND hwnd, uint32_t style);
bool setWindowExStyle(HWND hwnd, uint32_t exStyle);
std::string getWindowText(HWND hwnd);
std::u16string getWindowTextW(HWND hwnd);
bool setWindowText(HWND hwnd, std::string_view utf8);
bool setWindowText(HWND hwnd, std::u16string_view utf16);
std::string getClassName(HWND hwnd);
uint32_t getWindowProcessId(HWND hwnd);
// Everything the desktop knows about a window in one read.
std::optional<DesktopWindowInfo> getDesktopWindowInfo(HWND hwnd);

// Painting.
bool invalidateRect(HWND hwnd, const Rect* rect = nullptr, bool erase = true);
bool validateRect(HWND hwnd);
// Paints now when anything is invalid.
bool updateWindow(HWND hwnd);

// Timers post WM_TIMER (wParam = id) at about their interval. id must not be 0.
uint32_t setTimer(HWND hwnd, uint32_t id, uint32_t ms);
bool killTimer(HWND hwnd, uint32_t id);

// Focus and mouse capture. A pressed button captures the mouse for the
// window it went down on until all buttons are up.
HWND setFocus(HWND hwnd);
HWND getFocus();
HWND setCapture(HWND hwnd);
bool releaseCapture();
HWND getCapture();

// Cursor.
void setCursor(CursorShape shape);
Point getCursorPos();
// Confines the cursor to r (screen); null releases it.
bool clipCursor(const Rect* r);
std::optional<Rect> getClipCursor();

// Screens.
std::vector<MonitorInfo> getMonitors();
// The bounding box of every monitor; empty when there is no desktop.
Rect getDesktopBounds();
Size getPrimaryScreenSize();
// The monitor holding p, else (nearest) the closest one.
MonitorInfo monitorFromPoint(Point p, bool nearest = true);
// A menu position: a point on a monitor keeps its x; otherwise x is clamped
// into the work area of the nearest monitor. y is unchanged.
Point clampToWorkArea(Point p);
UINT getDpiForWindow(HWND hwnd);

// Global key hook: runs for every key event of the desktop on the thread that
// delivers input, before the focus window sees it; answering true swallows the
// key. Answers an id for removeKeyHook, 0 on failure.
int installKeyHook(std::function<bool(UINT msg, UINT virtualKey)> hook);
bool removeKeyHook(int id);

// The Save-As dialog. An empty answer means cancelled.
std::optional<std::string> showSaveFileDialog(const SaveDialogRequest& request);

}  // namespace ui
