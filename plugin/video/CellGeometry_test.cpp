// Cell arithmetic and texts: zoom regions from drags, keep-aspect placement,
// snapshot names, download addresses and the bitrate label.
#include "plugin/video/CellGeometry.h"

#include <gtest/gtest.h>

#include "plugin/video/BitrateTimer.h"
#include "plugin/video/DownloadUrl.h"
#include "plugin/video/SnapshotPath.h"

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

TEST(SnapshotPath, NamesFollowTheKindTimeAndCounter) {
  const sys::CalendarTime t{2024, 5, 0, 6, 7, 8, 9, 0};
  EXPECT_EQ(SnapshotPath::fileName(true, t, 12, 2), "1_2024_05_06_07_08_09_12.jpg");
  EXPECT_EQ(SnapshotPath::fileName(false, t, 1, 1), "2_2024_05_06_07_08_09_1.bmp");
  EXPECT_EQ(SnapshotPath::fileName(true, t, 3, 7), "1_2024_05_06_07_08_09_3");
  EXPECT_EQ(SnapshotPath::folder("/tmp/Kestrova/Image/", "00-11-22-33-44-55", 3),
            "/tmp/Kestrova/Image/00-11-22-33-44-55/3");
  // A MAC text from the page that would leave the image folder names nothing.
  EXPECT_EQ(SnapshotPath::folder("/tmp/Kestrova/Image/", "../..", 3), "");
  EXPECT_EQ(SnapshotPath::folder("/tmp/Kestrova/Image/", "a/b", 3), "");
  EXPECT_EQ(SnapshotPath::folder("/tmp/Kestrova/Image/", "", 3), "");
}

class DownloadUrlTest : public ::testing::Test {
 protected:
  void TearDown() override { DownloadUrl::setPortSource(nullptr); }
};

TEST_F(DownloadUrlTest, NeedsARunningServerAndAFileBelowTheFolder) {
  const std::string folder = "/tmp/Kestrova/Image/";
  DownloadUrl::setPortSource([] { return uint16_t{0}; });
  EXPECT_FALSE(DownloadUrl::forFile(folder, folder + "mac/3/1_x.jpg"));
  DownloadUrl::setPortSource([] { return uint16_t{41234}; });
  EXPECT_EQ(DownloadUrl::forFile(folder, folder + "mac/3/1_x.jpg"),
            "http://127.0.0.1:41234/download/mac/3/1_x.jpg");
  EXPECT_EQ(DownloadUrl::forFile(folder, folder + "mac\\3\\a.jpg"), "http://127.0.0.1:41234/download/mac/3/a.jpg");
  // A caller's own path outside the work folder has no download address.
  EXPECT_FALSE(DownloadUrl::forFile(folder, "/home/user/pictures/a.jpg"));
  EXPECT_FALSE(DownloadUrl::forFile(folder, "/tmp/Kestrova/Imagery/a.jpg"));
  EXPECT_FALSE(DownloadUrl::forFile(folder, folder));
}

TEST_F(DownloadUrlTest, AnAddressThatWouldNotFitItsBlockIsNotMadeRatherThanCut) {
  DownloadUrl::setPortSource([] { return uint16_t{41234}; });
  const std::string folder = "/tmp/Kestrova/Image/";
  const std::string prefix = "http://127.0.0.1:41234/download/";
  const std::string fits(DownloadUrl::kBlockSize - 1 - prefix.size(), 'a');
  const auto url = DownloadUrl::forFile(folder, folder + fits);
  ASSERT_TRUE(url);
  EXPECT_EQ(url->size(), DownloadUrl::kBlockSize - 1);
  EXPECT_FALSE(DownloadUrl::forFile(folder, folder + fits + "a"));
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
