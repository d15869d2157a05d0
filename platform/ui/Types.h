#pragma once
// Basic value types of the window layer, shaped like their Windows
// counterparts so that message tables and handlers read the same.
#include <cstdint>

namespace ui {

// A window handle. 0 means "no window". Handles of this process's windows
// have the top bit clear; handles with the top bit set name foreign windows
// that the desktop backend reports (another process's browser window).
using HWND = uint32_t;
using UINT = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
// A font handle from createFont(); 0 means "no font" (the system font).
using HFONT = uintptr_t;
// A brush is a value: kBrushTag | COLORREF, so a brush never leaks.
using HBRUSH = uintptr_t;
// Colours are packed as Windows packs them: 0x00BBGGRR.
using COLORREF = uint32_t;

constexpr COLORREF RGB(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}
constexpr uint8_t GetRValue(COLORREF c) { return static_cast<uint8_t>(c & 0xFF); }
constexpr uint8_t GetGValue(COLORREF c) { return static_cast<uint8_t>((c >> 8) & 0xFF); }
constexpr uint8_t GetBValue(COLORREF c) { return static_cast<uint8_t>((c >> 16) & 0xFF); }

constexpr uintptr_t kBrushTag = uintptr_t{1} << 24;
constexpr HBRUSH createSolidBrush(COLORREF c) { return kBrushTag | (c & 0xFFFFFF); }
constexpr bool isBrush(HBRUSH b) { return (b & ~uintptr_t{0xFFFFFF}) == kBrushTag; }
constexpr COLORREF brushColor(HBRUSH b) { return static_cast<COLORREF>(b & 0xFFFFFF); }

struct Point {
  int x = 0;
  int y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  int cx = 0;
  int cy = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool isEmpty() const { return right <= left || bottom <= top; }
  bool contains(Point p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  Rect offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
  Rect intersect(const Rect& o) const;
  // The smallest rectangle holding both; an empty side is ignored.
  Rect unite(const Rect& o) const;
  static Rect fromSize(int x, int y, int cx, int cy) { return {x, y, x + cx, y + cy}; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

inline Rect Rect::intersect(const Rect& o) const {
  Rect r{left > o.left ? left : o.left, top > o.top ? top : o.top, right < o.right ? right : o.right,
         bottom < o.bottom ? bottom : o.bottom};
  if (r.isEmpty()) return {};
  return r;
}

inline Rect Rect::unite(const Rect& o) const {
  if (isEmpty()) return o;
  if (o.isEmpty()) return *this;
  return {left < o.left ? left : o.left, top < o.top ? top : o.top, right > o.right ? right : o.right,
          bottom > o.bottom ? bottom : o.bottom};
}

}  // namespace ui
