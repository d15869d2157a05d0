#pragma once
// The polygon region editor (motion, electric fence, off duty and face
// snapshot regions): any number of regions drawn in green, the selected one
// thicker, numbered "1#", "2#", ... once a second region existed. The user
// moves a whole region or drags one vertex; a vertex move that would leave
// the region degenerate or crossing itself is undone at the release. Values
// cross the record in the normalised space.
//
// Threads and lock: as every editor (the base's mutex_ guards all fields).
#include <vector>

#include "plugin/overlay/OverlayEditor.h"
#include "plugin/overlay/PolygonShape.h"

namespace ksplugs {

class PolygonOverlay : public OverlayEditor {
 public:
  PolygonOverlay(int cellWidth, int cellHeight) : OverlayEditor(cellWidth, cellHeight) {}

  // 1 replace all regions, 2 replace all by one default shape, 3 reshape one
  // region to a default shape, 4 add a region, 5 delete one, 6 add a default
  // shape. 1000 for a record that names fewer than 3 points, points it does
  // not carry, a default shape of other than 3 to 8 points, or a region
  // that does not exist; nothing changes then.
  int apply(const DeviceSettingsParam& record) override;
  // The points of region `blockId`; nothing for one that does not exist.
  int readBack(DeviceSettingsParam& record) override;
  void paint(cairo_t* cr) override;
  std::optional<ui::CursorShape> mouseDown(int x, int y) override;
  std::optional<ui::CursorShape> mouseMove(int x, int y) override;
  std::optional<ui::CursorShape> mouseUp(int x, int y) override;

  // For tests.
  struct RegionView {
    std::vector<PointD> points;
    bool selected = false;
  };
  std::vector<RegionView> regions() const;
  bool labelled() const;

 private:
  struct Region {
    bool selected = false;
    int edge = 0;
    PointD pending;        // the hovered vertex where the hover began
    int hoverVertex = -1;  // -1 none
    std::vector<PointD> points;
  };

  Region regionFromRecord(const PolygonBlock& block) const;
  // After a change of the list: nothing hovered, the arrow cursor.
  void dropHover();
  void finishAdding();

  std::vector<Region> regions_;  // guarded by mutex_, as every field below
  bool mouseDown_ = false;
  bool invalidMove_ = false;
  int hoverCode_ = 0;
  int hoverRegion_ = -1;
  int lastX_ = 0;
  int lastY_ = 0;
  bool labels_ = false;  // set once the list held more than one region
};

}  // namespace ksplugs
