#pragma once
// A rectangle of a settings editor in cell pixels, with the handle rules the
// rectangle editors share: which handle a point is on, and how a drag on a
// handle changes the rectangle.
//
// Handle codes: 0 none, 1 move (inside), 10 left edge, 11 right edge, 12 top
// edge, 13 top-left, 14 top-right, 15 bottom edge, 16 bottom-left, 17
// bottom-right corner. The polygon-like editors use 13 for a vertex and 1
// for the inside of a region.
#include "platform/ui/Backend.h"

namespace ksplugs {

enum HandleCode : int {
  kHandleNone = 0,
  kHandleMove = 1,
  kHandleLeft = 10,
  kHandleRight = 11,
  kHandleTop = 12,
  kHandleTopLeft = 13,
  kHandleTopRight = 14,
  kHandleBottom = 15,
  kHandleBottomLeft = 16,
  kHandleBottomRight = 17,
};

// The mouse cursor shown over a handle code.
ui::CursorShape cursorForHandle(int code);

struct RectShape {
  double left = 0;
  double top = 0;
  double right = 0;
  double bottom = 0;

  double width() const { return right - left; }
  double height() const { return bottom - top; }
  // Left above right and top above bottom; a drag may cross edges, the
  // editors put them back in order when the button goes up.
  RectShape normalised() const;

  // The handle code under (x, y). The rectangle grown by 5 pixels must hold
  // the point, the one shrunk by 5 pixels holding it is a move, and the
  // 10-pixel bands along the edges name the edge or corner. Containment
  // keeps left and top edges inside and right and bottom ones outside. A
  // crossed rectangle is tested in its normalised form.
  int hitTest(double x, double y) const;

  // Drags by (dx, dy) with a handle code inside a cell of the given size.
  // A move shifts all four edges, and only when they all stay within the
  // cell (false and no change otherwise). An edge or corner adds the offset
  // to the edges it names, keeping each of them within the cell, then left
  // and top are raised to 0 and right and bottom lowered to the cell size;
  // edges may cross. The edges a drag
  // changes are first truncated to whole pixels, the others keep their value.
  bool drag(int code, int dx, int dy, int cellWidth, int cellHeight);
};

}  // namespace ksplugs
