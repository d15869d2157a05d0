#include "platform/ui/backends/X11Keyboard.h"

#include <cstdlib>

namespace ui {

namespace {

struct SymbolKey {
  uint32_t keysym;
  UINT vk;
};

// Key symbols (X11/keysymdef.h values) without a run-based rule below.
constexpr SymbolKey kSymbols[] = {
    {0xFF08, 0x08},  // BackSpace
    {0xFF09, 0x09},  // Tab
    {0xFF0D, 0x0D},  // Return
    {0xFF8D, 0x0D},  // KP_Enter
    {0xFF13, 0x13},  // Pause
    {0xFF1B, 0x1B},  // Escape
    {0x0020, 0x20},  // space
    {0xFF55, 0x21},  // Prior (Page Up)
    {0xFF56, 0x22},  // Next (Page Down)
    {0xFF57, 0x23},  // End
    {0xFF50, 0x24},  // Home
    {0xFF51, 0x25},  // Left
    {0xFF52, 0x26},  // Up
    {0xFF53, 0x27},  // Right
    {0xFF54, 0x28},  // Down
    {0xFF63, 0x2D},  // Insert
    {0xFFFF, 0x2E},  // Delete
    {0xFFE1, 0x10},  // Shift_L
    {0xFFE2, 0x10},  // Shift_R
    {0xFFE3, 0x11},  // Control_L
    {0xFFE4, 0x11},  // Control_R
    {0xFFE9, 0x12},  // Alt_L
    {0xFFEA, 0x12},  // Alt_R
    {0xFFAA, 0x6A},  // KP_Multiply
    {0xFFAB, 0x6B},  // KP_Add
    {0xFFAD, 0x6D},  // KP_Subtract
    {0xFFAE, 0x6E},  // KP_Decimal
    {0xFFAF, 0x6F},  // KP_Divide
};

}  // namespace

X11Keyboard::X11Keyboard(xcb_connection_t* conn) : conn_(conn) { reload(); }

void X11Keyboard::reload() {
  const xcb_setup_t* setup = xcb_get_setup(conn_);
  uint8_t count = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
  auto cookie = xcb_get_keyboard_mapping(conn_, setup->min_keycode, count);
  xcb_get_keyboard_mapping_reply_t* r = xcb_get_keyboard_mapping_reply(conn_, cookie, nullptr);
  std::vector<uint32_t> symbols;
  if (r) {
    const xcb_keysym_t* all = xcb_get_keyboard_mapping_keysyms(r);
    int perCode = r->keysyms_per_keycode;
    int codes = perCode ? xcb_get_keyboard_mapping_keysyms_length(r) / perCode : 0;
    for (int i = 0; i < codes; ++i) symbols.push_back(all[i * perCode]);
    free(r);
  }
  std::lock_guard lock(mutex_);
  minCode_ = setup->min_keycode;
  symbols_ = std::move(symbols);
}

UINT X11Keyboard::virtualKeyOfSymbol(uint32_t s) {
  if (s >= 'a' && s <= 'z') return s - 'a' + 'A';
  if (s >= 'A' && s <= 'Z') return s;
  if (s >= '0' && s <= '9') return s;
  if (s >= 0xFFBE && s <= 0xFFC9) return 0x70 + (s - 0xFFBE);  // F1..F12
  if (s >= 0xFFB0 && s <= 0xFFB9) return 0x60 + (s - 0xFFB0);  // KP_0..KP_9
  for (const SymbolKey& k : kSymbols) {
    if (k.keysym == s) return k.vk;
  }
  return 0;
}

UINT X11Keyboard::virtualKey(xcb_keycode_t code) {
  uint32_t symbol = 0;
  {
    std::lock_guard lock(mutex_);
    size_t i = static_cast<size_t>(code) - minCode_;
    if (code < minCode_ || i >= symbols_.size()) return 0;
    symbol = symbols_[i];
  }
  return virtualKeyOfSymbol(symbol);
}

xcb_keycode_t X11Keyboard::keyCode(uint32_t keysym) {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < symbols_.size(); ++i) {
    if (symbols_[i] == keysym) return static_cast<xcb_keycode_t>(minCode_ + i);
  }
  return 0;
}

}  // namespace ui
