// The on-screen text editor: places through the OSD grid and back, the
// records it refuses, what it draws and how the mouse drags an item.
#include "plugin/overlay/OsdOverlay.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "plugin/overlay/OverlayHost.h"

namespace ksplugs {
namespace {

constexpr uint32_t kRed = 0xFFFF0000;

struct Line {
  std::string text;
  int32_t x = 0;
  int32_t y = 0;
};

// An OSD record with the arrays it points to.
struct OsdRecord {
  std::vector<std::string> texts;
  std::vector<char*> pointers;
  std::vector<int32_t> xs;
  std::vector<int32_t> ys;
  DeviceSettingsParam record{};

  OsdRecord(int32_t subType, const std::vector<Line>& lines, int32_t dateX = 0, int32_t dateY = 0, int32_t format = 1) {
    for (const Line& line : lines) {
      texts.push_back(line.text);
      xs.push_back(line.x);
      ys.push_back(line.y);
    }
    for (std::string& text : texts) pointers.push_back(text.data());
    record.type = SETTINGS_OSD;
    record.operate = 1;
    record.subType = subType;
    OsdBlock& osd = record.block.osd;
    osd.count = static_cast<uint32_t>(lines.size());
    osd.datetimeFormat = format;
    osd.datetimeX = dateX;
    osd.datetimeY = dateY;
    osd.text = pointers.empty() ? nullptr : pointers.data();
    osd.textX = xs.empty() ? nullptr : xs.data();
    osd.textY = ys.empty() ? nullptr : ys.data();
  }
};

struct ReadBack {
  int result = -1;
  uint32_t count = 0;
  int32_t dateX = 0;
  int32_t dateY = 0;
  std::vector<std::u16string> texts;
  std::vector<std::pair<int32_t, int32_t>> places;
  bool arraysNull = true;
};

// Reads back and frees what the editor handed out, as the shell does.
template <typename Editor>
ReadBack readBack(Editor& editor) {
  DeviceSettingsParam record{};
  record.type = SETTINGS_OSD;
  record.operate = 2;
  ReadBack answer;
  answer.result = editor.readBack(record);
  const OsdResult& out = record.result.osd;
  answer.count = out.outCount;
  answer.dateX = out.outDatetimeX;
  answer.dateY = out.outDatetimeY;
  answer.arraysNull = out.outText == nullptr && out.outTextPos == nullptr;
  for (uint32_t i = 0; out.outText != nullptr && i < out.outCount; ++i) {
    answer.texts.emplace_back(out.outText[i]);
    answer.places.emplace_back(out.outTextPos[2 * i], out.outTextPos[2 * i + 1]);
    std::free(out.outText[i]);
  }
  std::free(out.outText);
  std::free(out.outTextPos);
  return answer;
}

OsdOverlay::Hooks fixedSize(double width, double height) {
  OsdOverlay::Hooks hooks;
  hooks.measure = [width, height](std::u16string_view) { return OsdOverlay::TextSize{width, height}; };
  return hooks;
}

// A cell-sized picture the editor paints on.
struct Canvas {
  cairo_surface_t* surface;
  int width;
  Canvas(int w, int h) : surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h)), width(w) {}
  ~Canvas() { cairo_surface_destroy(surface); }
  template <typename Draw>
  void paintWith(Draw&& draw) {
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    cairo_paint(cr);
    draw(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
  }
  void paint(OverlayEditor& editor) {
    paintWith([&](cairo_t* cr) { editor.paint(cr); });
  }
  uint32_t pixel(int x, int y) const {
    const auto* row = cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
    return reinterpret_cast<const uint32_t*>(row)[x];
  }
  // Pixels of mostly red ink (antialiased text edges included).
  int redIn(int left, int top, int right, int bottom) const {
    int count = 0;
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) {
        const uint32_t p = pixel(x, y);
        count += ((p >> 16) & 0xFF) >= 0x80 && (p & 0xFFFF) == 0;
      }
    }
    return count;
  }
};

TEST(OsdOverlay, EveryGridPlaceReadsBackAsSent) {
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  const std::pair<int, int> cells[] = {{703, 575}, {704, 576}, {352, 288}};
  for (const auto& [width, height] : cells) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    // Items without size are never pulled back from the far edges.
    OsdOverlay editor(width, height, fixedSize(0, 0));
    std::vector<Line> lines;
    for (int32_t i = 0; i <= 703; ++i) lines.push_back({"x", i, i % 576});
    lines.push_back({"far", kMin, kMin});
    lines.push_back({"far", kMax, kMax});
    OsdRecord record(OsdOverlay::kReplaceAll, lines, 703, 575);
    ASSERT_EQ(editor.apply(record.record), 0);
    const ReadBack back = readBack(editor);
    ASSERT_EQ(back.count, lines.size());
    EXPECT_EQ(back.dateX, 703);
    EXPECT_EQ(back.dateY, 575);
    int wrong = 0;
    for (int32_t i = 0; i <= 703; ++i) wrong += back.places[i] != std::make_pair(i, i % 576);
    EXPECT_EQ(wrong, 0);
    // Far left and above stay where they are; far right and below come back
    // to the cell's edge.
    EXPECT_EQ(back.places[704], std::make_pair(kMin, kMin));
    EXPECT_EQ(back.places[705], std::make_pair(703, 575));
  }
}

TEST(OsdOverlay, PlacesItemsInsideTheFarEdges) {
  // A 150-pixel-wide date/time item sent to the right edge of a 704-pixel
  // cell starts at pixel 554: hovered there, not one pixel left of it.
  OsdOverlay editor(704, 576, fixedSize(150, 20));
  OsdRecord record(OsdOverlay::kReplaceAll, {{"line", 0, 575}}, 703, 0);
  ASSERT_EQ(editor.apply(record.record), 0);
  EXPECT_EQ(editor.mouseMove(553, 5), std::nullopt);
  EXPECT_EQ(editor.mouseMove(554, 5), ui::CursorShape::SizeAll);
  const ReadBack back = readBack(editor);
  EXPECT_EQ(back.dateX, 553);                         // pixel 554 in the grid
  EXPECT_EQ(back.places[0], std::make_pair(0, 555));  // pixel 556 = 576 - 20
}

TEST(OsdOverlay, EditsTheListBySubType) {
  OsdOverlay editor(704, 576, fixedSize(10, 10));
  ASSERT_EQ(editor.apply(OsdRecord(OsdOverlay::kReplaceAll, {{"a^b", 10, 20}, {"c", 30, 40}}).record), 0);
  EXPECT_TRUE(editor.active());
  ASSERT_EQ(editor.apply(OsdRecord(OsdOverlay::kAddLines, {{"d", 50, 60}}).record), 0);
  OsdRecord change(OsdOverlay::kChangeText, {{"C2"}});
  change.record.blockId = 1;
  ASSERT_EQ(editor.apply(change.record), 0);
  change.record.blockId = 3;  // no such line: nothing
  ASSERT_EQ(editor.apply(change.record), 0);
  ReadBack back = readBack(editor);
  EXPECT_EQ(back.texts, (std::vector<std::u16string>{u"a\nb", u"C2", u"d"}));
  EXPECT_EQ(back.places[2], std::make_pair(50, 60));

  OsdRecord remove(OsdOverlay::kDeleteLine, {});
  remove.record.blockId = 0;
  ASSERT_EQ(editor.apply(remove.record), 0);
  EXPECT_EQ(readBack(editor).texts, (std::vector<std::u16string>{u"C2", u"d"}));
  ASSERT_EQ(editor.apply(OsdRecord(OsdOverlay::kDeleteAllLines, {}).record), 0);

  // Only the date/time item: no arrays, its place still answered.
  back = readBack(editor);
  EXPECT_EQ(back.result, 0);
  EXPECT_EQ(back.count, 0u);
  EXPECT_TRUE(back.arraysNull);
  EXPECT_EQ(back.dateX, 0);

  // Showing lines or the date/time brings a hidden editor back.
  for (int32_t subType : {OsdOverlay::kShowLines, OsdOverlay::kShowDateTime}) {
    editor.setActive(false);
    OsdRecord show(subType, {});
    show.record.blockId = -1;
    ASSERT_EQ(editor.apply(show.record), 0);
    EXPECT_TRUE(editor.active()) << subType;
  }
}

TEST(OsdOverlay, MalformedRecordsChangeNothing) {
  OsdOverlay editor(704, 576, fixedSize(10, 10));
  ASSERT_EQ(editor.apply(OsdRecord(OsdOverlay::kReplaceAll, {{"keep", 100, 100}}).record), 0);
  struct Case {
    const char* name;
    int32_t subType;
    void (*spoil)(OsdBlock&);
  };
  const Case cases[] = {
      {"null text", OsdOverlay::kReplaceAll, [](OsdBlock& b) { b.text = nullptr; }},
      {"null x", OsdOverlay::kReplaceAll, [](OsdBlock& b) { b.textX = nullptr; }},
      {"null y", OsdOverlay::kAddLines, [](OsdBlock& b) { b.textY = nullptr; }},
      {"null entry", OsdOverlay::kReplaceAll, [](OsdBlock& b) { b.text[1] = nullptr; }},
      {"too many lines", OsdOverlay::kReplaceAll, [](OsdBlock& b) { b.count = OsdOverlay::kMaxLines + 1; }},
      {"change without a line", OsdOverlay::kChangeText, [](OsdBlock& b) { b.count = 0; }},
      {"change with null text", OsdOverlay::kChangeText, [](OsdBlock& b) { b.text = nullptr; }},
      {"change with a null line", OsdOverlay::kChangeText, [](OsdBlock& b) { b.text[0] = nullptr; }},
  };
  for (const Case& c : cases) {
    OsdRecord record(c.subType, {{"new", 1, 2}, {"new", 3, 4}});
    c.spoil(record.record.block.osd);
    EXPECT_EQ(editor.apply(record.record), 1000) << c.name;
  }
  const ReadBack back = readBack(editor);
  EXPECT_EQ(back.texts, std::vector<std::u16string>{u"keep"});
  EXPECT_EQ(back.places[0], std::make_pair(100, 100));
}

// Fails the n-th allocation of a read back (counting from 0).
int allocationsLeft = 0;
void* failingCalloc(size_t count, size_t size) { return allocationsLeft-- > 0 ? std::calloc(count, size) : nullptr; }

TEST(OsdOverlay, ReadBackWithoutMemoryAnswersNothing) {
  OsdOverlay::Hooks hooks = fixedSize(10, 10);
  hooks.allocate = failingCalloc;
  OsdOverlay editor(704, 576, hooks);
  ASSERT_EQ(editor.apply(OsdRecord(OsdOverlay::kReplaceAll, {{"a", 1, 2}, {"b", 3, 4}}, 5, 6).record), 0);
  // Pointer array, two texts, places: the fourth allocation is the last.
  for (int n = 0; n < 4; ++n) {
    allocationsLeft = n;
    const ReadBack back = readBack(editor);
    EXPECT_EQ(back.result, 1002) << n;
    EXPECT_EQ(back.count, 0u);
    EXPECT_TRUE(back.arraysNull);
    EXPECT_EQ(back.dateX, 0);
  }
  allocationsLeft = 4;
  EXPECT_EQ(readBack(editor).count, 2u);
}

TEST(OsdOverlay, PaintsTextAndFramesInRed) {
  OsdOverlay editor(704, 576, fixedSize(60, 40));
  OsdRecord record(OsdOverlay::kReplaceAll, {{"", 100, 100}, {"", 200, 200}, {"", 300, 300}}, 0, 0, 2);
  ASSERT_EQ(editor.apply(record.record), 0);
  Canvas canvas(704, 576);
  // The left frame edge of the item at grid x: cell pixel x * 704 / 703.
  const auto frameAt = [&](int gridX, int gridY) {
    const int x = static_cast<int>(gridX * 704.0 / 703);
    const int y = static_cast<int>(gridY * 576.0 / 575);
    return canvas.pixel(x, y + 20) == kRed;
  };
  canvas.paint(editor);
  // Format 2: the date/time frame at (0, 0) with nothing inside.
  EXPECT_EQ(canvas.pixel(0, 20), kRed);
  EXPECT_EQ(canvas.redIn(3, 3, 57, 37), 0);
  EXPECT_TRUE(frameAt(100, 100) && frameAt(200, 200) && frameAt(300, 300));

  struct Step {
    int32_t subType;
    int32_t blockId;
    bool shown[3];
  };
  const Step steps[] = {
      {OsdOverlay::kHideLines, 0, {false, true, true}},  {OsdOverlay::kHideLines, -1, {false, false, false}},
      {OsdOverlay::kShowLines, 2, {false, false, true}}, {OsdOverlay::kShowLines, 7, {false, false, true}},
      {OsdOverlay::kShowLines, -1, {true, true, true}},
  };
  for (const Step& step : steps) {
    OsdRecord show(step.subType, {});
    show.record.blockId = step.blockId;
    ASSERT_EQ(editor.apply(show.record), 0);
    canvas.paint(editor);
    EXPECT_EQ(frameAt(100, 100), step.shown[0]) << step.subType << "/" << step.blockId;
    EXPECT_EQ(frameAt(200, 200), step.shown[1]) << step.subType << "/" << step.blockId;
    EXPECT_EQ(frameAt(300, 300), step.shown[2]) << step.subType << "/" << step.blockId;
  }

  // The local time is drawn inside the frame in format 1.
  OsdRecord format(OsdOverlay::kSetDateTimeFormat, {}, 0, 0, 1);
  ASSERT_EQ(editor.apply(format.record), 0);
  canvas.paint(editor);
  EXPECT_GT(canvas.redIn(3, 3, 57, 37), 0);

  editor.setActive(false);
  canvas.paint(editor);
  EXPECT_EQ(canvas.redIn(0, 0, 704, 576), 0);
}

TEST(OsdOverlay, TwoLineTextIsMeasuredAndFramedWhole) {
  const OsdOverlay::TextSize one = OsdOverlay::measureText(u"12");
  const OsdOverlay::TextSize two = OsdOverlay::measureText(OsdOverlay::convertLine("12^34"));
  ASSERT_GT(one.height, 0);
  EXPECT_GE(two.height, 2 * one.height - 1);

  OsdOverlay editor(704, 576);
  ASSERT_EQ(editor.apply(OsdRecord(OsdOverlay::kReplaceAll, {{"12^34", 0, 0}}, 400, 400, 2).record), 0);
  Canvas canvas(704, 576);
  canvas.paint(editor);
  // The frame's left edge runs down past the first line.
  const int bottom = static_cast<int>(two.height);
  EXPECT_EQ(canvas.pixel(0, bottom - 2), kRed);
  EXPECT_GT(canvas.redIn(2, static_cast<int>(one.height), static_cast<int>(two.width) - 2, bottom - 2), 0);
}

TEST(OsdOverlay, DragsTheHoveredItemWithinTheCell) {
  OsdOverlay editor(704, 576, fixedSize(100, 20));
  // Hidden editors take no mouse.
  EXPECT_EQ(editor.mouseMove(10, 10), std::nullopt);
  ASSERT_EQ(editor.apply(OsdRecord(OsdOverlay::kReplaceAll, {{"a", 0, 0}, {"b", 0, 300}}, 0, 100).record), 0);

  // The line at pixel (0, 300): hover, then drag by (+40, -20), then far right.
  EXPECT_EQ(editor.mouseMove(5, 305), ui::CursorShape::SizeAll);
  EXPECT_EQ(editor.mouseMove(6, 306), std::nullopt);  // no change, no cursor call
  editor.mouseDown(6, 306);
  EXPECT_EQ(editor.mouseMove(46, 286), std::nullopt);
  editor.mouseUp(46, 286);
  EXPECT_EQ(readBack(editor).places[1], std::make_pair(39, 279));  // pixels 40, 280

  EXPECT_EQ(editor.mouseMove(50, 290), std::nullopt);  // still over the item
  editor.mouseDown(50, 290);
  editor.mouseMove(5000, 290);
  editor.mouseUp(5000, 290);
  EXPECT_EQ(readBack(editor).places[1].first, 603);  // pixel 604 = 704 - 100

  EXPECT_EQ(editor.mouseMove(300, 500), ui::CursorShape::Arrow);

  // A list change drops the hover: the drag that follows moves nothing.
  EXPECT_EQ(editor.mouseMove(610, 290), ui::CursorShape::SizeAll);
  OsdRecord remove(OsdOverlay::kDeleteLine, {});
  remove.record.blockId = 0;
  ASSERT_EQ(editor.apply(remove.record), 0);
  editor.mouseDown(610, 290);
  editor.mouseMove(400, 100);
  editor.mouseUp(400, 100);
  const ReadBack back = readBack(editor);
  EXPECT_EQ(back.places[0].first, 603);
  EXPECT_EQ(back.dateY, 100);
}

TEST(OsdOverlay, HostShowsItAgainAfterAClear) {
  OverlayHost host;
  host.resize(704, 576);  // nothing shown yet: the host keeps the size for the editor it makes
  ASSERT_EQ(host.apply(OsdRecord(OsdOverlay::kReplaceAll, {{"a", 100, 100}}, 0, 0, 2).record), 0);
  Canvas canvas(704, 576);
  const auto frames = [&] {
    canvas.paintWith([&](cairo_t* cr) { host.paint(cr); });
    return canvas.redIn(0, 0, 704, 576);
  };
  EXPECT_GT(frames(), 0);
  const DeviceSettingsParam clear{};  // what a clear hands the host
  ASSERT_EQ(host.apply(clear), 0);
  EXPECT_EQ(frames(), 0);
  OsdRecord show(OsdOverlay::kShowLines, {});
  show.record.blockId = -1;
  ASSERT_EQ(host.apply(show.record), 0);
  EXPECT_GT(frames(), 0);
  EXPECT_EQ(readBack(host).places, (std::vector<std::pair<int32_t, int32_t>>{{100, 100}}));
}

}  // namespace
}  // namespace ksplugs
