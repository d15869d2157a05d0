#pragma once
// The crossing-line editor: one line between two end points with direction
// arrows across its middle labelled "A" and "B" and round handles on its
// ends. The user drags an end, the whole line, or draws a new line after the
// page asked for one. Values cross the record in the normalised space.
//
// The arrow and handle drawing is shared with the passenger counting editor,
// which draws them across the first edge of its region.
//
// Threads and lock: as every editor (the base's mutex_ guards all fields).
// The editor never changes the cursor.
#include "plugin/overlay/OverlayEditor.h"
#include "plugin/overlay/PolygonShape.h"

namespace ksplugs {

class CrossLineOverlay : public OverlayEditor {
 public:
  CrossLineOverlay(int cellWidth, int cellHeight) : OverlayEditor(cellWidth, cellHeight) {}

  // 1 set the line, 2 draw a new one with the mouse, 3 direction only, 4 reset.
  int apply(const DeviceSettingsParam& record) override;
  int readBack(DeviceSettingsParam& record) override;
  void paint(cairo_t* cr) override;
  std::optional<ui::CursorShape> mouseDown(int x, int y) override;
  std::optional<ui::CursorShape> mouseMove(int x, int y) override;
  std::optional<ui::CursorShape> mouseUp(int x, int y) override;

  // The arrows across the middle of p0-p1 for an orientation (3 two arrows,
  // 2 one arrow pointing one way, anything else one arrow the other way).
  // Nothing when the line has no length. With labels, "A" and "B" beside
  // them. Answers whether anything was drawn.
  static bool drawArrows(cairo_t* cr, PointD p0, PointD p1, int orientation, bool labels);
  // Red round handles at both points, kept inside the cell.
  static void drawHandles(cairo_t* cr, PointD p0, PointD p1, int cellWidth, int cellHeight);

  // For tests: the drag state and the end points in cell pixels.
  int dragMode() const;
  PointD p0() const;
  PointD p1() const;

 private:
  enum DragMode { kIdle = 0, kAwaitNewLine = 1, kDragP0 = 2, kDragP1 = 3, kMoveLine = 4, kDrawNewLine = 5 };

  PointD p0_;             // guarded by mutex_
  PointD p1_;             // guarded by mutex_
  int orientation_ = 1;   // guarded by mutex_
  int dragMode_ = kIdle;  // guarded by mutex_
  double lastX_ = 0;      // guarded by mutex_
  double lastY_ = 0;      // guarded by mutex_
};

}  // namespace ksplugs
