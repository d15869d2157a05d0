#include "plugin/overlay/PolygonShape.h"

#include <gtest/gtest.h>

#include <cmath>

namespace ksplugs {
namespace {

TEST(PolygonShape, DefaultShapesAreCentredAndOnlyForThreeToEightPoints) {
  // cx = 352, cy = 288 in a 704 x 576 cell.
  const auto four = PolygonShape::defaultShape(4, 704, 576);
  ASSERT_TRUE(four);
  EXPECT_EQ(*four, (std::vector<PointD>{{252, 238}, {452, 238}, {452, 338}, {252, 338}}));
  const auto three = PolygonShape::defaultShape(3, 704, 576);
  ASSERT_TRUE(three);
  EXPECT_EQ(*three, (std::vector<PointD>{{265, 288}, {439, 188}, {439, 388}}));
  // Integer halving of an odd cell size.
  EXPECT_EQ(PolygonShape::defaultShape(4, 703, 575)->front(), (PointD{251, 237}));
  // The pentagon starts straight above the centre and turns left; the
  // heptagon starts straight below and turns by a seventh of a full turn.
  const auto five = PolygonShape::defaultShape(5, 704, 576);
  ASSERT_EQ(five->size(), 5u);
  EXPECT_NEAR((*five)[0].x, 352, 1e-9);
  EXPECT_NEAR((*five)[0].y, 188, 1e-9);
  EXPECT_NEAR((*five)[1].x, 352 - 100 * std::sin(72 * M_PI / 180), 1e-6);
  const auto seven = PolygonShape::defaultShape(7, 704, 576);
  ASSERT_EQ(seven->size(), 7u);
  EXPECT_NEAR((*seven)[1].x, 352 + 100 * std::sin(2 * M_PI / 7), 1e-6);
  EXPECT_NEAR((*seven)[1].y, 288 + 100 * std::cos(2 * M_PI / 7), 1e-6);
  EXPECT_EQ(PolygonShape::defaultShape(6, 704, 576)->size(), 6u);
  EXPECT_EQ(PolygonShape::defaultShape(8, 704, 576)->size(), 8u);
  for (int n : {-1, 0, 1, 2, 9, 100}) EXPECT_FALSE(PolygonShape::defaultShape(n, 704, 576)) << n;
}

TEST(PolygonShape, HitTestFindsVerticesFirstThenTheInside) {
  const std::vector<PointD> square{{100, 100}, {200, 100}, {200, 200}, {100, 200}};
  struct Case {
    int x, y, code, vertex;
  } cases[] = {
      {100, 100, 13, 0}, {95, 95, 13, 0},   {104, 104, 13, 0}, {105, 100, 1, -1},  // right edge of the square is out
      {94, 100, 0, -1},  {199, 199, 13, 2}, {150, 150, 1, -1}, {250, 150, 0, -1},
  };
  for (const Case& c : cases) {
    int vertex = 99;
    EXPECT_EQ(PolygonShape::hitTest(square, c.x, c.y, &vertex), c.code) << c.x << "," << c.y;
    EXPECT_EQ(vertex, c.vertex) << c.x << "," << c.y;
  }
}

TEST(PolygonShape, VertexMovesThatCrossOrFlattenAreInvalid) {
  const std::vector<PointD> square{{100, 100}, {300, 100}, {300, 300}, {100, 300}};
  // Across the opposite edge: the region would cross itself.
  EXPECT_TRUE(PolygonShape::vertexMoveInvalid(square, 0, {150, 350}));
  // A plain move inward is fine.
  EXPECT_FALSE(PolygonShape::vertexMoveInvalid(square, 0, {150, 120}));
  // A triangle whose moved vertex lands on the line through the others.
  const std::vector<PointD> triangle{{100, 100}, {300, 100}, {200, 300}};
  EXPECT_TRUE(PolygonShape::vertexMoveInvalid(triangle, 2, {200, 100}));
  EXPECT_FALSE(PolygonShape::vertexMoveInvalid(triangle, 2, {200, 250}));
  // A flat triangle made good by the move is accepted.
  const std::vector<PointD> flat{{100, 100}, {300, 100}, {200, 100}};
  EXPECT_FALSE(PolygonShape::vertexMoveInvalid(flat, 2, {200, 250}));
}

TEST(PolygonShape, ConflictProductsDoNotOverflowInLargeCells) {
  // Edges whose cross products pass 2^31: a and b far apart, c-d crossing
  // them near the middle.
  EXPECT_TRUE(PolygonShape::edgesConflict({0, 0}, {60000, 60000}, {0, 60000}, {60000, 0}));
  EXPECT_FALSE(PolygonShape::edgesConflict({0, 0}, {60000, 0}, {0, 50000}, {60000, 50000}));
}

}  // namespace
}  // namespace ksplugs
