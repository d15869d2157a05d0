#pragma once
// The X11 desktop: a Backend on a real X display through XCB. This
// process's windows become X windows (top-level ones managed by the window
// manager, never override-redirect; children are X subwindows), presented
// from X11Surface shadows; the desktop queries read EWMH and ICCCM
// properties of every client on the display. Foreign windows are named by
// their X id with the top bit set, so no table of them is kept and a window
// that closed simply answers "nothing".
//
// A top-level window of ours is a utility window of its owner when it has
// one (WM_TRANSIENT_FOR), so the window manager keeps it just above the
// owner and iconifies it with it; it has no decorations and stays out of
// task bars and pagers. Z order changes go through _NET_RESTACK_WINDOW when
// a window manager runs, and a window is never placed below its owner.
//
// Popup menus are X11PopupMenu windows driven by the event thread while the
// caller waits; the Save-As dialog is zenity's. While a key hook is active,
// every key arrives through XInput 2 raw events on the root window, so the
// hooks also see keys typed into other clients' windows.
//
// A cursor clip set while a button is down becomes a pointer grab confined
// to the clip (the press's implicit grab, made explicit), ended by the last
// button coming up; without a button down the pointer is moved back into
// the clip whenever it leaves it over our windows. Changes of Xft.dpi in
// the root's resource database or of the screen configuration reach the
// sink as a new dots-per-inch value. Middle button and wheel are not
// passed on: no window of ours takes them.
//
// Threads: every method may be called from any thread. One event thread
// blocks in xcb_wait_for_event and turns input into InputSink calls; the
// destructor wakes it with a client message to a private unmapped window.
// mutex_ guards the window tables; each surface has its own lock; sinkMutex_
// is held only around InputSink calls and attach(), so uninstalling waits
// for a call in flight. No lock of ours is held while the sink runs except
// sinkMutex_, which no other method takes.
#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/ui/Backend.h"
#include "platform/ui/backends/X11Connection.h"
#include "platform/ui/backends/X11Keyboard.h"
#include "platform/ui/backends/X11PopupMenu.h"
#include "platform/ui/backends/X11Surface.h"

namespace ui {

struct X11Options {
  const char* display = nullptr;  // null: $DISPLAY
  bool useShm = true;             // false: present with core PutImage only
};

class X11Desktop : public Backend {
 public:
  // Null with a reason in error when the display cannot be used.
  static std::unique_ptr<X11Desktop> open(const X11Options& options, std::string* error);
  ~X11Desktop() override;

  // --- Backend ---
  void attach(InputSink* sink) override;
  bool onScreen() const override { return true; }
  void surfaceCreated(const SurfaceDesc& desc) override;
  void surfaceChanged(const SurfaceDesc& desc) override;
  void surfaceRestacked(HWND hwnd, HWND insertAfter) override;
  void surfaceDestroyed(HWND hwnd) override;
  std::shared_ptr<PixelMemory> allocatePixels(int stride, int rows) override;
  void present(HWND hwnd, const ImageView& image, const Rect& dirty) override;
  void setForeground(HWND hwnd) override;
  std::vector<HWND> topLevelWindows() override;
  std::optional<DesktopWindowInfo> windowInfo(HWND hwnd) override;
  std::vector<HWND> childWindows(HWND hwnd) override;
  std::vector<MonitorInfo> monitors() override;
  UINT dpiForWindow(HWND hwnd) override;
  Point cursorPos() override;
  void setCursorShape(CursorShape shape) override;
  void clipCursor(const std::optional<Rect>& rect) override;
  std::optional<Rect> cursorClip() override;
  UINT trackPopupMenu(HWND owner, const std::vector<MenuItemView>& items, Point screen) override;
  std::optional<std::string> saveFileDialog(const SaveDialogRequest& request) override;
  void setKeyHookActive(bool active) override;

  // The X window of one of this process's windows, 0 when unknown.
  xcb_window_t xWindowOf(HWND hwnd);
  // Whether the window's pixels travel through a shared segment.
  bool presentsShared(HWND hwnd);
  // Whether the server reads the window's pixels from its image's own
  // memory (no copy when it presents).
  bool presentsWindowMemory(HWND hwnd);
  // Returns once the server has carried out every request this desktop sent
  // before the call (presents included): one round trip.
  void sync();

 private:
  struct Native {
    HWND hwnd = 0;
    HWND parent = 0;
    xcb_window_t xid = 0;
    SurfaceDesc desc;
    std::shared_ptr<X11Surface> surface;
  };

  X11Desktop(std::unique_ptr<X11Connection> x, const X11Options& options);
  void eventLoop();
  void onEvent(xcb_generic_event_t* ev);
  // Hands an event of the open popup menu's window to it; false when it is not one.
  bool onMenuEvent(xcb_generic_event_t* ev);
  void onButton(xcb_window_t w, int16_t rootX, int16_t rootY, int16_t x, int16_t y, uint8_t button, bool down);
  void deliverMouse(xcb_window_t w, Point screen, Point local, MouseAction action);
  void deliverKey(xcb_keycode_t code, bool down);
  // Re-reads the desktop's dots per inch and tells the sink when it changed.
  void checkDpi();
  // The dots per inch of the monitor holding the window's centre, asked of
  // the server.
  UINT lookUpDpi(HWND hwnd);
  // Ends the confining pointer grab, if any.
  void releaseConfinement();

  // Top-level window properties, set before mapping and on every change.
  void applyTopLevelProperties(xcb_window_t xid, const SurfaceDesc& desc, bool mapped);
  void applyGeometryAndVisibility(Native& n, const SurfaceDesc& old, bool created);
  xcb_window_t xidOfLocked(HWND hwnd);
  HWND handleOf(xcb_window_t xid);
  std::vector<xcb_window_t> stackedClients();
  std::shared_ptr<X11Surface> surfaceOf(HWND hwnd);
  void forgetLocked(HWND hwnd);

  std::shared_ptr<X11Connection> x_;
  const X11Options options_;
  X11Keyboard keyboard_;
  xcb_gcontext_t gc_ = 0;
  xcb_window_t wakeWindow_ = 0;  // private, unmapped: the event thread's wake-up target
  // Private, input only, below every window: the pointer grab of a clip
  // rectangle confines the pointer to it.
  xcb_window_t confineWindow_ = 0;
  uint8_t xinputOpcode_ = 0;     // XInput 2's major opcode, 0 when the server lacks it
  std::atomic<bool> keyHookActive_{false};
  std::atomic<bool> shmRefused_{false};  // the server refused a segment for a window's image
  uint8_t randrEventBase_ = 0;   // RandR's first event code, 0 when the server lacks it
  UINT dpi_ = 96;                // the event thread's alone after the constructor
  std::thread eventThread_;

  std::mutex sinkMutex_;
  InputSink* sink_ = nullptr;  // guarded by sinkMutex_

  std::mutex mutex_;
  // Guarded by mutex_.
  std::map<HWND, Native> natives_;
  std::map<xcb_window_t, HWND> byXid_;
  std::optional<Rect> clip_;
  bool confined_ = false;  // the pointer is grabbed and held in clip_
  std::map<CursorShape, uint32_t> cursors_;
  CursorShape cursorShape_ = CursorShape::Arrow;
  std::shared_ptr<X11PopupMenu> menu_;  // the open popup menu, at most one

  // Answers of dpiForWindow, valid while the generation stands (raised when
  // a window appears, moves or goes and when the monitors or resources
  // change) and for a second at most.
  struct DpiEntry {
    uint64_t generation = 0;
    std::chrono::steady_clock::time_point at;
    UINT dpi = 96;
  };
  std::atomic<uint64_t> dpiGeneration_{0};
  std::mutex dpiMutex_;
  std::unordered_map<HWND, DpiEntry> dpiCache_;  // guarded by dpiMutex_
};

}  // namespace ui
