#include "plugin/overlay/PolygonShape.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "plugin/overlay/DeviceSpace.h"
#include "plugin/overlay/ResultArray.h"

namespace ksplugs {
namespace {

// Degrees to radians with the π the shapes were designed with.
double radians(double degrees) { return degrees * 3.1415926535 / 180.0; }

struct PointI {
  int64_t x;
  int64_t y;
};

PointI whole(PointD p) { return {saturateToInt(p.x), saturateToInt(p.y)}; }

int64_t cross(PointI o, PointI a, PointI b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }

int sign(int64_t v) { return (v > 0) - (v < 0); }

}  // namespace

std::optional<std::vector<PointD>> PolygonShape::defaultShape(int n, int cellWidth, int cellHeight) {
  const double cx = cellWidth / 2;
  const double cy = cellHeight / 2;
  std::vector<PointD> p;
  switch (n) {
    case 3:
      p = {{cx - 87, cy}, {cx + 87, cy - 100}, {cx + 87, cy + 100}};
      break;
    case 4:
      p = {{cx - 100, cy - 50}, {cx + 100, cy - 50}, {cx + 100, cy + 50}, {cx - 100, cy + 50}};
      break;
    case 5:
      for (int i = 0; i < 5; ++i) {
        const double t = radians(i * 72.0);
        p.push_back({cx - 100 * std::sin(t), cy - 100 * std::cos(t)});
      }
      break;
    case 6:
      p = {{cx - 100, cy - 100}, {cx + 100, cy - 100}, {cx + 100, cy}, {cx, cy}, {cx, cy + 100}, {cx - 100, cy + 100}};
      break;
    case 7:
      for (int i = 0; i < 7; ++i) {
        const double t = radians(i * (360.0 / 7.0));
        p.push_back({cx + 100 * std::sin(t), cy + 100 * std::cos(t)});
      }
      break;
    case 8:
      p = {{cx - 100, cy - 100}, {cx + 100, cy - 100}, {cx + 100, cy}, {cx + 50, cy},
           {cx + 50, cy + 100},  {cx - 50, cy + 100},  {cx - 50, cy},  {cx - 100, cy}};
      break;
    default:
      return std::nullopt;
  }
  return p;
}

int PolygonShape::hitTest(const std::vector<PointD>& points, int x, int y, int* vertex) {
  if (vertex != nullptr) *vertex = -1;
  for (size_t i = 0; i < points.size(); ++i) {
    const PointI v = whole(points[i]);
    if (x >= v.x - 5 && x < v.x + 5 && y >= v.y - 5 && y < v.y + 5) {
      if (vertex != nullptr) *vertex = static_cast<int>(i);
      return 13;
    }
  }
  if (points.empty()) return 0;
  bool inside = false;
  const double px = x;
  const double py = y;
  PointD r = points.back();
  for (const PointD& q : points) {
    if ((q.y > py) != (r.y > py) && px < (py - q.y) * (r.x - q.x) / (r.y - q.y) + q.x) inside = !inside;
    r = q;
  }
  return inside ? 1 : 0;
}

bool PolygonShape::edgesConflict(PointD pa, PointD pb, PointD pc, PointD pd) {
  const PointI a = whole(pa), b = whole(pb), c = whole(pc), d = whole(pd);
  const int64_t h = (c.x - a.x) * (b.y - a.y) - (c.y - a.y) * (b.x - a.x);
  const int64_t l = (d.x - a.x) * (b.y - a.y) - (d.y - a.y) * (b.x - a.x);
  if (std::llabs(h) < 100 || std::llabs(l) < 100) return true;
  const auto disjoint = [](int64_t a0, int64_t a1, int64_t b0, int64_t b1) {
    return std::max(a0, a1) < std::min(b0, b1) || std::max(b0, b1) < std::min(a0, a1);
  };
  if (disjoint(a.x, b.x, c.x, d.x) || disjoint(a.y, b.y, c.y, d.y)) return false;
  // a and b strictly on the same side of the line c-d.
  const int sideB = sign(cross(c, b, d));
  const int sideA = sign(cross(c, a, d));
  if (sideA != 0 && sideA == sideB) return false;
  // c and d on the same side of the line a-b.
  if (sign(l) == sign(h)) return false;
  return true;
}

bool PolygonShape::vertexMoveInvalid(const std::vector<PointD>& points, size_t k, PointD v) {
  const size_t n = points.size();
  if (k >= n) return true;
  std::vector<PointD> moved = points;
  moved[k] = v;
  if (n < 4) {
    if (n < 3) return true;
    const PointI p0 = whole(moved[0]), p1 = whole(moved[1]), p2 = whole(moved[2]);
    return std::llabs((p1.y - p0.y) * (p2.x - p0.x) - (p1.x - p0.x) * (p2.y - p0.y)) < 100;
  }
  // The two edges at v: from the previous vertex to v, and from v to the next.
  const size_t prev = (k + n - 1) % n;
  const size_t next = (k + 1) % n;
  const size_t edges[2][2] = {{prev, k}, {k, next}};
  for (const auto& e : edges) {
    for (size_t i = 0; i < n; ++i) {
      const size_t j = (i + 1) % n;
      if (i == e[0] || i == e[1] || j == e[0] || j == e[1]) continue;
      if (edgesConflict(moved[e[0]], moved[e[1]], moved[i], moved[j])) return true;
    }
  }
  return false;
}

std::optional<bool> PolygonShape::dragStep(std::vector<PointD>& points, int code, int vertex, int dx, int dy,
                                           const PixelBounds& bounds) {
  if (code == 1) {
    if (movedInside(points, dx, dy, bounds)) {
      for (PointD& p : points) p = {p.x + dx, p.y + dy};
    }
    return std::nullopt;
  }
  if (code != 13 || vertex < 0 || static_cast<size_t>(vertex) >= points.size()) return std::nullopt;
  const PointD old = points[vertex];
  const PointD v{std::trunc(old.x + dx), std::trunc(old.y + dy)};
  if (!bounds.contains(v.x, v.y)) return std::nullopt;
  const bool invalid = vertexMoveInvalid(points, vertex, v);
  points[vertex] = v;
  return invalid;
}

ui::CursorShape PolygonShape::cursorFor(int code) {
  if (code == 13) return ui::CursorShape::SizeNWSE;
  if (code == 1) return ui::CursorShape::SizeAll;
  return ui::CursorShape::Arrow;
}

int PolygonShape::readBack(const std::vector<PointD>& points, int cellWidth, int cellHeight, CountedResult& out) {
  out.outCount = 0;
  out.outData = nullptr;
  if (cellWidth <= 0 || cellHeight <= 0 || points.empty()) return 0;
  int32_t* data = allocateResultArray<int32_t>(points.size() * 2);
  if (data == nullptr) return KS_E_NO_MEMORY;
  for (size_t i = 0; i < points.size(); ++i) {
    data[2 * i] = DeviceSpace::kNormalised.toDeviceX(points[i].x, cellWidth);
    data[2 * i + 1] = DeviceSpace::kNormalised.toDeviceY(points[i].y, cellHeight);
  }
  out.outData = data;
  out.outCount = static_cast<uint32_t>(points.size());
  return 0;
}

bool PolygonShape::movedInside(const std::vector<PointD>& points, int dx, int dy, const PixelBounds& bounds) {
  for (const PointD& p : points) {
    if (!bounds.contains(std::trunc(p.x + dx), std::trunc(p.y + dy))) return false;
  }
  return true;
}

}  // namespace ksplugs
