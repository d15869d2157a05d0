#pragma once
// Turns X key codes into the virtual-key codes of WM_KEYDOWN/WM_KEYUP: the
// server's key map gives each code its unshifted key symbol, and a table
// maps the symbols the window layer's users know to their virtual keys.
//
// Threads: any; mutex_ guards the key map, which reload() refreshes when
// the server announces a new keyboard mapping.
#include <xcb/xcb.h>

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/ui/Types.h"

namespace ui {

class X11Keyboard {
 public:
  explicit X11Keyboard(xcb_connection_t* conn);
  void reload();
  // 0 when the key has no virtual key.
  UINT virtualKey(xcb_keycode_t code);
  // The key code that produces a key symbol, 0 when none does (tests inject keys with it).
  xcb_keycode_t keyCode(uint32_t keysym);
  // The virtual key of a key symbol, 0 when it has none.
  static UINT virtualKeyOfSymbol(uint32_t keysym);

 private:
  xcb_connection_t* const conn_;
  std::mutex mutex_;
  // Guarded by mutex_: the first symbol of each code from minCode_ on.
  xcb_keycode_t minCode_ = 0;
  std::vector<uint32_t> symbols_;
};

}  // namespace ui
