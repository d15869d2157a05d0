#include "plugin/video/live/SplitLayout.h"

#include <cmath>

namespace ksplugs {

namespace {

// Grid side of the n x n types.
int gridSide(int type) {
  if (type >= 2 && type <= 6) return type;
  if (type == 18) return 5;
  return 0;
}

}  // namespace

int SplitLayout::cellCount(int type) {
  switch (type) {
    case 1: return 1;
    case 2: return 4;
    case 3: return 9;
    case 4: return 16;
    case 5: return 25;
    case 6: return 36;
    case 15: return 6;
    case 16: return 8;
    case 17: return 10;
    case 18: return 25;
    default: return 0;
  }
}

int SplitLayout::nextPageStart(int type, int pageStart) {
  const int count = cellCount(type);
  if (count <= 1 || type == 6) return 0;
  // The page after the one holding pageStart; a page that would start at or
  // beyond the last cell wraps to the first.
  const int next = (pageStart / count + 1) * count;
  return next >= kMaxCells ? 0 : next;
}

int SplitLayout::passPageStart(int type, int pageStart, bool nextPage, bool keepPage) {
  if (nextPage) return nextPageStart(type, pageStart);
  const int count = cellCount(type);
  if (keepPage && pageStart >= 0 && pageStart < kMaxCells && kMaxCells - pageStart >= count) return pageStart;
  return 0;
}

int SplitLayout::singlePageCell(int pageStart, bool nextPage, bool keepPage) {
  if (nextPage) {
    const int next = pageStart + 1;
    return next >= kMaxCells || next < 0 ? 0 : next;
  }
  if (keepPage && pageStart >= 0 && pageStart < kMaxCells) return pageStart;
  return 0;
}

std::optional<ui::Rect> SplitLayout::cellRect(int type, int j, int W, int H) {
  if (j < 0 || j >= cellCount(type)) return std::nullopt;
  if (type == 1) return ui::Rect{0, 0, W, H};
  if (const int n = gridSide(type); n > 0) {
    // Two-pixel gaps around and between the cells; the last column and row
    // take what the rounding left over.
    const int w = static_cast<int>(std::lround(static_cast<double>(W - 2 * n - 2) / n));
    const int h = static_cast<int>(std::lround(static_cast<double>(H - 2 * n - 2) / n));
    const int lastW = W - (n - 1) * w - 2 * n - 2;
    const int lastH = H - (n - 1) * h - 2 * n - 2;
    const int column = j % n;
    const int row = j / n;
    const int x = 2 + column * (w + 2);
    const int y = 2 + row * (h + 2);
    const int cw = (j + 1) % n == 0 ? lastW : w;
    const int ch = j + n >= n * n ? lastH : h;
    return ui::Rect::fromSize(x, y, cw, ch);
  }
  if (type == 15) {
    const int w = (W - 8) / 3;
    const int h = (H - 8) / 3;
    if (j == 0) return ui::Rect::fromSize(2, 2, 2 * w + 2, 2 * h + 2);
    if (j <= 2) return ui::Rect::fromSize(2 * w + 6, 2 + (j - 1) * (h + 2), w, h);
    return ui::Rect::fromSize(2 + (j - 3) * (w + 2), 2 * h + 6, w, h);
  }
  if (type == 16) {
    const int w = (W - 10) / 4;
    const int h = (H - 10) / 4;
    if (j == 0) return ui::Rect::fromSize(2, 2, 3 * w + 4, 3 * h + 4);
    if (j <= 3) return ui::Rect::fromSize(3 * w + 8, 2 + (j - 1) * (h + 2), w, h);
    return ui::Rect::fromSize(2 + (j - 4) * (w + 2), 3 * h + 8, w, h);
  }
  // Type 17.
  const int w = (W - 10) / 4;
  const int h = (H - 10) / 4;
  if (j <= 3) return ui::Rect::fromSize(2 + j * (w + 2), 2, w, h);
  if (j <= 5) return ui::Rect::fromSize(2 + 2 * (j - 4) * (w + 2), h + 4, 2 * w + 2, 2 * h + 2);
  return ui::Rect::fromSize(2 + (j - 6) * (w + 2), 3 * h + 8, w, h);
}

}  // namespace ksplugs
