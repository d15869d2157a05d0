// Time to draw the settings editors over one picture of the settings cell:
// eight on-screen text lines and the date, 4 and 64 privacy masks, the three
// face boxes, eight polygon regions of eight vertices, the crossing line and
// the passenger region, in a 704 x 576 and a 1920 x 1080 cell. Each case is
// reported beside the cost of copying one picture of the same size (what a
// frame costs before anything is drawn over it), as a ratio.
//
// Then the check of one valid vertex move of a region of 8, 64 and 256
// vertices, against checking every pair of the region's edges (what a
// whole-region validation would cost).
//
// Usage: bench_overlay [pictures per case, default 300]
#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench/support/ProcessCpu.h"
#include "plugin/overlay/OverlayHost.h"
#include "plugin/overlay/PolygonShape.h"

namespace {

using ksplugs::OverlayHost;
using ksplugs::PointD;
using ksplugs::PolygonShape;

// Median microseconds of `work` over `runs` calls.
double medianMicros(int runs, const std::function<void()>& work) {
  std::vector<double> us;
  us.reserve(runs);
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  return benchsupport::percentile(us, 0.5, 0.0);
}

DeviceSettingsParam osdRecord(std::vector<char*>& text, std::vector<int32_t>& x, std::vector<int32_t>& y) {
  static char lines[8][32];
  for (int i = 0; i < 8; ++i) {
    std::snprintf(lines[i], sizeof lines[i], "Camera %d entrance north", i + 1);
    text.push_back(lines[i]);
    x.push_back(40 + (i % 2) * 300);
    y.push_back(60 + i * 60);
  }
  DeviceSettingsParam r{};
  r.type = SETTINGS_OSD;
  r.operate = 1;
  r.subType = 1;
  r.block.osd.count = 8;
  r.block.osd.datetimeFormat = 1;
  r.block.osd.datetimeX = 400;
  r.block.osd.datetimeY = 20;
  r.block.osd.text = text.data();
  r.block.osd.textX = x.data();
  r.block.osd.textY = y.data();
  return r;
}

DeviceSettingsParam privacyRecord(int count, std::vector<int32_t> (&edges)[4]) {
  for (int i = 0; i < count; ++i) {
    const int col = i % 8;
    const int row = i / 8;
    edges[0].push_back(10 + col * 85);
    edges[1].push_back(10 + row * 70);
    edges[2].push_back(10 + col * 85 + 60);
    edges[3].push_back(10 + row * 70 + 50);
  }
  DeviceSettingsParam r{};
  r.type = SETTINGS_PRIVACY;
  r.operate = 1;
  r.subType = 1;
  r.block.privacy.fillColor = 0x0000FF;
  r.block.privacy.count = static_cast<uint32_t>(count);
  r.block.privacy.left = edges[0].data();
  r.block.privacy.top = edges[1].data();
  r.block.privacy.right = edges[2].data();
  r.block.privacy.bottom = edges[3].data();
  return r;
}

DeviceSettingsParam faceRecord() {
  DeviceSettingsParam r{};
  r.type = SETTINGS_FACE;
  r.operate = 1;
  r.subType = 1;
  FaceBlock& f = r.block.face;
  f.detectLeft = 1000;
  f.detectTop = 1000;
  f.detectRight = 9000;
  f.detectBottom = 9000;
  f.detectDefRight = 10000;
  f.detectDefBottom = 10000;
  f.width[0] = f.defWidth[0] = 2000;
  f.width[1] = f.defWidth[1] = 5000;
  f.height[0] = f.defHeight[0] = 2000;
  f.height[1] = f.defHeight[1] = 5000;
  return r;
}

DeviceSettingsParam polygonRecord(int region, std::vector<int32_t>& x, std::vector<int32_t>& y) {
  // Eight-pointed stars on a 4 x 2 grid of the normalised space.
  const double cx = 1250 + (region % 4) * 2500;
  const double cy = 2500 + (region / 4) * 5000;
  for (int i = 0; i < 8; ++i) {
    const double a = i * M_PI / 4;
    const double r = i % 2 ? 600 : 1100;
    x.push_back(static_cast<int32_t>(cx + r * std::cos(a)));
    y.push_back(static_cast<int32_t>(cy + r * std::sin(a)));
  }
  DeviceSettingsParam r{};
  r.type = SETTINGS_POLYGON;
  r.operate = 1;
  r.subType = 4;
  r.block.polygon.edge = 8;
  r.block.polygon.x = x.data();
  r.block.polygon.y = y.data();
  return r;
}

// A star of n vertices (radii 300 and 500 in turn) in a 1920 x 1080 cell:
// no two edges near each other or in a line, so a valid move is checked
// against every edge, the check's most expensive case.
std::vector<PointD> star(int n) {
  std::vector<PointD> points;
  for (int i = 0; i < n; ++i) {
    const double a = 2 * M_PI * i / n;
    const double r = i % 2 ? 300 : 500;
    points.push_back({960 + r * std::cos(a), 540 + r * std::sin(a)});
  }
  return points;
}

void validationBench(int runs) {
  std::printf("\n%-28s %12s %16s %8s\n", "vertex move check", "check us", "all pairs us", "ratio");
  for (const int n : {8, 64, 256}) {
    const std::vector<PointD> points = star(n);
    const PointD v{points[0].x - 2, points[0].y};
    if (PolygonShape::vertexMoveInvalid(points, 0, v)) {
      std::fprintf(stderr, "the benchmark's move of %d vertices is not a valid one\n", n);
      return;
    }
    volatile bool sink = false;
    const double check = medianMicros(runs, [&] { sink = PolygonShape::vertexMoveInvalid(points, 0, v); });
    std::vector<PointD> moved = points;
    moved[0] = v;
    const double pairs = medianMicros(std::max(10, runs / 10), [&] {
      bool bad = false;
      for (int i = 0; i < n && !bad; ++i)
        for (int j = i + 2; j < n && !bad; ++j) {
          if (i == 0 && j == n - 1) continue;
          bad = PolygonShape::edgesConflict(moved[i], moved[(i + 1) % n], moved[j], moved[(j + 1) % n]);
        }
      sink = bad;
    });
    char name[32];
    std::snprintf(name, sizeof name, "%d vertices", n);
    std::printf("%-28s %12.2f %16.2f %7.3fx\n", name, check, pairs, check / pairs);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::clamp(std::atoi(argv[1]), 10, 100000) : 300;
  struct Size {
    int w, h;
  } sizes[] = {{704, 576}, {1920, 1080}};
  std::printf("%-22s %-10s %10s %12s %8s\n", "case", "cell", "paint us", "copy us", "ratio");
  for (const Size s : sizes) {
    cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_RGB24, s.w, s.h);
    cairo_surface_t* picture = cairo_image_surface_create(CAIRO_FORMAT_RGB24, s.w, s.h);
    const size_t bytes = static_cast<size_t>(cairo_image_surface_get_stride(target)) * s.h;
    std::memset(cairo_image_surface_get_data(picture), 0x40, bytes);
    // The baseline: one picture copied into the cell's image.
    const double copy = medianMicros(runs, [&] {
      cairo_surface_flush(target);
      std::memcpy(cairo_image_surface_get_data(target), cairo_image_surface_get_data(picture), bytes);
      cairo_surface_mark_dirty(target);
    });

    std::vector<char*> text;
    std::vector<int32_t> tx, ty;
    std::vector<int32_t> few[4], many[4];
    std::vector<int32_t> px[8], py[8];
    std::vector<DeviceSettingsParam> regions;
    for (int i = 0; i < 8; ++i) regions.push_back(polygonRecord(i, px[i], py[i]));
    DeviceSettingsParam line{};
    line.type = SETTINGS_CROSS_LINE;
    line.subType = 1;
    line.block.crossLine = {3, {2000, 8000}, {3000, 7000}};
    std::vector<int32_t> passengerX{2000, 6000, 7000, 3000, 1500, 1200};
    std::vector<int32_t> passengerY{2000, 2500, 6000, 7500, 6000, 4000};
    DeviceSettingsParam passenger{};
    passenger.type = SETTINGS_PASSENGER;
    passenger.subType = 1;
    passenger.block.passenger = {3, 6, passengerX.data(), passengerY.data(), 0, 0, 9999, 9999};
    struct Case {
      const char* name;
      std::vector<DeviceSettingsParam> records;
    } cases[] = {
        {"8 text lines + date", {osdRecord(text, tx, ty)}},
        {"4 privacy masks", {privacyRecord(4, few)}},
        {"64 privacy masks", {privacyRecord(64, many)}},
        {"face boxes", {faceRecord()}},
        {"8 regions x 8 vertices", regions},
        {"crossing line", {line}},
        {"passenger region", {passenger}},
    };
    for (Case& c : cases) {
      OverlayHost host;
      host.resize(s.w, s.h);
      host.setVideoSize(s.w, s.h);
      for (const DeviceSettingsParam& record : c.records) {
        const int applied = host.apply(record);
        if (applied != 0) {
          std::fprintf(stderr, "%s: apply answered %d\n", c.name, applied);
          return 1;
        }
      }
      host.resize(s.w, s.h);
      cairo_t* cr = cairo_create(target);
      const double paint = medianMicros(runs, [&] {
        cairo_save(cr);
        host.paint(cr);
        cairo_restore(cr);
        cairo_surface_flush(target);
      });
      cairo_destroy(cr);
      char cell[16];
      std::snprintf(cell, sizeof cell, "%dx%d", s.w, s.h);
      std::printf("%-22s %-10s %10.1f %12.1f %7.2fx\n", c.name, cell, paint, copy, paint / copy);
    }
    cairo_surface_destroy(picture);
    cairo_surface_destroy(target);
  }
  validationBench(runs * 10);
  return 0;
}
