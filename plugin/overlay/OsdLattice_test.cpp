// On-screen text as a lattice: sizes and base64 of a real rendering, and the
// records refused before or after the rasteriser.
#include "plugin/overlay/OsdLattice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "platform/sys/Base64.h"

namespace ksplugs {
namespace {

struct LatticeRequest {
  std::string text;
  char* pointer = nullptr;
  DeviceSettingsParam record{};

  explicit LatticeRequest(std::string line, int32_t fontHeight = 32) : text(std::move(line)) {
    pointer = text.data();
    record.type = SETTINGS_OSD;
    record.operate = 1;
    record.subType = 11;
    record.block.osd.count = 1;
    record.block.osd.text = &pointer;
    record.block.osd.datetimeY = fontHeight;
  }
  ~LatticeRequest() { std::free(record.result.osd.outBase64); }
};

void* noMemory(size_t, size_t) { return nullptr; }

TEST(OsdLattice, RendersADateAsBase64) {
  const struct {
    const char* text;
    int32_t fontHeight;
    int32_t bands;
    // Digits are about half a band wide: bounds far from any font's detail.
    int32_t minWidth;
    int32_t maxWidth;
  } cases[] = {
      {"2024-05-06 07:08:09", 32, 1, 160, 480},
      {"2024-05-06^07:08:09", 32, 2, 80, 260},  // '^' starts a second band
      {"2024-05-06 07:08:09", 0, 1, 80, 240},   // the default height
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    LatticeRequest request(c.text, c.fontHeight);
    ASSERT_EQ(OsdLattice::render(request.record), 0);
    const OsdResult& out = request.record.result.osd;
    const int32_t band = c.fontHeight == 0 ? OsdLattice::kDefaultFontHeight : c.fontHeight;
    EXPECT_EQ(out.outHeight, c.bands * band);
    EXPECT_GE(out.outWidth, c.minWidth);
    EXPECT_LE(out.outWidth, c.maxWidth);
    EXPECT_EQ(out.outLength, static_cast<uint32_t>((out.outWidth + 7) / 8 * out.outHeight));
    ASSERT_NE(out.outBase64, nullptr);
    const size_t textLength = strnlen(out.outBase64, OsdLattice::kBufferBytes);
    EXPECT_EQ(textLength, 4 * ((out.outLength + 2) / 3));
    const auto bytes = sys::base64Decode(std::string_view(out.outBase64, textLength));
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(bytes->size(), out.outLength);
    size_t ink = 0;
    for (uint8_t byte : *bytes) ink += byte != 0;
    EXPECT_GT(ink, 0u);
    // Zero behind the text up to the end of the buffer.
    const char* tail = out.outBase64 + textLength;
    const char* end = out.outBase64 + OsdLattice::kBufferBytes;
    EXPECT_TRUE(std::all_of(tail, end, [](char c) { return c == 0; }));
  }
}

TEST(OsdLattice, RefusesWithoutLeavingAnything) {
  struct Case {
    const char* name;
    int expected;
    void (*spoil)(LatticeRequest&);
    void* (*allocate)(size_t, size_t) = std::calloc;
  };
  const Case cases[] = {
      {"no line", 1000, [](LatticeRequest& r) { r.record.block.osd.count = 0; }},
      {"null text", 1000, [](LatticeRequest& r) { r.record.block.osd.text = nullptr; }},
      {"null line", 1000, [](LatticeRequest& r) { r.pointer = nullptr; }},
      {"empty text", 1013, [](LatticeRequest& r) { r.pointer[0] = '\0'; }},
      {"font too high", 1013, [](LatticeRequest& r) { r.record.block.osd.datetimeY = 513; }},
      {"negative font height", 1013, [](LatticeRequest& r) { r.record.block.osd.datetimeY = -32; }},
      {"lattice above the cap", 1013,
       [](LatticeRequest& r) {
         r.text.assign(60, 'W');
         r.pointer = r.text.data();
         r.record.block.osd.datetimeY = 512;
       }},
      {"no memory", 1002, [](LatticeRequest&) {}, noMemory},
  };
  for (const Case& c : cases) {
    LatticeRequest request("2024-05-06 07:08:09");
    c.spoil(request);
    EXPECT_EQ(OsdLattice::render(request.record, c.allocate), c.expected) << c.name;
    const OsdResult& out = request.record.result.osd;
    EXPECT_EQ(out.outBase64, nullptr) << c.name;
    EXPECT_EQ(out.outWidth | out.outHeight, 0) << c.name;
    EXPECT_EQ(out.outLength, 0u) << c.name;
  }
}

}  // namespace
}  // namespace ksplugs
