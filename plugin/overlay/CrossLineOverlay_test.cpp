#include "plugin/overlay/CrossLineOverlay.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace ksplugs {
namespace {

DeviceSettingsParam lineRecord(int subType, int x0, int y0, int x1, int y1, int orientation = 1) {
  DeviceSettingsParam r{};
  r.type = SETTINGS_CROSS_LINE;
  r.operate = 1;
  r.subType = subType;
  r.block.crossLine = {orientation, {x0, x1}, {y0, y1}};
  return r;
}

CrossLineResult readBack(CrossLineOverlay& line) {
  DeviceSettingsParam r{};
  r.type = SETTINGS_CROSS_LINE;
  EXPECT_EQ(line.readBack(r), 0);
  return r.result.crossLine;
}

// Pixels of an exact colour (0xRRGGBB) in a row or column band of an image.
int countColour(cairo_surface_t* s, uint32_t rgb, int x0, int y0, int x1, int y1) {
  cairo_surface_flush(s);
  const auto* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if ((reinterpret_cast<const uint32_t*>(data + y * stride)[x] & 0xFFFFFF) == rgb) ++n;
  return n;
}

TEST(CrossLineOverlay, ValuesRoundTripIncludingTheFarEndsOfInt32) {
  CrossLineOverlay line(400, 300);
  ASSERT_EQ(line.apply(lineRecord(1, 0, 0, 9999, 9999)), 0);
  EXPECT_EQ(line.p1(), (PointD{400, 300}));
  CrossLineResult out = readBack(line);
  EXPECT_EQ(out.outX[0], 0);
  EXPECT_EQ(out.outX[1], 9999);
  EXPECT_EQ(out.outY[1], 9999);
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  for (const int size : {703, 704, 1000}) {
    CrossLineOverlay other(size, size / 2 + 1);
    int wrong = 0;
    for (int v = 0; v <= 9999; ++v) {
      other.apply(lineRecord(1, v, v, 9999 - v, kMin + v, 7));
      out = readBack(other);
      if (out.outX[0] != v || out.outY[0] != v || out.outX[1] != 9999 - v || out.outY[1] != kMin + v) ++wrong;
    }
    other.apply(lineRecord(1, kMax, kMin, kMin, kMax, 7));
    out = readBack(other);
    EXPECT_EQ(out.outX[0], kMax);
    EXPECT_EQ(out.outX[1], kMin);
    // Orientations other than 1 to 3 are read back as sent.
    EXPECT_EQ(out.outOrientation, 7);
    EXPECT_EQ(wrong, 0) << size;
  }
}

TEST(CrossLineOverlay, MouseGrabsEndsInclusiveMovesTheLineAndDrawsNewOnes) {
  CrossLineOverlay line(400, 300);
  ASSERT_EQ(line.apply(lineRecord(1, 2500, 5000, 7500, 5000)), 0);  // (100, 150)-(300, 150)
  // 10 pixels right of p0 grabs it; 11 pixels away is near the line instead.
  line.mouseDown(110, 150);
  EXPECT_EQ(line.dragMode(), 2);
  line.mouseMove(120, 160);
  line.mouseUp(120, 160);
  EXPECT_EQ(line.p0(), (PointD{120, 160}));
  line.mouseDown(131, 161);
  EXPECT_EQ(line.dragMode(), 4);
  line.mouseUp(131, 161);
  // Far from both ends and the line: nothing grabbed.
  line.mouseDown(200, 30);
  EXPECT_EQ(line.dragMode(), 0);
  line.mouseUp(200, 30);
  // The whole line moves, but not out of the cell.
  line.mouseDown(200, 155);
  line.mouseMove(210, 165);
  EXPECT_EQ(line.p0(), (PointD{130, 170}));
  EXPECT_NEAR(line.p1().x, 310, 0.1);
  line.mouseMove(300, 165);  // p1 would pass x = 400
  EXPECT_EQ(line.p0(), (PointD{130, 170}));
  EXPECT_NEAR(line.p1().x, 310, 0.1);
  line.mouseUp(300, 165);

  // A new line: nothing drawn until the press, then p1 follows the pointer
  // up to the cell's edges, also when the pointer leaves the cell.
  ASSERT_EQ(line.apply(lineRecord(2, 0, 0, 0, 0)), 0);
  line.mouseDown(50, 60);
  EXPECT_EQ(line.dragMode(), 5);
  line.mouseMove(450, 320);
  line.mouseUp(450, 320);
  EXPECT_EQ(line.p0(), (PointD{50, 60}));
  EXPECT_EQ(line.p1(), (PointD{400, 300}));
}

TEST(CrossLineOverlay, ArrowHeadsFollowTheOrientationAndALineWithoutLengthDrawsOnlyHandles) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 400, 300);
  const auto paint = [&](CrossLineOverlay& line) {
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    line.paint(cr);
    cairo_destroy(cr);
  };
  constexpr uint32_t kOrange = 0xFFC90E;
  constexpr uint32_t kBlue = 0x19BFFD;
  // A horizontal line left to right from (100, 150) to (300, 150): the
  // arrow runs from 20 pixels below the middle to 20 above, its head (wider
  // than the shaft) at one end.
  int blue[4] = {};
  for (const int orientation : {1, 2, 3}) {
    CrossLineOverlay line(400, 300);
    ASSERT_EQ(line.apply(lineRecord(1, 2500, 5000, 7500, 5000, orientation)), 0);
    paint(line);
    const int nearTop = countColour(s, kOrange, 190, 134, 211, 138);
    const int nearBottom = countColour(s, kOrange, 190, 163, 211, 167);
    if (orientation == 1) {
      EXPECT_GT(nearTop, nearBottom + 4) << "the head is above the middle";
    } else if (orientation == 2) {
      EXPECT_GT(nearBottom, nearTop + 4) << "the head is below the middle";
    }
    blue[orientation] = countColour(s, kBlue, 150, 100, 250, 200);
    EXPECT_GT(countColour(s, 0x00FF00, 100, 148, 300, 152), 150) << "the line itself";
  }
  // "B" in blue with one arrow; with two, the second arrow is blue as well.
  EXPECT_GT(blue[1], 0);
  EXPECT_GT(blue[3], blue[1] + 20);
  CrossLineOverlay point(400, 300);
  ASSERT_EQ(point.apply(lineRecord(1, 5000, 5000, 5000, 5000)), 0);
  paint(point);
  EXPECT_EQ(countColour(s, kOrange, 0, 0, 400, 300), 0);
  EXPECT_GT(countColour(s, 0xFF0000, 190, 140, 210, 160), 0) << "the handles";
  cairo_surface_destroy(s);
}

}  // namespace
}  // namespace ksplugs
