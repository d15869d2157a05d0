#pragma once
// The desktop a window system runs on. The window system keeps this
// process's windows (tree, geometry, queues, backing images); a Backend
// mirrors them as native surfaces, shows what they present, owns the Z order
// among all top-level windows of the desktop (this process's and foreign
// ones), answers every desktop query the browser search needs, and feeds
// input back through an InputSink.
//
// Threads: every method may be called from any thread, never with a window
// system lock held (allocatePixels and present excepted: they come with the
// window's image lock), so a backend may call its InputSink from its own
// methods only when it holds none of its own locks either. Handles with the top bit
// set belong to the backend (foreign windows); the others are this process's
// windows, named by the window system.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/PixelMemory.h"
#include "platform/ui/Types.h"

namespace ui {

constexpr HWND kForeignHandleBit = 0x80000000u;
constexpr bool isForeignHandle(HWND h) { return (h & kForeignHandleBit) != 0; }

enum class CursorShape { Arrow, SizeAll, SizeWE, SizeNS, SizeNWSE, SizeNESW, Hand, Cross };

// 32-bit pixels as Cairo's RGB24 keeps them: 0x00RRGGBB in native order.
struct ImageView {
  const uint8_t* data = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;
  // The memory under data when it came from allocatePixels: a backend may
  // keep it and show it from then on instead of copying what is presented.
  std::shared_ptr<PixelMemory> memory;
};

// One of this process's windows as the backend sees it.
struct SurfaceDesc {
  HWND hwnd = 0;
  HWND parent = 0;  // 0: a top-level window of the desktop
  HWND owner = 0;   // top-level windows only; may be a foreign window
  Rect rect;        // in the parent's client coordinates; screen coordinates for top-level windows
  uint32_t style = 0;
  uint32_t exStyle = 0;
  std::string title;  // UTF-8
  std::string className;
};

// What the desktop knows about any window, this process's or foreign.
struct DesktopWindowInfo {
  HWND hwnd = 0;
  HWND parent = 0;
  HWND owner = 0;
  uint32_t processId = 0;
  bool visible = false;  // its own visible bit and those of its ancestors
  bool minimized = false;
  bool maximized = false;
  std::string title;  // UTF-8
  std::string className;
  uint32_t style = 0;
  uint32_t exStyle = 0;
  Rect windowRect;   // screen
  Rect frameBounds;  // screen: the visible frame without invisible resize borders or shadows
  Rect clientRect;   // screen
};

struct MonitorInfo {
  Rect bounds;
  Rect workArea;
  bool primary = false;
  UINT dpi = 96;
};

// The monitor holding p; else, when nearest, the closest one; else an empty one.
MonitorInfo pickMonitor(const std::vector<MonitorInfo>& monitors, Point p, bool nearest);

struct MenuItemView {
  UINT id = 0;
  std::string text;
  UINT flags = 0;  // MF_* bits
};

struct SaveDialogRequest {
  HWND owner = 0;
  std::string title;
  std::string initialPath;
  std::string filter;  // "Video (*.mp4)|*.mp4|All files|*"
  std::string defaultExtension;
};

enum class MouseAction { Move, LeftDown, LeftUp, RightDown, RightUp };

// Implemented by the window system; the backend calls it with input.
class InputSink {
 public:
  virtual ~InputSink() = default;
  // topLevel: this process's top-level window under the point (0 when the
  // point is over a foreign window or the bare desktop).
  virtual void mouseInput(HWND topLevel, Point screen, MouseAction action) = 0;
  // Runs the key hooks on the calling thread, then queues WM_KEYDOWN or
  // WM_KEYUP for the focus window unless a hook swallowed the key.
  virtual void keyInput(UINT virtualKey, bool down) = 0;
  // The desktop's dots per inch changed (another resource setting, another
  // screen configuration): every top-level window of this process hears it.
  virtual void dpiChanged(UINT dpi) = 0;
};

class Backend {
 public:
  virtual ~Backend() = default;

  // Called by WindowSystem::install (sink set) and uninstall (nullptr).
  virtual void attach(InputSink* sink) = 0;

  // This process's windows.
  virtual void surfaceCreated(const SurfaceDesc& desc) = 0;
  virtual void surfaceChanged(const SurfaceDesc& desc) = 0;
  // Places the surface right below insertAfter among its siblings (or the
  // desktop's top-level windows). HWND_TOP/HWND_BOTTOM/HWND_TOPMOST/
  // HWND_NOTOPMOST have their setWindowPos meaning.
  virtual void surfaceRestacked(HWND hwnd, HWND insertAfter) = 0;
  virtual void surfaceDestroyed(HWND hwnd) = 0;
  // Memory for a window's image (stride bytes per row); null when there is
  // not enough. Memory the desktop shows without a copy where it can.
  virtual std::shared_ptr<PixelMemory> allocatePixels(int stride, int rows) {
    return PixelMemory::allocate(stride, rows);
  }
  // Shows the window's client pixels; dirty is in client coordinates. A
  // backend that keeps image.memory may show what is drawn into it later
  // before the next present (an X11 Expose, a headless capture).
  virtual void present(HWND hwnd, const ImageView& image, const Rect& dirty) = 0;
  virtual void setForeground(HWND hwnd) = 0;

  // Desktop queries.
  virtual std::vector<HWND> topLevelWindows() = 0;  // Z order, topmost first
  virtual std::optional<DesktopWindowInfo> windowInfo(HWND hwnd) = 0;
  virtual std::vector<HWND> childWindows(HWND hwnd) = 0;  // direct children, Z order
  virtual std::vector<MonitorInfo> monitors() = 0;
  virtual UINT dpiForWindow(HWND hwnd) = 0;

  // Pointer.
  virtual Point cursorPos() = 0;
  virtual void setCursorShape(CursorShape shape) = 0;
  virtual void clipCursor(const std::optional<Rect>& rect) = 0;
  virtual std::optional<Rect> cursorClip() = 0;

  // Whether a person can see what this desktop shows (false: in memory only).
  virtual bool onScreen() const = 0;

  // Services. trackPopupMenu answers the chosen id, 0 when dismissed.
  virtual UINT trackPopupMenu(HWND owner, const std::vector<MenuItemView>& items, Point screen) = 0;
  virtual std::optional<std::string> saveFileDialog(const SaveDialogRequest& request) = 0;
  // Whether global key events must reach keyInput even without focus
  // (X11: XInput 2 raw key events on the root window, which leave the key
  // to the focused application).
  virtual void setKeyHookActive(bool active) = 0;
};

}  // namespace ui
