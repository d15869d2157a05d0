#include "platform/ui/backends/X11PopupMenu.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cstdlib>

#include "platform/ui/Menu.h"
#include "platform/ui/Messages.h"
#include "platform/ui/backends/X11Connection.h"

namespace ui {

namespace {

constexpr int kPadding = 4;     // above the first row and below the last
constexpr int kTextInset = 24;  // left of the text: room for the check mark
constexpr int kSeparatorHeight = 9;
constexpr int kMinRowHeight = 22;
constexpr int kMinWidth = 120;
constexpr UINT kVkUp = 0x26;
constexpr UINT kVkDown = 0x28;
constexpr const char* kFont = "sans-serif 9";

PangoLayout* makeLayout(cairo_t* cr, const std::string& text) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string(kFont);
  pango_layout_set_font_description(layout, font);
  pango_font_description_free(font);
  pango_layout_set_text(layout, text.c_str(), static_cast<int>(text.size()));
  return layout;
}

void setColor(cairo_t* cr, uint32_t rgb) {
  cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0);
}

}  // namespace

X11PopupMenu::X11PopupMenu(X11Connection& x, xcb_gcontext_t gc, bool useShm, std::vector<MenuItemView> items,
                           Point screen, const Rect& bounds)
    : x_(x), items_(std::move(items)) {
  // Measure the rows with a scratch surface.
  cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  cairo_t* cr = cairo_create(scratch);
  int width = kMinWidth;
  int y = kPadding;
  for (const MenuItemView& item : items_) {
    Row row{y, kSeparatorHeight};
    if (!(item.flags & MF_SEPARATOR)) {
      PangoLayout* layout = makeLayout(cr, item.text);
      int w = 0, h = 0;
      pango_layout_get_pixel_size(layout, &w, &h);
      g_object_unref(layout);
      width = std::max(width, w + 2 * kTextInset);
      row.height = std::max(kMinRowHeight, h + 8);
    }
    rows_.push_back(row);
    y += row.height;
  }
  cairo_destroy(cr);
  cairo_surface_destroy(scratch);
  int height = y + kPadding;
  // Keep the whole menu on the screen: flip left or up when it would leave it.
  int left = screen.x + width > bounds.right ? std::max(bounds.left, screen.x - width) : screen.x;
  int top = screen.y + height > bounds.bottom ? std::max(bounds.top, screen.y - height) : screen.y;
  rect_ = Rect::fromSize(left, top, width, height);

  xcb_connection_t* c = x_.get();
  window_ = xcb_generate_id(c);
  uint32_t values[] = {XCB_BACK_PIXMAP_NONE, 1,
                       XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                           XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_KEY_PRESS};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, x_.root(), clampCoord(rect_.left), clampCoord(rect_.top),
                    static_cast<uint16_t>(width), static_cast<uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    x_.screen()->root_visual, XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK,
                    values);
  surface_ = std::make_unique<X11Surface>(x_, window_, gc, useShm, width, height);
  std::lock_guard lock(mutex_);
  drawLocked();
}

X11PopupMenu::~X11PopupMenu() {
  xcb_connection_t* c = x_.get();
  xcb_ungrab_pointer(c, XCB_CURRENT_TIME);
  xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
  surface_.reset();
  xcb_destroy_window(c, window_);
  xcb_flush(c);
}

bool X11PopupMenu::open() {
  xcb_connection_t* c = x_.get();
  xcb_map_window(c, window_);
  // Every pointer event comes to the menu, in its coordinates, so a click
  // anywhere else dismisses it.
  auto pointer = xcb_grab_pointer(
      c, 0, window_, XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION,
      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME);
  auto keyboard = xcb_grab_keyboard(c, 0, window_, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
  xcb_grab_pointer_reply_t* p = xcb_grab_pointer_reply(c, pointer, nullptr);
  xcb_grab_keyboard_reply_t* k = xcb_grab_keyboard_reply(c, keyboard, nullptr);
  bool ok = p && p->status == XCB_GRAB_STATUS_SUCCESS && k && k->status == XCB_GRAB_STATUS_SUCCESS;
  free(p);
  free(k);
  return ok;
}

UINT X11PopupMenu::waitForChoice() {
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return choice_.has_value(); });
  return *choice_;
}

int X11PopupMenu::rowAt(Point p) const {
  if (p.x < 0 || p.x >= rect_.width()) return -1;
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (p.y >= rows_[i].top && p.y < rows_[i].top + rows_[i].height) return static_cast<int>(i);
  }
  return -1;
}

bool X11PopupMenu::selectable(int row) const {
  return row >= 0 && row < static_cast<int>(items_.size()) &&
         !(items_[row].flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED));
}

void X11PopupMenu::highlightLocked(int row) {
  if (!selectable(row)) row = -1;
  if (row == highlight_) return;
  highlight_ = row;
  drawLocked();
}

void X11PopupMenu::finishLocked(UINT id) {
  if (choice_) return;
  choice_ = id;
  done_.notify_all();
}

void X11PopupMenu::onMotion(Point p) {
  std::lock_guard lock(mutex_);
  highlightLocked(rowAt(p));
}

void X11PopupMenu::onButton(Point p, bool down) {
  std::lock_guard lock(mutex_);
  bool inside = Rect{0, 0, rect_.width(), rect_.height()}.contains(p);
  if (down && !inside) finishLocked(0);
  // A release over an item chooses it, also at the end of the press that
  // opened the menu and was dragged onto it.
  if (!down && inside && selectable(rowAt(p))) finishLocked(items_[rowAt(p)].id);
}

void X11PopupMenu::onKey(UINT vk) {
  std::lock_guard lock(mutex_);
  if (vk == VK_ESCAPE) {
    finishLocked(0);
  } else if (vk == VK_RETURN) {
    if (selectable(highlight_)) finishLocked(items_[highlight_].id);
  } else if (vk == kVkUp || vk == kVkDown) {
    int n = static_cast<int>(items_.size());
    int step = vk == kVkDown ? 1 : n - 1;
    int row = highlight_ < 0 ? (vk == kVkDown ? n - 1 : 0) : highlight_;
    for (int i = 0; i < n; ++i) {
      row = (row + step) % n;
      if (selectable(row)) break;
    }
    highlightLocked(row);
  }
}

void X11PopupMenu::onExpose(const Rect& r) { surface_->repaint(r); }

void X11PopupMenu::drawLocked() {
  const int w = rect_.width();
  const int h = rect_.height();
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  cairo_t* cr = cairo_create(image);
  setColor(cr, 0xF2F2F2);
  cairo_paint(cr);
  setColor(cr, 0x808080);
  cairo_set_line_width(cr, 1);
  cairo_rectangle(cr, 0.5, 0.5, w - 1, h - 1);
  cairo_stroke(cr);
  for (size_t i = 0; i < items_.size(); ++i) {
    const MenuItemView& item = items_[i];
    const Row& row = rows_[i];
    if (item.flags & MF_SEPARATOR) {
      setColor(cr, 0xC8C8C8);
      cairo_move_to(cr, 4, row.top + row.height / 2 + 0.5);
      cairo_line_to(cr, w - 4, row.top + row.height / 2 + 0.5);
      cairo_stroke(cr);
      continue;
    }
    bool lit = static_cast<int>(i) == highlight_;
    if (lit) {
      setColor(cr, 0x3070D0);
      cairo_rectangle(cr, 2, row.top, w - 4, row.height);
      cairo_fill(cr);
    }
    uint32_t ink = (item.flags & (MF_GRAYED | MF_DISABLED)) ? 0x909090 : lit ? 0xFFFFFF : 0x000000;
    setColor(cr, ink);
    std::string text = item.text;
    PangoLayout* layout = makeLayout(cr, text);
    int tw = 0, th = 0;
    pango_layout_get_pixel_size(layout, &tw, &th);
    cairo_move_to(cr, kTextInset, row.top + (row.height - th) / 2);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    if (item.flags & MF_CHECKED) {
      PangoLayout* check = makeLayout(cr, "\xE2\x9C\x93");
      cairo_move_to(cr, 7, row.top + (row.height - th) / 2);
      pango_cairo_show_layout(cr, check);
      g_object_unref(check);
    }
  }
  cairo_destroy(cr);
  cairo_surface_flush(image);
  ImageView view{cairo_image_surface_get_data(image), w, h, cairo_image_surface_get_stride(image), nullptr};
  surface_->present(view, {0, 0, w, h});
  cairo_surface_destroy(image);
}

}  // namespace ui
