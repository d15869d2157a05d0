#include "plugin/overlay/RectShape.h"

#include <algorithm>
#include <cmath>

namespace ksplugs {

ui::CursorShape cursorForHandle(int code) {
  switch (code) {
    case kHandleMove:
      return ui::CursorShape::SizeAll;
    case kHandleLeft:
    case kHandleRight:
      return ui::CursorShape::SizeWE;
    case kHandleTop:
    case kHandleBottom:
      return ui::CursorShape::SizeNS;
    case kHandleTopLeft:
    case kHandleBottomRight:
      return ui::CursorShape::SizeNWSE;
    case kHandleTopRight:
    case kHandleBottomLeft:
      return ui::CursorShape::SizeNESW;
    default:
      return ui::CursorShape::Arrow;
  }
}

RectShape RectShape::normalised() const {
  return {std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom)};
}

int RectShape::hitTest(double x, double y) const {
  // A rectangle crossed by a drag in progress is hit where it is drawn.
  const RectShape r = normalised();
  const auto contains = [&](double grow) {
    return x >= r.left - grow && x < r.right + grow && y >= r.top - grow && y < r.bottom + grow;
  };
  if (!contains(5)) return kHandleNone;
  if (contains(-5)) return kHandleMove;
  const bool nearLeft = x <= r.left + 10;
  const bool nearRight = x >= r.right - 10;
  const bool nearTop = y <= r.top + 10;
  const bool nearBottom = y >= r.bottom - 10;
  if (nearLeft && nearTop) return kHandleTopLeft;
  if (nearRight && nearTop) return kHandleTopRight;
  if (nearLeft && nearBottom) return kHandleBottomLeft;
  if (nearRight && nearBottom) return kHandleBottomRight;
  if (nearLeft) return kHandleLeft;
  if (nearRight) return kHandleRight;
  if (nearTop) return kHandleTop;
  return kHandleBottom;
}

bool RectShape::drag(int code, int dx, int dy, int cellWidth, int cellHeight) {
  const double w = cellWidth;
  const double h = cellHeight;
  if (code == kHandleMove) {
    const RectShape moved{std::trunc(left) + dx, std::trunc(top) + dy, std::trunc(right) + dx, std::trunc(bottom) + dy};
    const auto inside = [](double v, double limit) { return v >= 0 && v <= limit; };
    if (!inside(moved.left, w) || !inside(moved.right, w) || !inside(moved.top, h) || !inside(moved.bottom, h)) {
      return false;
    }
    *this = moved;
    return true;
  }
  const bool movesLeft = code == kHandleLeft || code == kHandleTopLeft || code == kHandleBottomLeft;
  const bool movesRight = code == kHandleRight || code == kHandleTopRight || code == kHandleBottomRight;
  const bool movesTop = code == kHandleTop || code == kHandleTopLeft || code == kHandleTopRight;
  const bool movesBottom = code == kHandleBottom || code == kHandleBottomLeft || code == kHandleBottomRight;
  if (!movesLeft && !movesRight && !movesTop && !movesBottom) return false;
  // A dragged edge may pass the opposite one, but never leaves the cell on
  // either side; the edges the drag does not name are only limited by the
  // cell on their own side.
  const auto within = [](double v, double limit) { return std::clamp(v, 0.0, std::max(0.0, limit)); };
  if (movesLeft) left = within(std::trunc(left) + dx, w);
  if (movesRight) right = within(std::trunc(right) + dx, w);
  if (movesTop) top = within(std::trunc(top) + dy, h);
  if (movesBottom) bottom = within(std::trunc(bottom) + dy, h);
  left = std::max(0.0, left);
  top = std::max(0.0, top);
  right = std::min(w, right);
  bottom = std::min(h, bottom);
  return true;
}

}  // namespace ksplugs
