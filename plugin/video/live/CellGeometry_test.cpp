// Cell arithmetic and texts: zoom regions from drags, keep-aspect placement,
// and the bitrate label.
#include "plugin/video/live/CellGeometry.h"

#include <gtest/gtest.h>

#include "plugin/video/live/BitrateTimer.h"

namespace ksplugs {
namespace {

using ui::Rect;

TEST(CellGeometry, DragsNarrowTheZoomRegionStepByStep) {
  ZoomRegion region = CellGeometry::kWholePicture;
  ZoomRegion next;
  // A drag from the bottom right to the top left counts like the other way.
  ASSERT_TRUE(CellGeometry::zoomAfterDrag(region, {100, 80}, {20, 10}, 400, 300, next));
  EXPECT_EQ(next, (ZoomRegion{500, 333, 2500, 2666}));
  region = next;
  ASSERT_TRUE(CellGeometry::zoomAfterDrag(region, {0, 0}, {200, 150}, 400, 300, next));
  EXPECT_EQ(next, (ZoomRegion{500, 333, 1500, 1499}));
  EXPECT_GT(next.left, region.left - 1);
  EXPECT_LT(next.right, region.right);
}

TEST(CellGeometry, TinyDragsAndTinyRegions) {
  const ZoomRegion region{500, 333, 2500, 2666};
  ZoomRegion next{1, 2, 3, 4};
  EXPECT_FALSE(CellGeometry::zoomAfterDrag(region, {10, 10}, {14, 90}, 400, 300, next));
  EXPECT_FALSE(CellGeometry::zoomAfterDrag(region, {10, 10}, {90, 14}, 400, 300, next));
  EXPECT_EQ(next, (ZoomRegion{1, 2, 3, 4}));  // untouched
  // Five pixels of a 400-pixel surface showing 2000 units: 25 units, too
  // narrow to show; the whole picture comes back instead.
  ASSERT_TRUE(CellGeometry::zoomAfterDrag(region, {10, 10}, {15, 200}, 400, 300, next));
  EXPECT_EQ(next, CellGeometry::kWholePicture);
  EXPECT_FALSE(CellGeometry::zoomAfterDrag(region, {0, 0}, {100, 100}, 0, 300, next));
}

TEST(CellGeometry, KeepAspectCentresSmallPicturesAndFitsLargeOnes) {
  // Smaller than the area in both directions: native size, centred below the labels.
  EXPECT_EQ(CellGeometry::fitVideo(800, 580, 20, 352, 288), Rect::fromSize(224, 20 + 146, 352, 288));
  // Wider than the area: full width, bars above and below.
  EXPECT_EQ(CellGeometry::fitVideo(400, 400, 0, 1920, 1080), Rect::fromSize(0, 87, 400, 225));
  // Taller: full height, bars left and right.
  EXPECT_EQ(CellGeometry::fitVideo(400, 100, 0, 704, 576), Rect::fromSize(139, 0, 122, 100));
  // A hostile picture size cannot overflow the arithmetic.
  const Rect huge = CellGeometry::fitVideo(1920, 1080, 0, 65535, 1);
  EXPECT_EQ(huge.width(), 1920);
  EXPECT_GE(huge.height(), 0);
}

TEST(BitrateTimer, LabelShowsThePictureSizeAndTheShownStreamsRate) {
  EXPECT_EQ(BitrateTimer::labelText(704, 576, 512), u"[704x576, 512 Kbps]");
  EXPECT_EQ(BitrateTimer::kbpsFor(1, 10, 20, 30), 10);
  EXPECT_EQ(BitrateTimer::kbpsFor(4, 10, 20, 30), 20);
  EXPECT_EQ(BitrateTimer::kbpsFor(5, 10, 20, 30), 30);
  EXPECT_EQ(BitrateTimer::kbpsFor(2, 10, 20, 30), 0);
}

}  // namespace
}  // namespace ksplugs
