#include "plugin/overlay/PassengerOverlay.h"

#include <gtest/gtest.h>

#include <vector>

#include "plugin/overlay/testing/OverlayTesting.h"

namespace ksplugs {
namespace {

DeviceSettingsParam record(int subType, std::vector<int32_t>* x, std::vector<int32_t>* y, int edge,
                           int boundaryRight = 9999) {
  DeviceSettingsParam r{};
  r.type = SETTINGS_PASSENGER;
  r.operate = 1;
  r.subType = subType;
  PassengerBlock& b = r.block.passenger;
  b.orientation = 3;
  b.edge = edge;
  b.x = x != nullptr ? x->data() : nullptr;
  b.y = y != nullptr ? y->data() : nullptr;
  b.boundaryRight = boundaryRight;
  b.boundaryBottom = 9999;
  return r;
}

std::vector<int32_t> readBack(PassengerOverlay& editor) { return testing::regionPoints(editor, SETTINGS_PASSENGER); }

TEST(PassengerOverlay, RegionRoundTripsStaysInItsBoundaryAndResetsToTheDefault) {
  PassengerOverlay editor(704, 576);
  std::vector<int32_t> x{1000, 3000, 3000, 1000};
  std::vector<int32_t> y{1000, 1000, 3000, 3000};
  ASSERT_EQ(editor.apply(record(1, &x, &y, 4, 4999)), 0);
  EXPECT_EQ(readBack(editor), (std::vector<int32_t>{1000, 1000, 3000, 1000, 3000, 3000, 1000, 3000}));
  // Boundary (0, 0, 4999, 9999): a drag that would take a point past the
  // middle of the cell does nothing, one that stays inside moves.
  const PixelBounds bounds = editor.boundary();
  EXPECT_EQ(bounds.right, 351);
  EXPECT_EQ(editor.mouseMove(150, 130), ui::CursorShape::SizeAll);
  editor.mouseDown(150, 130);
  editor.mouseMove(160, 140);
  editor.mouseMove(310, 140);
  editor.mouseUp(310, 140);
  const std::vector<PointD> moved = editor.points();
  EXPECT_NEAR(moved[0].x, 1000 * 704 / 9999.0 + 10, 1e-9);
  EXPECT_NEAR(moved[1].x, 3000 * 704 / 9999.0 + 10, 1e-9);

  // Hide, then set all again: drawn with the new points.
  ASSERT_EQ(editor.apply(record(2, nullptr, nullptr, 0)), 0);
  EXPECT_FALSE(editor.active());
  ASSERT_EQ(editor.apply(record(1, &x, &y, 4)), 0);
  EXPECT_TRUE(editor.active());
  // Reset: the default shape of the stored count, centred.
  ASSERT_EQ(editor.apply(record(3, nullptr, nullptr, 0)), 0);
  EXPECT_EQ(editor.points().front(), (PointD{252, 238}));
}

TEST(PassengerOverlay, RecordsWithoutEnoughPointsAreRefusedAndChangeNothing) {
  PassengerOverlay editor(704, 576);
  std::vector<int32_t> x{1000, 3000, 3000, 1000, 2000, 2500, 2600, 2700, 2800};
  std::vector<int32_t> y{1000, 1000, 3000, 3000, 4000, 4500, 4600, 4700, 4800};
  for (const int edge : {0, 1, 2}) EXPECT_EQ(editor.apply(record(1, &x, &y, edge)), KS_E_INVALID) << edge;
  EXPECT_EQ(editor.apply(record(1, nullptr, &y, 4)), KS_E_INVALID);
  EXPECT_TRUE(editor.points().empty());
  // Nine points have no default shape to reset to.
  ASSERT_EQ(editor.apply(record(1, &x, &y, 9)), 0);
  EXPECT_EQ(editor.apply(record(3, nullptr, nullptr, 0)), KS_E_INVALID);
  EXPECT_EQ(editor.points().size(), 9u);
}

}  // namespace
}  // namespace ksplugs
