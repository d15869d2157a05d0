#include "plugin/overlay/PassengerOverlay.h"

#include <cairo.h>

#include <cmath>

#include "plugin/overlay/CrossLineOverlay.h"
#include "plugin/overlay/DeviceSpace.h"

namespace ksplugs {

PassengerOverlay::PassengerOverlay(int cellWidth, int cellHeight)
    : OverlayEditor(cellWidth, cellHeight),
      boundary_{0, 0, static_cast<double>(cellWidth), static_cast<double>(cellHeight)} {}

void PassengerOverlay::resize(int width, int height) {
  std::lock_guard lock(mutex_);
  cellWidth_ = width;
  cellHeight_ = height;
  if (boundary_.bottom == 0) boundary_ = {0, 0, static_cast<double>(width), static_cast<double>(height)};
}

void PassengerOverlay::dropHover() {
  hoverVertex_ = -1;
  hoverCode_ = 0;
  invalidMove_ = false;
  cursorReset_ = true;
}

int PassengerOverlay::apply(const DeviceSettingsParam& record) {
  const PassengerBlock& block = record.block.passenger;
  std::lock_guard lock(mutex_);
  const DeviceSpace& space = DeviceSpace::kNormalised;
  switch (record.subType) {
    case 1: {
      if (block.edge < 3 || block.x == nullptr || block.y == nullptr) return KS_E_INVALID;
      if (cellWidth_ <= 0 || cellHeight_ <= 0) return 0;
      std::vector<PointD> points;
      points.reserve(static_cast<size_t>(block.edge));
      for (int32_t i = 0; i < block.edge; ++i) {
        points.push_back({space.toPixelX(block.x[i], cellWidth_), space.toPixelY(block.y[i], cellHeight_)});
      }
      points_ = std::move(points);
      edge_ = block.edge;
      active_ = true;
      orientation_ = block.orientation;
      line0_ = points_[0];
      line1_ = points_[1];
      boundary_ = {std::trunc(space.toPixelX(block.boundaryLeft, cellWidth_)),
                   std::trunc(space.toPixelY(block.boundaryTop, cellHeight_)),
                   std::trunc(space.toPixelX(block.boundaryRight, cellWidth_)),
                   std::trunc(space.toPixelY(block.boundaryBottom, cellHeight_))};
      dropHover();
      return 0;
    }
    case 2:
      active_ = false;
      return 0;
    case 3: {
      if (cellWidth_ <= 0 || cellHeight_ <= 0) return 0;
      auto shape = PolygonShape::defaultShape(edge_, cellWidth_, cellHeight_);
      if (!shape) return KS_E_INVALID;
      points_ = std::move(*shape);
      // The counting line's handles go with the region's first edge.
      line0_ = points_[0];
      line1_ = points_[1];
      active_ = true;
      dropHover();
      return 0;
    }
    default:
      return 0;
  }
}

int PassengerOverlay::readBack(DeviceSettingsParam& record) {
  std::lock_guard lock(mutex_);
  return PolygonShape::readBack(points_, cellWidth_, cellHeight_, record.result.counted);
}

void PassengerOverlay::paint(cairo_t* cr) {
  std::lock_guard lock(mutex_);
  if (!active_ || points_.empty()) return;
  cairo_save(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_GOOD);
  cairo_set_source_rgb(cr, 0, 1, 0);
  cairo_set_line_width(cr, 2);
  cairo_move_to(cr, points_.front().x, points_.front().y);
  for (const PointD& p : points_) cairo_line_to(cr, p.x, p.y);
  cairo_close_path(cr);
  cairo_stroke(cr);
  cairo_restore(cr);
  if (points_.size() >= 2) CrossLineOverlay::drawArrows(cr, points_[0], points_[1], orientation_, false);
  CrossLineOverlay::drawHandles(cr, line0_, line1_, cellWidth_, cellHeight_);
}

std::optional<ui::CursorShape> PassengerOverlay::mouseDown(int, int) {
  std::lock_guard lock(mutex_);
  if (!active_) return std::nullopt;
  mouseDown_ = true;
  invalidMove_ = false;
  return std::nullopt;
}

std::optional<ui::CursorShape> PassengerOverlay::mouseMove(int x, int y) {
  std::lock_guard lock(mutex_);
  if (!active_) return std::nullopt;
  const int previousX = lastX_;
  const int previousY = lastY_;
  lastX_ = x;
  lastY_ = y;
  if (!mouseDown_) {
    if (points_.empty()) return std::nullopt;
    const int code = PolygonShape::hitTest(points_, x, y, &hoverVertex_);
    if (code == 13) pending_ = points_[hoverVertex_];
    if (code == hoverCode_) return std::nullopt;
    hoverCode_ = code;
    return PolygonShape::cursorFor(code);
  }
  // The region stays inside its boundary.
  if (const auto invalid =
          PolygonShape::dragStep(points_, hoverCode_, hoverVertex_, x - previousX, y - previousY, boundary_)) {
    invalidMove_ = *invalid;
  }
  return std::nullopt;
}

std::optional<ui::CursorShape> PassengerOverlay::mouseUp(int, int) {
  std::lock_guard lock(mutex_);
  if (!active_) return std::nullopt;
  if (invalidMove_ && hoverVertex_ >= 0 && static_cast<size_t>(hoverVertex_) < points_.size()) {
    points_[hoverVertex_] = pending_;
  }
  hoverVertex_ = -1;
  invalidMove_ = false;
  mouseDown_ = false;
  return std::nullopt;
}

std::vector<PointD> PassengerOverlay::points() const {
  std::lock_guard lock(mutex_);
  return points_;
}

PixelBounds PassengerOverlay::boundary() const {
  std::lock_guard lock(mutex_);
  return boundary_;
}

}  // namespace ksplugs
