#pragma once
// A device context: a Cairo context on a window's backing image or an
// off-screen buffer, with the GDI state the window classes use (text colour,
// background mode, selected font) kept on a save/restore stack together with
// Cairo's own state. It does not own the surface it draws on.
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/ui/Types.h"

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

namespace ui {

// drawText formats.
constexpr UINT DT_LEFT = 0x0000;
constexpr UINT DT_CENTER = 0x0001;
constexpr UINT DT_RIGHT = 0x0002;
constexpr UINT DT_VCENTER = 0x0004;
constexpr UINT DT_BOTTOM = 0x0008;
constexpr UINT DT_WORDBREAK = 0x0010;
constexpr UINT DT_SINGLELINE = 0x0020;
constexpr UINT DT_NOPREFIX = 0x0800;
constexpr UINT DT_END_ELLIPSIS = 0x8000;

struct PixelAccess {
  uint8_t* data = nullptr;  // 32-bit pixels, 0x00RRGGBB
  int width = 0;
  int height = 0;
  int stride = 0;
};

class DeviceContext {
 public:
  explicit DeviceContext(cairo_surface_t* target, UINT dpi = 96);
  ~DeviceContext();
  DeviceContext(const DeviceContext&) = delete;
  DeviceContext& operator=(const DeviceContext&) = delete;

  cairo_t* cairo() const { return cr_; }
  cairo_surface_t* surface() const { return surface_; }
  Size size() const;
  UINT dpi() const { return dpi_; }

  // Saves Cairo's state and the GDI state; answers the new depth.
  int save();
  // Restores to the state saved at `level` (-1: the last one).
  bool restore(int level = -1);

  COLORREF setTextColor(COLORREF color);
  COLORREF textColor() const { return state_.textColor; }
  COLORREF setBkColor(COLORREF color);
  int setBkMode(int mode);
  int bkMode() const { return state_.bkMode; }
  HFONT selectFont(HFONT font);
  HFONT font() const { return state_.font; }

  // Narrows drawing to r (intersected with the current clip).
  void clipTo(const Rect& r);

  void fillRect(const Rect& r, COLORREF color);
  void fillRect(const Rect& r, HBRUSH brush);
  void frameRect(const Rect& r, COLORREF color, int width = 1);
  void polyline(const std::vector<Point>& points, COLORREF color, double width, bool closed);

  Size measureText(std::string_view utf8) const;
  // Draws text in the selected font and text colour inside r; with OPAQUE
  // background mode the text's box is filled with the background colour first.
  void drawText(std::string_view utf8, const Rect& r, UINT format);
  void textOut(int x, int y, std::string_view utf8);

  // Copies a rectangle of another surface to (x, y).
  void blit(cairo_surface_t* source, const Rect& sourceRect, int x, int y);

  // Raw pixels for a writer such as a video renderer; call markDirty() after
  // writing so Cairo sees the change.
  PixelAccess pixels();
  void markDirty();

 private:
  struct GdiState {
    COLORREF textColor = RGB(0, 0, 0);
    COLORREF bkColor = RGB(255, 255, 255);
    int bkMode = 2;  // OPAQUE
    HFONT font = 0;
  };

  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  UINT dpi_ = 96;
  GdiState state_;
  std::vector<GdiState> saved_;
};

}  // namespace ui
