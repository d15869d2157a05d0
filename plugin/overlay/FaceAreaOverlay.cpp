#include "plugin/overlay/FaceAreaOverlay.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

#include "plugin/overlay/DeviceSpace.h"

namespace ksplugs {
namespace {

constexpr double kPenWidth = 2.0;

}  // namespace

FaceAreaOverlay::FaceAreaOverlay(int cellWidth, int cellHeight) : OverlayEditor(cellWidth, cellHeight) {}

int FaceAreaOverlay::apply(const DeviceSettingsParam& record) {
  std::lock_guard lock(mutex_);
  switch (record.subType) {
    case 1:
      setAll(record.block.face);
      break;
    case 2:
      rects_[kDetect] = defaults_[kDetect];
      break;
    case 3:
      rects_[kMinBox] = defaults_[kMinBox];
      break;
    case 4:
      rects_[kMaxBox] = defaults_[kMaxBox];
      break;
    default:
      return 0;
  }
  resetHover();
  return 0;
}

RectShape FaceAreaOverlay::centredBox(double width, double height) const {
  const double left = (cellWidth_ - width) / 2;
  const double top = (cellHeight_ - height) / 2;
  return {left, top, left + width, top + height};
}

void FaceAreaOverlay::setAll(const FaceBlock& block) {
  const DeviceSpace& space = DeviceSpace::kPerTenThousand;
  const auto x = [&](int32_t v) { return space.toPixelX(v, cellWidth_); };
  const auto y = [&](int32_t v) { return space.toPixelY(v, cellHeight_); };
  rects_[kDetect] = {x(block.detectLeft), y(block.detectTop), x(block.detectRight), y(block.detectBottom)};
  defaults_[kDetect] = {x(block.detectDefLeft), y(block.detectDefTop), x(block.detectDefRight),
                        y(block.detectDefBottom)};
  rects_[kMinBox] = centredBox(x(block.width[0]), y(block.height[0]));
  rects_[kMaxBox] = centredBox(x(block.width[1]), y(block.height[1]));
  defaults_[kMinBox] = centredBox(x(block.defWidth[0]), y(block.defHeight[0]));
  defaults_[kMaxBox] = centredBox(x(block.defWidth[1]), y(block.defHeight[1]));
  for (int i = 0; i < kCount; ++i) {
    widthQuoto_[i] = block.widthQuoto[i];
    heightQuoto_[i] = block.heightQuoto[i];
  }
  recomputeLimits();
  active_ = true;
}

void FaceAreaOverlay::setVideoSize(int width, int height) {
  std::lock_guard lock(mutex_);
  videoWidth_ = width;
  videoHeight_ = height;
  recomputeLimits();
}

void FaceAreaOverlay::recomputeLimits() {
  // Recomputed whenever the picture size arrives, so limits set before the
  // stream reported its size do not refuse every later resize.
  for (int i = 0; i < kCount; ++i) {
    limits_[i] = {static_cast<double>(widthQuoto_[i]) * videoWidth_ / 10000.0,
                  static_cast<double>(heightQuoto_[i]) * videoHeight_ / 10000.0};
  }
}

bool FaceAreaOverlay::sizeAllowed(int index, const RectShape& candidate) const {
  const double w = std::fabs(candidate.width());
  const double h = std::fabs(candidate.height());
  // A limit of 0 (or below, or no picture size yet) bounds nothing.
  const auto atMost = [](double v, double limit) { return limit <= 0 || v <= limit; };
  const auto atLeast = [](double v, double limit) { return limit <= 0 || v >= limit; };
  if (cellWidth_ > 0 && cellHeight_ > 0) {
    const double pw = w * videoWidth_ / cellWidth_;
    const double ph = h * videoHeight_ / cellHeight_;
    const Size& limit = limits_[index];
    if (index == kMinBox) {
      if (!atLeast(pw, limit.width) || !atLeast(ph, limit.height)) return false;
    } else if (!atMost(pw, limit.width) || !atMost(ph, limit.height)) {
      return false;
    }
  }
  if (index == kMinBox) {
    return w <= std::fabs(rects_[kMaxBox].width()) && h <= std::fabs(rects_[kMaxBox].height());
  }
  if (index == kMaxBox) {
    return w >= std::fabs(rects_[kMinBox].width()) && h >= std::fabs(rects_[kMinBox].height());
  }
  return true;
}

void FaceAreaOverlay::resetHover() {
  hoverCode_ = kHandleNone;
  hoverIndex_ = -1;
  cursorStale_ = true;
  cursorReset_ = true;
}

int FaceAreaOverlay::readBack(DeviceSettingsParam& record) {
  std::lock_guard lock(mutex_);
  if (cellWidth_ <= 0 || cellHeight_ <= 0) return 0;
  const DeviceSpace& space = DeviceSpace::kPerTenThousand;
  FaceResult& out = record.result.face;
  const RectShape& detect = rects_[kDetect];
  out.outDetectLeft = space.toDeviceX(detect.left, cellWidth_);
  out.outDetectTop = space.toDeviceY(detect.top, cellHeight_);
  out.outDetectRight = space.toDeviceX(detect.right, cellWidth_);
  out.outDetectBottom = space.toDeviceY(detect.bottom, cellHeight_);
  for (int i = 0; i < 2; ++i) {
    const RectShape& box = rects_[kMinBox + i];
    out.outFaceWidth[i] = space.toDeviceX(box.width(), cellWidth_);
    out.outFaceHeight[i] = space.toDeviceY(box.height(), cellHeight_);
  }
  return 0;
}

void FaceAreaOverlay::paint(cairo_t* cr) {
  std::lock_guard lock(mutex_);
  if (!active_ || cr == nullptr) return;
  cairo_save(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_GRAY);
  cairo_set_line_width(cr, kPenWidth);
  // Cairo keeps coordinates in 24.8 fixed point; a rectangle placed far
  // outside the cell is drawn cut to just beyond it.
  const auto cut = [](double v, int size) { return std::clamp(v, -16.0, static_cast<double>(size) + 16.0); };
  for (int i = 0; i < kCount; ++i) {
    const RectShape r = rects_[i].normalised();
    const double left = cut(r.left, cellWidth_);
    const double top = cut(r.top, cellHeight_);
    cairo_rectangle(cr, left, top, cut(r.right, cellWidth_) - left, cut(r.bottom, cellHeight_) - top);
    const uint32_t argb = kPenArgb[i];
    cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0, (argb & 0xFF) / 255.0, 1.0);
    cairo_stroke(cr);
  }
  cairo_restore(cr);
}

std::optional<ui::CursorShape> FaceAreaOverlay::mouseDown(int, int) {
  std::lock_guard lock(mutex_);
  if (active_) buttonDown_ = true;
  return std::nullopt;
}

std::optional<ui::CursorShape> FaceAreaOverlay::mouseMove(int x, int y) {
  std::lock_guard lock(mutex_);
  if (!active_) return std::nullopt;
  const bool hadLast = hasLast_;
  const int previousX = lastX_;
  const int previousY = lastY_;
  lastX_ = x;
  lastY_ = y;
  hasLast_ = true;
  if (!hadLast) return std::nullopt;
  if (buttonDown_) {
    if (hoverCode_ == kHandleNone || hoverIndex_ < 0 || hoverIndex_ >= kCount) return std::nullopt;
    RectShape candidate = rects_[hoverIndex_];
    const bool dragged = candidate.drag(hoverCode_, saturateToInt(static_cast<double>(x) - previousX),
                                        saturateToInt(static_cast<double>(y) - previousY), cellWidth_, cellHeight_);
    if (dragged && (hoverCode_ == kHandleMove || sizeAllowed(hoverIndex_, candidate))) {
      rects_[hoverIndex_] = candidate;
    }
    return std::nullopt;
  }
  // An edge or corner of any rectangle wins over the inside of another, so
  // the boxes inside the detection area can be resized.
  int code = kHandleNone;
  int index = -1;
  for (int i = 0; i < kCount; ++i) {
    const int hit = rects_[i].hitTest(x, y);
    if (hit == kHandleNone) continue;
    if (hit != kHandleMove) {
      code = hit;
      index = i;
      break;
    }
    if (code == kHandleNone) {
      code = hit;
      index = i;
    }
  }
  hoverIndex_ = index;
  if (code == hoverCode_ && !cursorStale_) return std::nullopt;
  hoverCode_ = code;
  cursorStale_ = false;
  return cursorForHandle(code);
}

std::optional<ui::CursorShape> FaceAreaOverlay::mouseUp(int, int) {
  std::lock_guard lock(mutex_);
  if (!active_) return std::nullopt;
  const bool wasDown = buttonDown_;
  buttonDown_ = false;
  if (wasDown && hoverCode_ != kHandleNone && hoverIndex_ >= 0 && hoverIndex_ < kCount)
    rects_[hoverIndex_] = rects_[hoverIndex_].normalised();
  return std::nullopt;
}

}  // namespace ksplugs
