#pragma once
// Tests only: records for the privacy editor, its read back as plain
// rectangles, a region editor's read back as points, and a transparent ARGB
// canvas to paint an editor or the host on.
#include <cairo.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "plugin/api/ksplugs.h"

namespace ksplugs::testing {

using Rect4 = std::array<int32_t, 4>;

// A privacy replace-all record whose arrays live in the object.
struct PrivacyReplaceAll {
  std::vector<int32_t> left, top, right, bottom;
  DeviceSettingsParam record{};

  explicit PrivacyReplaceAll(const std::vector<Rect4>& rects, uint32_t fillColor = 0xFF0000) {
    for (const Rect4& r : rects) {
      left.push_back(r[0]);
      top.push_back(r[1]);
      right.push_back(r[2]);
      bottom.push_back(r[3]);
    }
    record.type = SETTINGS_PRIVACY;
    record.operate = 1;
    record.subType = 1;
    record.block.privacy = {fillColor,    static_cast<uint32_t>(rects.size()), left.data(), top.data(), right.data(),
                            bottom.data()};
  }
};

// The rectangles of a privacy read back; frees the result array.
inline std::vector<Rect4> privacyRects(DeviceSettingsParam& record) {
  std::vector<Rect4> rects;
  const CountedResult& out = record.result.counted;
  for (uint32_t i = 0; i < out.outCount && out.outData != nullptr; ++i) {
    rects.push_back({out.outData[i * 4], out.outData[i * 4 + 1], out.outData[i * 4 + 2], out.outData[i * 4 + 3]});
  }
  std::free(out.outData);
  record.result.counted = {};
  return rects;
}

// The points of a region's read back as x, y, x, y, ... of the editor's
// type `type` and `blockId`; the read back must answer 0. Frees the array.
template <typename Editor>
std::vector<int32_t> regionPoints(Editor& editor, int type, int blockId = 0) {
  DeviceSettingsParam record{};
  record.type = type;
  record.operate = 2;
  record.blockId = blockId;
  EXPECT_EQ(editor.readBack(record), 0);
  const CountedResult& out = record.result.counted;
  std::vector<int32_t> points;
  if (out.outData != nullptr) points.assign(out.outData, out.outData + 2 * out.outCount);
  std::free(out.outData);
  return points;
}

// A transparent ARGB image; draw() hands a fresh context to `paint`.
class Canvas {
 public:
  Canvas(int width, int height) : surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)) {}
  ~Canvas() { cairo_surface_destroy(surface_); }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  template <typename Paint>
  auto draw(Paint&& paint) {
    cairo_t* cr = cairo_create(surface_);
    const auto result = paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface_);
    return result;
  }
  uint32_t at(int x, int y) const {
    const unsigned char* row = cairo_image_surface_get_data(surface_) + y * cairo_image_surface_get_stride(surface_);
    return reinterpret_cast<const uint32_t*>(row)[x];
  }

 private:
  cairo_surface_t* surface_;
};

constexpr uint32_t kArgbRed = 0xFFFF0000;
constexpr uint32_t kArgbGreen = 0xFF00FF00;
constexpr uint32_t kArgbBlue = 0xFF0000FF;

}  // namespace ksplugs::testing
