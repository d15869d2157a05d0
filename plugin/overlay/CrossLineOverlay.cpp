#include "plugin/overlay/CrossLineOverlay.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "plugin/overlay/DeviceSpace.h"

namespace ksplugs {
namespace {

constexpr double kArrowHalf = 20;    // half the arrow's length
constexpr double kArrowOffset = 15;  // two arrows sit this far either side of the middle
constexpr double kHandleRadius = 3;

struct Rgb {
  double r, g, b;
};
constexpr Rgb kLineGreen{0, 1, 0};
constexpr Rgb kFirstArrow{0xFF / 255.0, 0xC9 / 255.0, 0x0E / 255.0};
constexpr Rgb kSecondArrow{0x19 / 255.0, 0xBF / 255.0, 0xFD / 255.0};
constexpr Rgb kHandleRed{1, 0, 0};

void setColour(cairo_t* cr, Rgb c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

PointD operator+(PointD a, PointD b) { return {a.x + b.x, a.y + b.y}; }
PointD operator-(PointD a, PointD b) { return {a.x - b.x, a.y - b.y}; }
PointD operator*(double k, PointD a) { return {k * a.x, k * a.y}; }
PointD whole(PointD p) { return {std::trunc(p.x), std::trunc(p.y)}; }

// A 2-pixel arrow from `from` to `to` with a filled head of 4 x 4 pen widths
// whose tip is at `to`.
void arrow(cairo_t* cr, PointD from, PointD to, Rgb colour) {
  from = whole(from);
  to = whole(to);
  setColour(cr, colour);
  cairo_set_line_width(cr, 2);
  const double dx = to.x - from.x;
  const double dy = to.y - from.y;
  const double length = std::hypot(dx, dy);
  if (length <= 0) return;
  const double ux = dx / length;
  const double uy = dy / length;
  const double head = 8;  // 4 pen widths long and wide
  const PointD base{to.x - ux * head, to.y - uy * head};
  cairo_move_to(cr, from.x, from.y);
  cairo_line_to(cr, base.x, base.y);
  cairo_stroke(cr);
  cairo_move_to(cr, to.x, to.y);
  cairo_line_to(cr, base.x - uy * head / 2, base.y + ux * head / 2);
  cairo_line_to(cr, base.x + uy * head / 2, base.y - ux * head / 2);
  cairo_close_path(cr);
  cairo_fill(cr);
}

// The size of "A" in the label font, measured once per process.
struct LabelSize {
  int width = 0;
  int height = 0;
};

PangoLayout* labelLayout(cairo_t* cr, const char* text) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string("sans-serif 10");
  pango_layout_set_font_description(layout, font);
  pango_font_description_free(font);
  pango_layout_set_text(layout, text, -1);
  return layout;
}

LabelSize labelSize(cairo_t* cr) {
  PangoLayout* layout = labelLayout(cr, "A");
  int w = 0;
  int h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  g_object_unref(layout);
  return {w, h};
}

void label(cairo_t* cr, const char* text, PointD at, Rgb colour) {
  PangoLayout* layout = labelLayout(cr, text);
  setColour(cr, colour);
  cairo_move_to(cr, std::trunc(at.x), std::trunc(at.y));
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
}

// Where a label goes beside the arrow end q whose partner end is r.
PointD shifted(PointD q, PointD r, double referenceY, LabelSize size) {
  const double y = r.y < q.y ? q.y : q.y - size.height;
  const double x = q.y > referenceY ? q.x + size.width / 2 : q.x - size.width / 2;
  return {x, y};
}

}  // namespace

bool CrossLineOverlay::drawArrows(cairo_t* cr, PointD p0, PointD p1, int orientation, bool labels) {
  const double d = std::trunc(std::fabs(p0.x - p1.x));
  const double f = std::trunc(std::fabs(p0.y - p1.y));
  const double length = std::sqrt(d * d + f * f);
  // A line without length has no direction to draw across.
  if (!(length > 0)) return false;
  const PointD m{(p0.x + p1.x) / 2, (p0.y + p1.y) / 2};
  const PointD u{(p1.x > p0.x ? 1 : -1) * d / length, (p1.y > p0.y ? 1 : -1) * f / length};
  const PointD n{u.y, -u.x};
  cairo_save(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_GOOD);
  LabelSize size;
  if (labels) size = labelSize(cr);
  if (orientation != 3) {
    const PointD s = m - kArrowHalf * n;
    const PointD e = m + kArrowHalf * n;
    if (orientation == 2) {
      arrow(cr, e, s, kFirstArrow);
    } else {
      arrow(cr, s, e, kFirstArrow);
    }
    if (labels) {
      label(cr, "A", shifted(s, e, 0, size), kFirstArrow);
      label(cr, "B", PointD{std::trunc(e.x) - size.width, std::trunc(e.y) - size.height}, kSecondArrow);
    }
  } else {
    const PointD c1 = m + kArrowOffset * u;
    const PointD c2 = m - kArrowOffset * u;
    const PointD s1 = c1 + kArrowHalf * n, e1 = c1 - kArrowHalf * n;
    const PointD s2 = c2 - kArrowHalf * n, e2 = c2 + kArrowHalf * n;
    arrow(cr, s1, e1, kFirstArrow);
    arrow(cr, s2, e2, kSecondArrow);
    if (labels) {
      label(cr, "A", shifted(s1, e1, e2.y, size), kFirstArrow);
      label(cr, "B", shifted(s2, e2, e1.y, size), kSecondArrow);
    }
  }
  cairo_restore(cr);
  return true;
}

void CrossLineOverlay::drawHandles(cairo_t* cr, PointD p0, PointD p1, int cellWidth, int cellHeight) {
  cairo_save(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_GOOD);
  setColour(cr, kHandleRed);
  for (const PointD p : {p0, p1}) {
    const double left = std::min<double>(std::max(0.0, std::trunc(p.x) - kHandleRadius), cellWidth);
    const double top = std::min<double>(std::max(0.0, std::trunc(p.y) - kHandleRadius), cellHeight);
    cairo_new_sub_path(cr);
    cairo_arc(cr, left + kHandleRadius, top + kHandleRadius, kHandleRadius, 0, 2 * M_PI);
    cairo_fill(cr);
  }
  cairo_restore(cr);
}

int CrossLineOverlay::apply(const DeviceSettingsParam& record) {
  const CrossLineBlock& block = record.block.crossLine;
  std::lock_guard lock(mutex_);
  const DeviceSpace& space = DeviceSpace::kNormalised;
  switch (record.subType) {
    case 1:
      p0_ = {space.toPixelX(block.x[0], cellWidth_), space.toPixelY(block.y[0], cellHeight_)};
      p1_ = {space.toPixelX(block.x[1], cellWidth_), space.toPixelY(block.y[1], cellHeight_)};
      orientation_ = block.orientation;
      active_ = true;
      break;
    case 2:
      dragMode_ = kAwaitNewLine;
      break;
    case 3:
      orientation_ = block.orientation;
      break;
    case 4:
      p0_ = p1_ = PointD{};
      orientation_ = 1;
      break;
    default:
      break;
  }
  return 0;
}

int CrossLineOverlay::readBack(DeviceSettingsParam& record) {
  std::lock_guard lock(mutex_);
  if (cellWidth_ <= 0 || cellHeight_ <= 0) return 0;
  const DeviceSpace& space = DeviceSpace::kNormalised;
  CrossLineResult& out = record.result.crossLine;
  out.outX[0] = space.toDeviceX(p0_.x, cellWidth_);
  out.outX[1] = space.toDeviceX(p1_.x, cellWidth_);
  out.outY[0] = space.toDeviceY(p0_.y, cellHeight_);
  out.outY[1] = space.toDeviceY(p1_.y, cellHeight_);
  out.outOrientation = orientation_;
  return 0;
}

void CrossLineOverlay::paint(cairo_t* cr) {
  std::lock_guard lock(mutex_);
  if (!active_ || dragMode_ == kAwaitNewLine) return;
  const PointD a = whole(p0_);
  const PointD b = whole(p1_);
  if (a != b) {
    cairo_save(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_GOOD);
    setColour(cr, kLineGreen);
    cairo_set_line_width(cr, 2);
    cairo_move_to(cr, a.x, a.y);
    cairo_line_to(cr, b.x, b.y);
    cairo_stroke(cr);
    cairo_restore(cr);
    drawArrows(cr, p0_, p1_, orientation_, true);
  }
  drawHandles(cr, p0_, p1_, cellWidth_, cellHeight_);
}

std::optional<ui::CursorShape> CrossLineOverlay::mouseDown(int x, int y) {
  std::lock_guard lock(mutex_);
  if (!active_) return std::nullopt;
  lastX_ = x;
  lastY_ = y;
  if (dragMode_ == kAwaitNewLine) {
    p0_ = p1_ = PointD{static_cast<double>(x), static_cast<double>(y)};
    dragMode_ = kDrawNewLine;
    return std::nullopt;
  }
  // The end points' squares reach 10 pixels on every side, both edges included.
  const auto nearPoint = [&](PointD p) { return std::fabs(x - p.x) <= 10 && std::fabs(y - p.y) <= 10; };
  // Nearness to the infinite line, as distance times the line's length.
  const auto nearLine = [&] {
    const int64_t bx = saturateToInt(p1_.x - p0_.x), by = saturateToInt(p1_.y - p0_.y);
    const int64_t px = saturateToInt(x - p0_.x), py = saturateToInt(y - p0_.y);
    return std::llabs(by * px - bx * py) <= 3000;
  };
  if (nearPoint(p0_)) {
    dragMode_ = kDragP0;
  } else if (nearPoint(p1_)) {
    dragMode_ = kDragP1;
  } else if (nearLine()) {
    dragMode_ = kMoveLine;
  }
  return std::nullopt;
}

std::optional<ui::CursorShape> CrossLineOverlay::mouseMove(int x, int y) {
  std::lock_guard lock(mutex_);
  if (!active_ || dragMode_ <= kIdle) return std::nullopt;
  const PixelBounds cell{0, 0, static_cast<double>(cellWidth_), static_cast<double>(cellHeight_)};
  const PointD at{static_cast<double>(x), static_cast<double>(y)};
  if (dragMode_ == kDrawNewLine) {
    // A new line follows the pointer to the cell's edges, also past them.
    p1_ = {std::clamp(at.x, 0.0, cell.right), std::clamp(at.y, 0.0, cell.bottom)};
  } else if (cell.contains(at.x, at.y)) {
    if (dragMode_ == kDragP0) {
      p0_ = at;
    } else if (dragMode_ == kDragP1) {
      p1_ = at;
    } else if (dragMode_ == kMoveLine) {
      const double dx = std::trunc(at.x - lastX_);
      const double dy = std::trunc(at.y - lastY_);
      const PointD a{p0_.x + dx, p0_.y + dy};
      const PointD b{p1_.x + dx, p1_.y + dy};
      if (cell.contains(a.x, a.y) && cell.contains(b.x, b.y)) {
        p0_ = a;
        p1_ = b;
      }
    }
  }
  lastX_ = at.x;
  lastY_ = at.y;
  return std::nullopt;
}

std::optional<ui::CursorShape> CrossLineOverlay::mouseUp(int, int) {
  std::lock_guard lock(mutex_);
  if (!active_) return std::nullopt;
  dragMode_ = kIdle;
  return std::nullopt;
}

int CrossLineOverlay::dragMode() const {
  std::lock_guard lock(mutex_);
  return dragMode_;
}

PointD CrossLineOverlay::p0() const {
  std::lock_guard lock(mutex_);
  return p0_;
}

PointD CrossLineOverlay::p1() const {
  std::lock_guard lock(mutex_);
  return p1_;
}

}  // namespace ksplugs
