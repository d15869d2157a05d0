#pragma once
// The arithmetic of the live-view dock's split layouts: how many cells a
// layout type shows, where a page of cells starts when the page advances or
// the dock is resized, and the rectangle of each position of a page inside
// a dock of a given outer size. Pure functions, so the dock window only moves
// and shows what they answer.
//
// Layout types: 1 (one cell), 2..6 (n x n grids), 15 (a 2 x 2 cell with five
// around it in a 3 x 3 grid), 16 (a 3 x 3 cell with seven around it in a
// 4 x 4 grid), 17 (four on top, two 2 x 2 cells, four below) and 18 (the same
// 5 x 5 grid as 5). Every other type has no cells and is refused.
#include <optional>

#include "platform/ui/Types.h"

namespace ksplugs {

class SplitLayout {
 public:
  // Cells a dock can hold at most; pages never start at or beyond it.
  static constexpr int kMaxCells = 36;

  // Cells of a layout type; 0 for a type that is not a layout.
  static int cellCount(int type);
  static bool isLayout(int type) { return cellCount(type) > 0; }

  // The first cell of the next page after the page starting at `pageStart`
  // (types other than 1 and 6); wraps to 0 after the last page.
  static int nextPageStart(int type, int pageStart);

  // The page start of a layout pass for types other than 1: the next page,
  // or the current page kept (a resize) when a whole page still fits below
  // cell 36, or else the first page.
  static int passPageStart(int type, int pageStart, bool nextPage, bool keepPage);

  // The cell of a type 1 pass: the next one (wrapping at 36), the kept one,
  // or the first.
  static int singlePageCell(int pageStart, bool nextPage, bool keepPage);

  // The rectangle (client coordinates of the dock) of a position of a page,
  // for a dock whose outer size is width x height. Nothing for a type that is
  // not a layout or a position outside it.
  static std::optional<ui::Rect> cellRect(int type, int position, int width, int height);
};

}  // namespace ksplugs
