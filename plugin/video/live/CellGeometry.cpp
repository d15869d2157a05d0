#include "plugin/video/live/CellGeometry.h"

#include <algorithm>
#include <cstdlib>

namespace ksplugs {

ui::Rect CellGeometry::fitVideo(int W, int H, int top, int vw, int vh) {
  if (vw <= 0 || vh <= 0) return ui::Rect::fromSize(0, top, W, H);
  if (vw < W && vh < H) return ui::Rect::fromSize((W - vw) / 2, top + (H - vh) / 2, vw, vh);
  // 64-bit products: a hostile picture size must not overflow the scaling.
  const int64_t c = static_cast<int64_t>(W) * vh / vw;
  if (c > H) {
    const int width = static_cast<int>(static_cast<int64_t>(H) * vw / vh);
    return ui::Rect::fromSize((W - width) / 2, top, width, H);
  }
  const int height = static_cast<int>(c);
  return ui::Rect::fromSize(0, top + (H - height) / 2, W, height);
}

bool CellGeometry::zoomAfterDrag(const ZoomRegion& cur, ui::Point start, ui::Point end, int W, int H,
                                 ZoomRegion& next) {
  const int x0 = std::min(start.x, end.x);
  const int y0 = std::min(start.y, end.y);
  const int x1 = x0 + std::abs(end.x - start.x);
  const int y1 = y0 + std::abs(end.y - start.y);
  if (x1 - x0 <= 4 || y1 - y0 <= 4 || W <= 0 || H <= 0) return false;
  const double L = cur.left, T = cur.top, R = cur.right, B = cur.bottom;
  ZoomRegion r;
  r.left = static_cast<int32_t>((R - L) * x0 / W + L);
  r.top = static_cast<int32_t>((B - T) * y0 / H + T);
  r.right = static_cast<int32_t>(R - (W - x1) * (R - L) / W);
  r.bottom = static_cast<int32_t>(B - (H - y1) * (B - T) / H);
  if (r.right - r.left <= 32 || r.bottom - r.top <= 32) r = kWholePicture;
  next = r;
  return true;
}

}  // namespace ksplugs
