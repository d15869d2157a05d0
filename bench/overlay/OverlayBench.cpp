// Time to draw the settings editors over one picture of the settings cell:
// eight on-screen text lines and the date, 4 and 64 privacy masks, and the
// three face boxes, in a 704 x 576 and a 1920 x 1080 cell. Each case is
// reported beside the cost of copying one picture of the same size (what a
// frame costs before anything is drawn over it), as a ratio.
//
// Usage: bench_overlay [pictures per case, default 300]
#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "plugin/overlay/OverlayHost.h"

namespace {

using ksplugs::OverlayHost;

// Median microseconds of `work` over `runs` calls.
double medianMicros(int runs, const std::function<void()>& work) {
  std::vector<double> us;
  us.reserve(runs);
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  std::nth_element(us.begin(), us.begin() + us.size() / 2, us.end());
  return us[us.size() / 2];
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
    struct Case {
      const char* name;
      DeviceSettingsParam record;
    } cases[] = {
        {"8 text lines + date", osdRecord(text, tx, ty)},
        {"4 privacy masks", privacyRecord(4, few)},
        {"64 privacy masks", privacyRecord(64, many)},
        {"face boxes", faceRecord()},
    };
    for (Case& c : cases) {
      OverlayHost host;
      host.resize(s.w, s.h);
      host.setVideoSize(s.w, s.h);
      const int applied = host.apply(c.record);
      if (applied != 0) {
        std::fprintf(stderr, "%s: apply answered %d\n", c.name, applied);
        return 1;
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
  return 0;
}
