#pragma once
// One XCB connection to an X display with what the desktop backend needs
// from it besides windows: the interned atoms, the screen, the presenting
// format checks, and typed property reads that answer "nothing" (never an
// error) when a foreign window vanished between two requests.
//
// Threads: XCB is thread-safe, so every method may be called from any
// thread; the object holds no state that changes after open().
#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ui {

// Every atom the backend uses, interned once at open().
struct X11Atoms {
  xcb_atom_t WM_PROTOCOLS, WM_DELETE_WINDOW, WM_STATE, WM_CHANGE_STATE, UTF8_STRING;
  xcb_atom_t _NET_SUPPORTING_WM_CHECK, _NET_CLIENT_LIST, _NET_CLIENT_LIST_STACKING, _NET_ACTIVE_WINDOW;
  xcb_atom_t _NET_WM_NAME, _NET_WM_PID, _NET_WM_STATE, _NET_WM_STATE_HIDDEN, _NET_WM_STATE_ABOVE;
  xcb_atom_t _NET_WM_STATE_MAXIMIZED_VERT, _NET_WM_STATE_MAXIMIZED_HORZ, _NET_WM_STATE_SKIP_TASKBAR;
  xcb_atom_t _NET_WM_STATE_SKIP_PAGER, _NET_WM_WINDOW_TYPE, _NET_WM_WINDOW_TYPE_UTILITY;
  xcb_atom_t _NET_WM_WINDOW_TYPE_NORMAL, _NET_WM_USER_TIME, _NET_RESTACK_WINDOW, _NET_FRAME_EXTENTS;
  xcb_atom_t _NET_WORKAREA, _NET_CURRENT_DESKTOP, _GTK_FRAME_EXTENTS, _MOTIF_WM_HINTS;
  xcb_atom_t KESTROVA_WAKE;
};

// X coordinates are 16-bit.
inline int16_t clampCoord(int v) { return static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

// Left, right, top, bottom, as both _NET_FRAME_EXTENTS and _GTK_FRAME_EXTENTS keep them.
struct X11Extents {
  int left = 0, right = 0, top = 0, bottom = 0;
};

// Always owned by a shared pointer (the desktop's), so that memory the
// server has attached can keep the connection open until it is detached.
class X11Connection : public std::enable_shared_from_this<X11Connection> {
 public:
  // Opens the display (null: $DISPLAY). Null with a reason in error when
  // the display cannot be opened or its screen cannot show Cairo's RGB24
  // pixels as they are (a 24-bit TrueColor visual, 32 bits per pixel,
  // least significant byte first).
  static std::unique_ptr<X11Connection> open(const char* display, std::string* error);
  ~X11Connection();

  X11Connection(const X11Connection&) = delete;
  X11Connection& operator=(const X11Connection&) = delete;

  xcb_connection_t* get() const { return conn_; }
  // The display's name as opened (":0").
  const std::string& displayName() const { return displayName_; }
  xcb_screen_t* screen() const { return screen_; }
  xcb_window_t root() const { return screen_->root; }
  const X11Atoms& atoms() const { return atoms_; }
  // The largest request the server takes, in bytes.
  uint32_t maxRequestBytes() const { return maxRequestBytes_; }
  bool broken() const { return xcb_connection_has_error(conn_) != 0; }

  // Property reads; nullopt/empty when the window or the property is gone
  // or has another format.
  std::vector<uint32_t> cardinals(xcb_window_t w, xcb_atom_t property, xcb_atom_t type, uint32_t maxItems = 1024);
  std::optional<uint32_t> cardinal(xcb_window_t w, xcb_atom_t property, xcb_atom_t type);
  std::optional<std::string> bytes(xcb_window_t w, xcb_atom_t property, xcb_atom_t type);
  // A window's title: _NET_WM_NAME (UTF-8), else WM_NAME (Latin-1, turned into UTF-8).
  std::string title(xcb_window_t w);
  std::optional<X11Extents> extents(xcb_window_t w, xcb_atom_t property);

  void setCardinals(xcb_window_t w, xcb_atom_t property, xcb_atom_t type, const std::vector<uint32_t>& values);
  void setBytes(xcb_window_t w, xcb_atom_t property, xcb_atom_t type, const std::string& value);
  // An EWMH client message to the root window, as a pager would send it.
  void sendRootMessage(xcb_window_t w, xcb_atom_t type, uint32_t d0, uint32_t d1 = 0, uint32_t d2 = 0, uint32_t d3 = 0);
  // Whether an EWMH window manager runs (its check window points at itself).
  bool hasWindowManager();

 private:
  X11Connection(xcb_connection_t* conn, xcb_screen_t* screen) : conn_(conn), screen_(screen) {}
  bool internAtoms();

  xcb_connection_t* conn_;
  xcb_screen_t* screen_;
  X11Atoms atoms_{};
  uint32_t maxRequestBytes_ = 0;
  std::string displayName_;
};

}  // namespace ui
