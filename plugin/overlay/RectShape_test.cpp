#include "plugin/overlay/RectShape.h"

#include <gtest/gtest.h>

namespace ksplugs {
namespace {

TEST(RectShapeTest, HitTestNamesTheHandleUnderThePoint) {
  const RectShape r{100, 100, 200, 160};
  struct Case {
    double x, y;
    int code;
  } const cases[] = {
      {95, 130, kHandleLeft},  // 5 pixels left of the left edge
      {94, 130, kHandleNone},  // 6 pixels left
      {104, 130, kHandleLeft},      {105, 130, kHandleMove},        {150, 130, kHandleMove},
      {204, 130, kHandleRight},     {205, 130, kHandleNone},  // right edge outside
      {150, 95, kHandleTop},        {150, 94, kHandleNone},         {150, 164, kHandleBottom},
      {150, 165, kHandleNone},      {95, 95, kHandleTopLeft},       {204, 95, kHandleTopRight},
      {95, 164, kHandleBottomLeft}, {204, 164, kHandleBottomRight}, {110, 156, kHandleBottomLeft},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(r.hitTest(c.x, c.y), c.code) << "at " << c.x << "," << c.y;
  }
  // A rectangle crossed by a drag is hit where it is drawn.
  const RectShape crossed{200, 160, 100, 100};
  EXPECT_EQ(crossed.hitTest(95, 130), kHandleLeft);
  EXPECT_EQ(crossed.hitTest(150, 130), kHandleMove);
  EXPECT_EQ(crossed.hitTest(94, 130), kHandleNone);
}

TEST(RectShapeTest, DragFollowsTheHandleWithinTheCell) {
  struct Case {
    const char* what;
    RectShape before;
    int code, dx, dy;
    bool changed;
    RectShape after;
  } const cases[] = {
      {"move", {100, 100, 200, 160}, kHandleMove, 10, -5, true, {110, 95, 210, 155}},
      {"move to the edge", {10, 10, 50, 60}, kHandleMove, -10, 0, true, {0, 10, 40, 60}},
      {"move refused at the edge", {0, 10, 50, 60}, kHandleMove, -1, 0, false, {0, 10, 50, 60}},
      {"move refused past the far edge", {600, 500, 704, 576}, kHandleMove, 0, 1, false, {600, 500, 704, 576}},
      {"move truncates", {10.7, 10.2, 50.9, 60.5}, kHandleMove, 0, 0, true, {10, 10, 50, 60}},
      {"corner clamped at 0", {100, 100, 200, 160}, kHandleTopLeft, -150, -120, true, {0, 0, 200, 160}},
      {"corner clamped at the cell", {100, 100, 200, 160}, kHandleBottomRight, 600, 600, true, {100, 100, 704, 576}},
      {"edge truncates only itself", {10.5, 20.5, 100.5, 200.5}, kHandleRight, 1, 7, true, {10.5, 20.5, 101, 200.5}},
      {"top-right corner", {100, 100, 200, 160}, kHandleTopRight, 5, -5, true, {100, 95, 205, 160}},
      {"bottom-left corner", {100, 100, 200, 160}, kHandleBottomLeft, -5, 5, true, {95, 100, 200, 165}},
      {"bottom edge", {100, 100, 200, 160}, kHandleBottom, 9, 3, true, {100, 100, 200, 163}},
      {"crossing allowed", {100, 100, 200, 160}, kHandleLeft, 150, 0, true, {250, 100, 200, 160}},
      {"crossing stops at the cell", {100, 100, 200, 160}, kHandleLeft, 1000, 0, true, {704, 100, 200, 160}},
      {"no handle", {100, 100, 200, 160}, kHandleNone, 5, 5, false, {100, 100, 200, 160}},
  };
  for (const Case& c : cases) {
    RectShape r = c.before;
    EXPECT_EQ(r.drag(c.code, c.dx, c.dy, 704, 576), c.changed) << c.what;
    EXPECT_DOUBLE_EQ(r.left, c.after.left) << c.what;
    EXPECT_DOUBLE_EQ(r.top, c.after.top) << c.what;
    EXPECT_DOUBLE_EQ(r.right, c.after.right) << c.what;
    EXPECT_DOUBLE_EQ(r.bottom, c.after.bottom) << c.what;
  }
}

}  // namespace
}  // namespace ksplugs
