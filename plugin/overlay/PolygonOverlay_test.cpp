#include "plugin/overlay/PolygonOverlay.h"

#include <gtest/gtest.h>

#include <vector>

#include "plugin/overlay/testing/OverlayTesting.h"

namespace ksplugs {
namespace {

struct Points {
  std::vector<int32_t> x;
  std::vector<int32_t> y;
};

DeviceSettingsParam record(int subType, int blockId, Points* points, int edge = -1) {
  DeviceSettingsParam r{};
  r.type = SETTINGS_POLYGON;
  r.operate = 1;
  r.subType = subType;
  r.blockId = blockId;
  if (points != nullptr) {
    r.block.polygon.edge = static_cast<uint32_t>(points->x.size());
    r.block.polygon.x = points->x.data();
    r.block.polygon.y = points->y.data();
  }
  if (edge >= 0) r.block.polygon.edge = static_cast<uint32_t>(edge);
  return r;
}

std::vector<int32_t> readBack(PolygonOverlay& editor, int blockId) {
  return testing::regionPoints(editor, SETTINGS_POLYGON, blockId);
}

TEST(PolygonOverlay, RegionsAreAddedReadBackExactlyAndRefusedWhenMalformed) {
  PolygonOverlay editor(704, 576);
  // The default rectangle, read back against the cell's truncation.
  ASSERT_EQ(editor.apply(record(6, 0, nullptr, 4)), 0);
  EXPECT_EQ(readBack(editor, 0), (std::vector<int32_t>{3579, 4131, 6419, 4131, 6419, 5867, 3579, 5867}));
  // Points from the page come back as sent, every value along an axis.
  Points line{{0, 77, 9999}, {9999, 1, 4999}};
  for (int32_t v = 0; v <= 9999; v += 7) {
    line.x[1] = v;
    line.y[1] = 9999 - v;
    ASSERT_EQ(editor.apply(record(1, 0, &line)), 0);
    ASSERT_EQ(readBack(editor, 0), (std::vector<int32_t>{0, 9999, v, 9999 - v, 9999, 4999})) << v;
  }
  // The second region is selected and from then on regions are labelled.
  EXPECT_FALSE(editor.labelled());
  ASSERT_EQ(editor.apply(record(6, 0, nullptr, 5)), 0);
  EXPECT_TRUE(editor.labelled());
  EXPECT_TRUE(editor.regions()[1].selected);

  // Refused, and nothing changes: a C record without its arrays, fewer than
  // three points, a default shape outside 3 to 8, a region that does not
  // exist (-1 included).
  Points two{{1, 2}, {1, 2}};
  DeviceSettingsParam noArrays = record(4, 0, nullptr, 4);
  const struct {
    DeviceSettingsParam r;
  } refused[] = {{noArrays},
                 {record(4, 0, &two)},
                 {record(6, 0, nullptr, 9)},
                 {record(3, 0, nullptr, 2)},
                 {record(3, -1, nullptr, 4)},
                 {record(3, 2, nullptr, 4)},
                 {record(5, -1, nullptr)},
                 {record(5, 2, nullptr)}};
  for (const auto& c : refused) {
    EXPECT_EQ(editor.apply(c.r), KS_E_INVALID) << "sub-type " << c.r.subType << " block " << c.r.blockId;
  }
  EXPECT_EQ(editor.regions().size(), 2u);
  EXPECT_TRUE(readBack(editor, -1).empty());
  EXPECT_TRUE(readBack(editor, 2).empty());

  // Deleting the selected region of three selects the first one left.
  ASSERT_EQ(editor.apply(record(6, 0, nullptr, 3)), 0);
  ASSERT_EQ(editor.apply(record(5, 1, nullptr)), 0);
  ASSERT_EQ(editor.regions().size(), 2u);
  EXPECT_TRUE(editor.regions()[0].selected);
}

TEST(PolygonOverlay, VertexDragsThatCrossOrFlattenAreUndoneAtTheRelease) {
  PolygonOverlay editor(704, 576);
  ASSERT_EQ(editor.apply(record(6, 0, nullptr, 4)), 0);  // (252, 238)-(452, 338)
  // Hover the first vertex, drag it across the opposite edge, release.
  EXPECT_EQ(editor.mouseMove(252, 238), ui::CursorShape::SizeNWSE);
  editor.mouseDown(252, 238);
  editor.mouseMove(300, 400);
  EXPECT_EQ(editor.regions()[0].points[0], (PointD{300, 400}));
  editor.mouseUp(300, 400);
  EXPECT_EQ(editor.regions()[0].points[0], (PointD{252, 238}));
  // A good drag stays; a drag beyond the cell stops at the last point inside.
  editor.mouseMove(252, 238);
  editor.mouseDown(252, 238);
  editor.mouseMove(262, 248);
  editor.mouseMove(262, 700);
  editor.mouseUp(262, 700);
  EXPECT_EQ(editor.regions()[0].points[0], (PointD{262, 248}));
  // The whole region moves from inside, but not out of the cell.
  EXPECT_EQ(editor.mouseMove(350, 300), ui::CursorShape::SizeAll);
  editor.mouseDown(350, 300);
  editor.mouseMove(360, 310);
  editor.mouseMove(360, 600);
  editor.mouseUp(360, 600);
  EXPECT_EQ(editor.regions()[0].points[1], (PointD{462, 248}));

  // A triangle whose dragged vertex lands on the line through the other two.
  PolygonOverlay triangle(704, 576);
  ASSERT_EQ(triangle.apply(record(6, 0, nullptr, 3)), 0);  // (265, 288) (439, 188) (439, 388)
  triangle.mouseMove(265, 288);
  triangle.mouseDown(265, 288);
  triangle.mouseMove(439, 288);
  triangle.mouseUp(439, 288);
  EXPECT_EQ(triangle.regions()[0].points[0], (PointD{265, 288}));
}

TEST(PolygonOverlay, AnApplyThatChangesTheListDropsTheHover) {
  PolygonOverlay editor(704, 576);
  ASSERT_EQ(editor.apply(record(6, 0, nullptr, 4)), 0);
  ASSERT_EQ(editor.apply(record(6, 0, nullptr, 8)), 0);
  editor.takeCursorReset();
  EXPECT_EQ(editor.mouseMove(252, 238), ui::CursorShape::SizeNWSE);
  EXPECT_FALSE(editor.takeCursorReset());
  // The hovered region goes; a press and drag then touch nothing.
  ASSERT_EQ(editor.apply(record(5, 0, nullptr)), 0);
  EXPECT_TRUE(editor.takeCursorReset());
  const auto before = editor.regions();
  editor.mouseDown(252, 238);
  editor.mouseMove(200, 200);
  editor.mouseUp(200, 200);
  EXPECT_EQ(editor.regions()[0].points, before[0].points);
}

}  // namespace
}  // namespace ksplugs
