#include "plugin/overlay/PrivacyMaskOverlay.h"

#include <cairo.h>

#include <algorithm>

#include "plugin/overlay/DeviceSpace.h"
#include "plugin/overlay/ResultArray.h"

namespace ksplugs {
namespace {

constexpr uint32_t kSelectionArgb = 0xFFFF0000;
constexpr double kSelectionWidth = 2.0;

void setSource(cairo_t* cr, uint32_t argb) {
  cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0, (argb & 0xFF) / 255.0,
                        ((argb >> 24) & 0xFF) / 255.0);
}

// Cairo keeps coordinates in 24.8 fixed point; a rectangle the page placed
// far outside the cell is drawn cut to just beyond it.
void addRectangle(cairo_t* cr, const RectShape& r, int cellWidth, int cellHeight) {
  const auto cut = [](double v, int size) { return std::clamp(v, -16.0, static_cast<double>(size) + 16.0); };
  const double left = cut(r.left, cellWidth);
  const double top = cut(r.top, cellHeight);
  cairo_rectangle(cr, left, top, cut(r.right, cellWidth) - left, cut(r.bottom, cellHeight) - top);
}

}  // namespace

PrivacyMaskOverlay::PrivacyMaskOverlay(int cellWidth, int cellHeight) : OverlayEditor(cellWidth, cellHeight) {}

uint32_t PrivacyMaskOverlay::argbOf(uint32_t fillColor) {
  return 0xFF000000u | (fillColor & 0xFF) << 16 | ((fillColor >> 8) & 0xFF) << 8 | ((fillColor >> 16) & 0xFF);
}

int PrivacyMaskOverlay::apply(const DeviceSettingsParam& record) {
  std::lock_guard lock(mutex_);
  switch (record.subType) {
    case 1:
      return replaceAll(record.block.privacy);
    case 2:
      deleteSelected();
      resetHover();
      return 0;
    case 3:
      masks_.clear();
      resetHover();
      return 0;
    default:
      return 0;
  }
}

int PrivacyMaskOverlay::replaceAll(const PrivacyBlock& block) {
  if (block.count > kMaxRects) return KS_E_INVALID;
  if (block.count > 0 &&
      (block.left == nullptr || block.top == nullptr || block.right == nullptr || block.bottom == nullptr)) {
    return KS_E_INVALID;
  }
  const DeviceSpace& grid = DeviceSpace::kOsdGrid;
  // Built aside so that a failed allocation leaves the old list in place.
  std::vector<Mask> masks;
  masks.reserve(block.count);
  for (uint32_t i = 0; i < block.count; ++i) {
    Mask mask;
    mask.selected = i == 0 ? 1 : 0;
    mask.rect = {grid.toPixelX(block.left[i], cellWidth_), grid.toPixelY(block.top[i], cellHeight_),
                 grid.toPixelX(block.right[i], cellWidth_), grid.toPixelY(block.bottom[i], cellHeight_)};
    masks.push_back(mask);
  }
  masks_.swap(masks);
  // Every replace-all recolours: the page shows one colour for all masks.
  fillArgb_ = argbOf(block.fillColor);
  resetHover();
  active_ = true;
  return 0;
}

void PrivacyMaskOverlay::deleteSelected() {
  const auto selected = std::find_if(masks_.begin(), masks_.end(), [](const Mask& m) { return m.selected != 0; });
  if (selected != masks_.end()) masks_.erase(selected);
  if (!masks_.empty()) masks_.front().selected = 1;
}

void PrivacyMaskOverlay::resetHover() {
  hoverCode_ = 0;
  hoverRect_ = -1;
  cursorStale_ = true;
  cursorReset_ = true;
  // A drag in progress ends: the rectangle it held may be gone.
  rubberBand_ = false;
}

int PrivacyMaskOverlay::readBack(DeviceSettingsParam& record) {
  std::lock_guard lock(mutex_);
  if (cellWidth_ <= 0 || cellHeight_ <= 0) return 0;
  CountedResult& out = record.result.counted;
  out.outCount = 0;
  out.outData = nullptr;
  if (masks_.empty()) return 0;
  int32_t* data = allocateResultArray<int32_t>(masks_.size() * 4);
  if (data == nullptr) return KS_E_NO_MEMORY;
  const DeviceSpace& grid = DeviceSpace::kOsdGrid;
  for (size_t i = 0; i < masks_.size(); ++i) {
    const RectShape& r = masks_[i].rect;
    data[i * 4 + 0] = grid.toDeviceX(r.left, cellWidth_);
    data[i * 4 + 1] = grid.toDeviceY(r.top, cellHeight_);
    data[i * 4 + 2] = grid.toDeviceX(r.right, cellWidth_);
    data[i * 4 + 3] = grid.toDeviceY(r.bottom, cellHeight_);
  }
  out.outCount = static_cast<uint32_t>(masks_.size());
  out.outData = data;
  return 0;
}

void PrivacyMaskOverlay::paint(cairo_t* cr) {
  std::lock_guard lock(mutex_);
  if (!active_ || cr == nullptr) return;
  cairo_save(cr);
  // Hard edges: masks cover whole pixels.
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_line_width(cr, kSelectionWidth);
  for (const Mask& mask : masks_) {
    const RectShape r = mask.rect.normalised();
    if (fillArgb_) {
      addRectangle(cr, r, cellWidth_, cellHeight_);
      setSource(cr, *fillArgb_);
      cairo_fill(cr);
    }
    if (mask.selected != 0) {
      addRectangle(cr, r, cellWidth_, cellHeight_);
      setSource(cr, kSelectionArgb);
      cairo_stroke(cr);
    }
  }
  if (rubberBand_ && masks_.size() < kMouseLimit && hoverCode_ == 0) {
    const RectShape band = RectShape{static_cast<double>(downX_), static_cast<double>(downY_),
                                     static_cast<double>(curX_), static_cast<double>(curY_)}
                               .normalised();
    addRectangle(cr, band, cellWidth_, cellHeight_);
    setSource(cr, kSelectionArgb);
    cairo_stroke(cr);
  }
  cairo_restore(cr);
}

std::optional<ui::CursorShape> PrivacyMaskOverlay::mouseDown(int x, int y) {
  std::lock_guard lock(mutex_);
  if (!active_) return std::nullopt;
  downX_ = curX_ = x;
  downY_ = curY_ = y;
  rubberBand_ = true;
  for (size_t i = 0; i < masks_.size(); ++i) {
    masks_[i].selected = static_cast<int>(i) == hoverRect_ ? hoverCode_ : 0;
  }
  return std::nullopt;
}

std::optional<ui::CursorShape> PrivacyMaskOverlay::mouseMove(int x, int y) {
  std::lock_guard lock(mutex_);
  if (!active_) return std::nullopt;
  const int previousX = curX_;
  const int previousY = curY_;
  curX_ = x;
  curY_ = y;
  if (rubberBand_) {
    const auto held = std::find_if(masks_.begin(), masks_.end(), [](const Mask& m) { return m.selected != 0; });
    if (held != masks_.end()) {
      held->rect.drag(held->selected, saturateToInt(static_cast<double>(x) - previousX),
                      saturateToInt(static_cast<double>(y) - previousY), cellWidth_, cellHeight_);
    }
    return std::nullopt;
  }
  int code = kHandleNone;
  int index = -1;
  for (size_t i = 0; i < masks_.size(); ++i) {
    code = masks_[i].rect.hitTest(x, y);
    if (code != kHandleNone) {
      index = static_cast<int>(i);
      break;
    }
  }
  hoverRect_ = index;
  if (code == hoverCode_ && !cursorStale_) return std::nullopt;
  hoverCode_ = code;
  cursorStale_ = false;
  return cursorForHandle(code);
}

std::optional<ui::CursorShape> PrivacyMaskOverlay::mouseUp(int x, int y) {
  std::lock_guard lock(mutex_);
  if (!active_) return std::nullopt;
  const bool held = rubberBand_;
  rubberBand_ = false;
  // Only a press this editor saw ends a drag or draws a rectangle.
  if (!held) return std::nullopt;
  const auto dragged = std::find_if(masks_.begin(), masks_.end(), [](const Mask& m) { return m.selected != 0; });
  if (dragged != masks_.end()) dragged->rect = dragged->rect.normalised();
  if (masks_.size() >= kMouseLimit || (x == downX_ && y == downY_) || hoverCode_ != kHandleNone) {
    return std::nullopt;
  }
  for (Mask& mask : masks_) mask.selected = 0;
  Mask created;
  created.selected = kHandleMove;
  created.rect = {static_cast<double>(std::min(x, downX_)), static_cast<double>(std::min(y, downY_)),
                  static_cast<double>(std::max(x, downX_)), static_cast<double>(std::max(y, downY_))};
  masks_.push_back(created);
  return std::nullopt;
}

}  // namespace ksplugs
