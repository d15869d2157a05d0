#include "platform/ui/DeviceContext.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include "platform/ui/FontRegistry.h"

namespace ui {

namespace {

void setColor(cairo_t* cr, COLORREF c) {
  cairo_set_source_rgb(cr, GetRValue(c) / 255.0, GetGValue(c) / 255.0, GetBValue(c) / 255.0);
}

// A single-use layout of text in a font, with underline and strike-out.
PangoLayout* makeLayout(cairo_t* cr, HFONT font, std::string_view text) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* desc = FontRegistry::instance().newPangoDescription(font);
  pango_layout_set_font_description(layout, desc);
  pango_font_description_free(desc);
  FontSpec spec;
  std::string family;
  FontRegistry::instance().describe(font, spec, family);
  if (spec.underline || spec.strikeOut) {
    PangoAttrList* attrs = pango_attr_list_new();
    if (spec.underline) pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (spec.strikeOut) pango_attr_list_insert(attrs, pango_attr_strikethrough_new(TRUE));
    pango_layout_set_attributes(layout, attrs);
    pango_attr_list_unref(attrs);
  }
  pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
  return layout;
}

Size layoutSize(PangoLayout* layout) {
  int w = 0;
  int h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  return {w, h};
}

}  // namespace

Size measureText(HFONT font, std::string_view utf8) {
  cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  cairo_t* cr = cairo_create(scratch);
  PangoLayout* layout = makeLayout(cr, font, utf8);
  Size s = layoutSize(layout);
  g_object_unref(layout);
  cairo_destroy(cr);
  cairo_surface_destroy(scratch);
  return s;
}

DeviceContext::DeviceContext(cairo_surface_t* target, UINT dpi) : surface_(target), dpi_(dpi) {
  cr_ = cairo_create(target);
}

DeviceContext::~DeviceContext() {
  cairo_destroy(cr_);
  cairo_surface_flush(surface_);
}

Size DeviceContext::size() const {
  if (cairo_surface_get_type(surface_) != CAIRO_SURFACE_TYPE_IMAGE) return {};
  return {cairo_image_surface_get_width(surface_), cairo_image_surface_get_height(surface_)};
}

int DeviceContext::save() {
  cairo_save(cr_);
  saved_.push_back(state_);
  return static_cast<int>(saved_.size());
}

bool DeviceContext::restore(int level) {
  if (saved_.empty()) return false;
  size_t target = level < 0 ? saved_.size() - 1 : static_cast<size_t>(level) - 1;
  if (level == 0 || target >= saved_.size()) return false;
  while (saved_.size() > target) {
    state_ = saved_.back();
    saved_.pop_back();
    cairo_restore(cr_);
  }
  return true;
}

COLORREF DeviceContext::setTextColor(COLORREF color) {
  COLORREF old = state_.textColor;
  state_.textColor = color;
  return old;
}

COLORREF DeviceContext::setBkColor(COLORREF color) {
  COLORREF old = state_.bkColor;
  state_.bkColor = color;
  return old;
}

int DeviceContext::setBkMode(int mode) {
  int old = state_.bkMode;
  state_.bkMode = mode;
  return old;
}

HFONT DeviceContext::selectFont(HFONT font) {
  HFONT old = state_.font;
  state_.font = font;
  return old;
}

void DeviceContext::clipTo(const Rect& r) {
  cairo_rectangle(cr_, r.left, r.top, r.width(), r.height());
  cairo_clip(cr_);
}

void DeviceContext::fillRect(const Rect& r, COLORREF color) {
  if (r.isEmpty()) return;
  cairo_save(cr_);
  setColor(cr_, color);
  cairo_rectangle(cr_, r.left, r.top, r.width(), r.height());
  cairo_fill(cr_);
  cairo_restore(cr_);
}

void DeviceContext::fillRect(const Rect& r, HBRUSH brush) {
  if (!isBrush(brush)) return;
  fillRect(r, brushColor(brush));
}

void DeviceContext::frameRect(const Rect& r, COLORREF color, int width) {
  if (r.isEmpty() || width <= 0) return;
  // Four filled bands keep the frame on whole pixels inside r.
  fillRect({r.left, r.top, r.right, r.top + width}, color);
  fillRect({r.left, r.bottom - width, r.right, r.bottom}, color);
  fillRect({r.left, r.top + width, r.left + width, r.bottom - width}, color);
  fillRect({r.right - width, r.top + width, r.right, r.bottom - width}, color);
}

void DeviceContext::polyline(const std::vector<Point>& points, COLORREF color, double width, bool closed) {
  if (points.size() < 2 || width <= 0) return;
  cairo_save(cr_);
  setColor(cr_, color);
  cairo_set_line_width(cr_, width);
  cairo_set_line_cap(cr_, CAIRO_LINE_CAP_SQUARE);
  cairo_set_line_join(cr_, CAIRO_LINE_JOIN_MITER);
  // Odd widths centre on pixel middles so a 1-pixel line covers whole pixels.
  double shift = (static_cast<int>(width) % 2 == 1) ? 0.5 : 0.0;
  cairo_move_to(cr_, points[0].x + shift, points[0].y + shift);
  for (size_t i = 1; i < points.size(); ++i) cairo_line_to(cr_, points[i].x + shift, points[i].y + shift);
  if (closed) cairo_close_path(cr_);
  cairo_stroke(cr_);
  cairo_restore(cr_);
}

Size DeviceContext::measureText(std::string_view utf8) const {
  PangoLayout* layout = makeLayout(cr_, state_.font, utf8);
  Size s = layoutSize(layout);
  g_object_unref(layout);
  return s;
}

void DeviceContext::drawText(std::string_view utf8, const Rect& r, UINT format) {
  if (r.isEmpty()) return;
  PangoLayout* layout = makeLayout(cr_, state_.font, utf8);
  if (format & DT_SINGLELINE) {
    pango_layout_set_single_paragraph_mode(layout, TRUE);
  } else if (format & DT_WORDBREAK) {
    pango_layout_set_width(layout, r.width() * PANGO_SCALE);
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  }
  if (format & DT_END_ELLIPSIS) {
    pango_layout_set_width(layout, r.width() * PANGO_SCALE);
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
  }
  Size s = layoutSize(layout);
  int x = r.left;
  if (format & DT_CENTER) x = r.left + (r.width() - s.cx) / 2;
  else if (format & DT_RIGHT) x = r.right - s.cx;
  int y = r.top;
  if ((format & DT_VCENTER) && (format & DT_SINGLELINE)) y = r.top + (r.height() - s.cy) / 2;
  else if ((format & DT_BOTTOM) && (format & DT_SINGLELINE)) y = r.bottom - s.cy;

  cairo_save(cr_);
  cairo_rectangle(cr_, r.left, r.top, r.width(), r.height());
  cairo_clip(cr_);
  if (state_.bkMode == 2) fillRect(Rect::fromSize(x, y, s.cx, s.cy), state_.bkColor);
  setColor(cr_, state_.textColor);
  cairo_move_to(cr_, x, y);
  pango_cairo_show_layout(cr_, layout);
  cairo_restore(cr_);
  g_object_unref(layout);
}

void DeviceContext::textOut(int x, int y, std::string_view utf8) {
  Size s = measureText(utf8);
  drawText(utf8, Rect::fromSize(x, y, s.cx + 1, s.cy + 1), DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
}

void DeviceContext::blit(cairo_surface_t* source, const Rect& sourceRect, int x, int y) {
  if (!source || sourceRect.isEmpty()) return;
  cairo_save(cr_);
  cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr_, source, x - sourceRect.left, y - sourceRect.top);
  cairo_rectangle(cr_, x, y, sourceRect.width(), sourceRect.height());
  cairo_fill(cr_);
  cairo_restore(cr_);
}

PixelAccess DeviceContext::pixels() {
  cairo_surface_flush(surface_);
  if (cairo_surface_get_type(surface_) != CAIRO_SURFACE_TYPE_IMAGE) return {};
  return {cairo_image_surface_get_data(surface_), cairo_image_surface_get_width(surface_),
          cairo_image_surface_get_height(surface_), cairo_image_surface_get_stride(surface_)};
}

void DeviceContext::markDirty() { cairo_surface_mark_dirty(surface_); }

}  // namespace ui
