#pragma once
// The geometry the region editors share (polygon regions, the passenger
// counting region): the built-in default shapes, the hit test of one region,
// and the check that refuses a vertex move which would make a region
// degenerate or cross itself. Points are cell pixels; every product of
// coordinates is taken in 64 bits, so no cell size or page value overflows.
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/ui/Backend.h"
#include "plugin/api/ksplugs.h"

namespace ksplugs {

struct PointD {
  double x = 0;
  double y = 0;
  bool operator==(const PointD&) const = default;
};

// A rectangle with left and top inside, right and bottom outside.
struct PixelBounds {
  double left = 0;
  double top = 0;
  double right = 0;
  double bottom = 0;
  bool contains(double x, double y) const { return x >= left && x < right && y >= top && y < bottom; }
};

class PolygonShape {
 public:
  static constexpr int kMinDefault = 3;
  static constexpr int kMaxDefault = 8;

  // The default shape of n vertices (3 to 8) centred in the cell; none for
  // other counts.
  static std::optional<std::vector<PointD>> defaultShape(int n, int cellWidth, int cellHeight);

  // The region's handle code under (x, y): 13 on a vertex (the first whose
  // square of 5 pixels around it holds the point; *vertex gets its index),
  // 1 inside by the even-odd rule, else 0 (and *vertex -1).
  static int hitTest(const std::vector<PointD>& points, int x, int y, int* vertex);

  // Whether the edge a-b conflicts with the edge c-d: nearly collinear with
  // it (within 100 in the cross product) or crossing it.
  static bool edgesConflict(PointD a, PointD b, PointD c, PointD d);

  // Whether moving vertex k to v leaves an invalid region: for a triangle,
  // three points nearly in a line (with v in place); for more points, an
  // edge at v that conflicts with an edge that shares no vertex with it.
  static bool vertexMoveInvalid(const std::vector<PointD>& points, size_t k, PointD v);

  // Whether every point moved by (dx, dy), truncated, lies within bounds.
  static bool movedInside(const std::vector<PointD>& points, int dx, int dy, const PixelBounds& bounds);

  // One drag step of a region by (dx, dy) with the code it was grabbed by:
  // 1 moves every point, only when all stay within bounds; 13 moves
  // `vertex` to its truncated new place when that lies within bounds and
  // answers whether the region is then invalid (nothing when nothing moved).
  static std::optional<bool> dragStep(std::vector<PointD>& points, int code, int vertex, int dx, int dy,
                                      const PixelBounds& bounds);

  // The cursor over a region's code: a vertex, the inside, or neither.
  static ui::CursorShape cursorFor(int code);

  // The points in the normalised space as malloc'd x, y pairs of the
  // record's result area; 1002 when they cannot be allocated.
  static int readBack(const std::vector<PointD>& points, int cellWidth, int cellHeight, CountedResult& out);
};

}  // namespace ksplugs
