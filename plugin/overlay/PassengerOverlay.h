#pragma once
// The passenger counting editor: one region whose first edge is the
// counting line, with the crossing-line arrows drawn across that edge. The
// user drags a vertex or the whole region, only inside a boundary rectangle
// the page sends. Values cross the record in the normalised space.
//
// Threads and lock: as every editor (the base's mutex_ guards all fields).
#include <vector>

#include "plugin/overlay/OverlayEditor.h"
#include "plugin/overlay/PolygonShape.h"

namespace ksplugs {

class PassengerOverlay : public OverlayEditor {
 public:
  PassengerOverlay(int cellWidth, int cellHeight);

  // 1 set region, boundary and counting line (1000 for fewer than 3 points
  // or points the record does not carry), 2 hide, 3 reset to the default
  // shape of the stored point count (1000 when there is none).
  int apply(const DeviceSettingsParam& record) override;
  int readBack(DeviceSettingsParam& record) override;
  void paint(cairo_t* cr) override;
  std::optional<ui::CursorShape> mouseDown(int x, int y) override;
  std::optional<ui::CursorShape> mouseMove(int x, int y) override;
  std::optional<ui::CursorShape> mouseUp(int x, int y) override;
  // Until a boundary is applied, the boundary follows the cell.
  void resize(int width, int height) override;

  // For tests.
  std::vector<PointD> points() const;
  PixelBounds boundary() const;

 private:
  void dropHover();

  int edge_ = 0;                // guarded by mutex_, as every field below
  std::vector<PointD> points_;  // the first two make the counting line
  int hoverVertex_ = -1;
  PointD pending_;
  bool mouseDown_ = false;
  bool invalidMove_ = false;
  int hoverCode_ = 0;
  int lastX_ = 0;
  int lastY_ = 0;
  PixelBounds boundary_;
  // The counting line's stored end points (its handles) and arrow direction.
  PointD line0_;
  PointD line1_;
  int orientation_ = 1;
};

}  // namespace ksplugs
