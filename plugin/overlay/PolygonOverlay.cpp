#include "plugin/overlay/PolygonOverlay.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <cmath>
#include <cstdio>

#include "plugin/overlay/DeviceSpace.h"

namespace ksplugs {

PolygonOverlay::Region PolygonOverlay::regionFromRecord(const PolygonBlock& block) const {
  Region region;
  region.edge = static_cast<int>(block.edge);
  region.points.reserve(block.edge);
  for (uint32_t i = 0; i < block.edge; ++i) {
    region.points.push_back({DeviceSpace::kNormalised.toPixelX(block.x[i], cellWidth_),
                             DeviceSpace::kNormalised.toPixelY(block.y[i], cellHeight_)});
  }
  return region;
}

void PolygonOverlay::dropHover() {
  hoverCode_ = 0;
  hoverRegion_ = -1;
  for (Region& r : regions_) r.hoverVertex = -1;
  invalidMove_ = false;
  cursorReset_ = true;
}

void PolygonOverlay::finishAdding() {
  if (regions_.size() == 2) regions_.back().selected = true;
  if (regions_.size() > 1) labels_ = true;
  active_ = true;
}

int PolygonOverlay::apply(const DeviceSettingsParam& record) {
  const PolygonBlock& block = record.block.polygon;
  std::lock_guard lock(mutex_);
  if (cellWidth_ <= 0 || cellHeight_ <= 0) return 0;
  const auto hasPoints = [&] { return block.edge >= 3 && block.x != nullptr && block.y != nullptr; };
  const auto existing = [&] { return record.blockId >= 0 && static_cast<size_t>(record.blockId) < regions_.size(); };
  switch (record.subType) {
    case 1:
    case 4: {
      if (!hasPoints()) return KS_E_INVALID;
      Region region = regionFromRecord(block);
      if (record.subType == 1) regions_.clear();
      regions_.push_back(std::move(region));
      dropHover();
      finishAdding();
      return 0;
    }
    case 2: {
      if (regions_.empty() || regions_.front().edge == 0) return 0;
      const int n = regions_.front().edge;
      auto shape = PolygonShape::defaultShape(n, cellWidth_, cellHeight_);
      if (!shape) return KS_E_INVALID;
      Region region;
      region.edge = n;
      region.points = std::move(*shape);
      regions_.clear();
      regions_.push_back(std::move(region));
      dropHover();
      return 0;
    }
    case 3: {
      auto shape = PolygonShape::defaultShape(static_cast<int>(block.edge), cellWidth_, cellHeight_);
      if (!shape || !existing()) return KS_E_INVALID;
      Region& region = regions_[record.blockId];
      region.points = std::move(*shape);
      region.edge = static_cast<int>(block.edge);
      dropHover();
      return 0;
    }
    case 5: {
      if (!existing()) return KS_E_INVALID;
      const bool wasSelected = regions_[record.blockId].selected;
      regions_.erase(regions_.begin() + record.blockId);
      if (wasSelected && regions_.size() >= 2) regions_.front().selected = true;
      dropHover();
      return 0;
    }
    case 6: {
      auto shape = PolygonShape::defaultShape(static_cast<int>(block.edge), cellWidth_, cellHeight_);
      if (!shape) return KS_E_INVALID;
      Region region;
      region.edge = static_cast<int>(block.edge);
      region.points = std::move(*shape);
      regions_.push_back(std::move(region));
      dropHover();
      finishAdding();
      return 0;
    }
    default:
      return 0;
  }
}

int PolygonOverlay::readBack(DeviceSettingsParam& record) {
  std::lock_guard lock(mutex_);
  CountedResult& out = record.result.counted;
  out.outCount = 0;
  out.outData = nullptr;
  // Only a region that exists; -1 is none.
  if (record.blockId < 0 || static_cast<size_t>(record.blockId) >= regions_.size()) return 0;
  return PolygonShape::readBack(regions_[record.blockId].points, cellWidth_, cellHeight_, out);
}

void PolygonOverlay::paint(cairo_t* cr) {
  std::lock_guard lock(mutex_);
  if (!active_) return;
  cairo_save(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_GOOD);
  cairo_set_source_rgb(cr, 0, 1, 0);
  for (const Region& region : regions_) {
    if (region.points.empty()) continue;
    cairo_set_line_width(cr, region.selected ? 4 : 2);
    cairo_move_to(cr, region.points.front().x, region.points.front().y);
    for (const PointD& p : region.points) cairo_line_to(cr, p.x, p.y);
    cairo_close_path(cr);
    cairo_stroke(cr);
  }
  if (labels_ && !regions_.empty()) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string("sans-serif 12");
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    cairo_set_source_rgb(cr, 1, 0, 0);
    for (size_t i = 0; i < regions_.size(); ++i) {
      if (regions_[i].points.empty()) continue;
      char text[24];
      std::snprintf(text, sizeof text, "%zu#", i + 1);
      pango_layout_set_text(layout, text, -1);
      int width = 0;
      int height = 0;
      pango_layout_get_pixel_size(layout, &width, &height);
      const PointD first = regions_[i].points.front();
      double x = first.x < 0 ? 0 : first.x;
      if (first.x + width >= cellWidth_) x = cellWidth_ - width;
      cairo_move_to(cr, x, first.y);
      pango_cairo_show_layout(cr, layout);
    }
    g_object_unref(layout);
  }
  cairo_restore(cr);
}

std::optional<ui::CursorShape> PolygonOverlay::mouseDown(int, int) {
  std::lock_guard lock(mutex_);
  if (!active_) return std::nullopt;
  mouseDown_ = true;
  invalidMove_ = false;
  for (Region& r : regions_) r.selected = false;
  if (regions_.size() > 1 && hoverRegion_ >= 0 && static_cast<size_t>(hoverRegion_) < regions_.size()) {
    regions_[hoverRegion_].selected = true;
  }
  return std::nullopt;
}

std::optional<ui::CursorShape> PolygonOverlay::mouseMove(int x, int y) {
  std::lock_guard lock(mutex_);
  if (!active_) return std::nullopt;
  const int previousX = lastX_;
  const int previousY = lastY_;
  lastX_ = x;
  lastY_ = y;
  if (!mouseDown_) {
    if (regions_.empty()) return std::nullopt;
    int code = 0;
    int hit = -1;
    for (size_t i = 0; i < regions_.size(); ++i) {
      Region& region = regions_[i];
      if (code != 0) {
        // Regions after the first one hit are not under the pointer.
        region.hoverVertex = -1;
        continue;
      }
      code = PolygonShape::hitTest(region.points, x, y, &region.hoverVertex);
      if (code == 13) region.pending = region.points[region.hoverVertex];
      if (code != 0) hit = static_cast<int>(i);
    }
    std::optional<ui::CursorShape> cursor;
    if (code != hoverCode_) {
      hoverCode_ = code;
      cursor = PolygonShape::cursorFor(code);
    }
    if (code != 0) hoverRegion_ = hit;
    return cursor;
  }
  if (hoverCode_ == 0 || hoverRegion_ < 0 || static_cast<size_t>(hoverRegion_) >= regions_.size()) {
    return std::nullopt;
  }
  Region& region = regions_[hoverRegion_];
  // The region stays inside the cell.
  const PixelBounds cell{0, 0, static_cast<double>(cellWidth_), static_cast<double>(cellHeight_)};
  if (const auto invalid =
          PolygonShape::dragStep(region.points, hoverCode_, region.hoverVertex, x - previousX, y - previousY, cell)) {
    invalidMove_ = *invalid;
  }
  return std::nullopt;
}

std::optional<ui::CursorShape> PolygonOverlay::mouseUp(int, int) {
  std::lock_guard lock(mutex_);
  if (!active_) return std::nullopt;
  for (Region& region : regions_) {
    if (region.hoverVertex == -1) continue;
    if (invalidMove_ && static_cast<size_t>(region.hoverVertex) < region.points.size()) {
      region.points[region.hoverVertex] = region.pending;
    }
    region.hoverVertex = -1;
    break;
  }
  invalidMove_ = false;
  mouseDown_ = false;
  return std::nullopt;
}

std::vector<PolygonOverlay::RegionView> PolygonOverlay::regions() const {
  std::lock_guard lock(mutex_);
  std::vector<RegionView> out;
  for (const Region& r : regions_) out.push_back({r.points, r.selected});
  return out;
}

bool PolygonOverlay::labelled() const {
  std::lock_guard lock(mutex_);
  return labels_;
}

}  // namespace ksplugs
