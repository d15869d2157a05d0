#include "plugin/overlay/PrivacyMaskOverlay.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <thread>
#include <vector>

#include "plugin/overlay/testing/OverlayTesting.h"
#include "tests/support/Watchdog.h"

namespace ksplugs {
namespace {

using testing::Canvas;
using testing::kArgbBlue;
using testing::kArgbRed;
using testing::Rect4;
using ReplaceAll = testing::PrivacyReplaceAll;

int applySubType(PrivacyMaskOverlay& editor, int subType) {
  DeviceSettingsParam record{};
  record.type = SETTINGS_PRIVACY;
  record.subType = subType;
  return editor.apply(record);
}

std::vector<Rect4> readBack(PrivacyMaskOverlay& editor) {
  DeviceSettingsParam record{};
  record.type = SETTINGS_PRIVACY;
  EXPECT_EQ(editor.readBack(record), 0);
  return testing::privacyRects(record);
}

int paint(Canvas& canvas, PrivacyMaskOverlay& editor) {
  return canvas.draw([&](cairo_t* cr) {
    editor.paint(cr);
    return 0;
  });
}

TEST(PrivacyMaskOverlayTest, EveryGridValueReadsBackAsSentAtThreeCellSizes) {
  // Each rectangle carries one x and one y of the grid on either side, so
  // 704 rectangles cover every value of 0..703 and 0..575.
  std::vector<Rect4> rects;
  for (int32_t i = 0; i <= 703; ++i) rects.push_back({i, i % 576, 703 - i, 575 - i % 576});
  const ReplaceAll all(rects);
  for (const auto& [width, height] : {std::pair{704, 576}, std::pair{352, 288}, std::pair{1920, 1080}}) {
    PrivacyMaskOverlay editor(width, height);
    ASSERT_EQ(editor.apply(all.record), 0);
    EXPECT_EQ(readBack(editor), rects) << width << "x" << height;
  }
}

TEST(PrivacyMaskOverlayTest, EdgeValuesReadBackAsSent) {
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  const struct {
    int width, height;
    Rect4 rect;
  } cases[] = {
      {352, 288, {0, 0, 703, 575}},
      {704, 576, {kMin, kMin, kMax, kMax}},
      {352, 288, {kMax, kMax - 1, kMin + 1, -1}},
      {1, 1, {kMin, 77, 295, kMax}},
  };
  for (const auto& c : cases) {
    PrivacyMaskOverlay editor(c.width, c.height);
    ASSERT_EQ(editor.apply(ReplaceAll({c.rect}).record), 0);
    EXPECT_EQ(readBack(editor), std::vector<Rect4>{c.rect}) << c.width << "x" << c.height;
  }
}

TEST(PrivacyMaskOverlayTest, MalformedRecordsChangeNothing) {
  PrivacyMaskOverlay editor(703, 575);
  const std::vector<Rect4> kept{{10, 10, 50, 50}};
  ASSERT_EQ(editor.apply(ReplaceAll(kept).record), 0);

  ReplaceAll nullLeft({{1, 2, 3, 4}});
  nullLeft.record.block.privacy.left = nullptr;
  ReplaceAll nullBottom({{1, 2, 3, 4}});
  nullBottom.record.block.privacy.bottom = nullptr;
  ReplaceAll tooMany({{1, 2, 3, 4}});
  tooMany.record.block.privacy.count = PrivacyMaskOverlay::kMaxRects + 1;
  for (const ReplaceAll* bad : {&nullLeft, &nullBottom, &tooMany}) {
    EXPECT_EQ(editor.apply(bad->record), KS_E_INVALID);
    EXPECT_EQ(readBack(editor), kept);
  }
  // No rectangles with null arrays is well formed.
  ReplaceAll none({});
  none.record.block.privacy = {0xFF0000, 0, nullptr, nullptr, nullptr, nullptr};
  EXPECT_EQ(editor.apply(none.record), 0);
  EXPECT_TRUE(readBack(editor).empty());
}

TEST(PrivacyMaskOverlayTest, DeletingSelectsTheFirstRemaining) {
  PrivacyMaskOverlay editor(703, 575);
  ASSERT_EQ(editor.apply(ReplaceAll({{1, 1, 9, 9}, {20, 20, 30, 30}, {40, 40, 50, 50}}).record), 0);
  EXPECT_EQ(applySubType(editor, 2), 0);  // the first, selected by the replace-all
  EXPECT_EQ(readBack(editor), (std::vector<Rect4>{{20, 20, 30, 30}, {40, 40, 50, 50}}));
  EXPECT_EQ(applySubType(editor, 3), 0);
  EXPECT_TRUE(readBack(editor).empty());

  ASSERT_EQ(editor.apply(ReplaceAll({{1, 1, 9, 9}}).record), 0);
  EXPECT_EQ(applySubType(editor, 2), 0);
  EXPECT_TRUE(readBack(editor).empty());
  EXPECT_EQ(applySubType(editor, 2), 0);  // nothing left to delete
  EXPECT_EQ(applySubType(editor, 99), 0);
}

TEST(PrivacyMaskOverlayTest, MouseDrawsUpToFourButTheRecordsMayHoldMore) {
  PrivacyMaskOverlay editor(703, 575);
  ASSERT_EQ(editor.apply(ReplaceAll({}).record), 0);
  // A click without movement draws nothing; a one-pixel drag draws 1 x 1.
  editor.mouseDown(300, 300);
  editor.mouseUp(300, 300);
  EXPECT_TRUE(readBack(editor).empty());
  editor.mouseDown(300, 300);
  editor.mouseMove(301, 301);
  editor.mouseUp(301, 301);
  EXPECT_EQ(readBack(editor), (std::vector<Rect4>{{300, 300, 301, 301}}));
  // Dragged up and left: the rectangle is put in order.
  for (int i = 0; i < 5; ++i) {
    const int x = 100 * i + 60;
    editor.mouseMove(x, 30);  // empty picture: no handle
    editor.mouseDown(x, 30);
    editor.mouseUp(x - 40, 10);
  }
  const std::vector<Rect4> four{{300, 300, 301, 301}, {20, 10, 60, 30}, {120, 10, 160, 30}, {220, 10, 260, 30}};
  EXPECT_EQ(readBack(editor), four);

  std::vector<Rect4> six;
  for (int32_t i = 0; i < 6; ++i) six.push_back({i * 100, 400, i * 100 + 50, 450});
  ASSERT_EQ(editor.apply(ReplaceAll(six).record), 0);
  editor.mouseMove(600, 100);
  editor.mouseDown(600, 100);
  editor.mouseMove(650, 150);
  editor.mouseUp(650, 150);
  EXPECT_EQ(readBack(editor), six);
}

TEST(PrivacyMaskOverlayTest, MouseMovesAndResizesWithTheirCursors) {
  PrivacyMaskOverlay editor(703, 575);
  ASSERT_EQ(editor.apply(ReplaceAll({{100, 100, 200, 160}, {300, 100, 400, 160}}).record), 0);
  struct Step {
    char what;  // m move, d down, u up
    int x, y;
    std::optional<ui::CursorShape> cursor;
  } const steps[] = {
      {'m', 150, 130, ui::CursorShape::SizeAll},  // inside the first
      {'m', 151, 131, std::nullopt},              // same handle: the cursor stays
      {'d', 151, 131, std::nullopt},
      {'m', 161, 136, std::nullopt},
      {'u', 161, 136, std::nullopt},
      {'m', 398, 158, ui::CursorShape::SizeNWSE},  // the second's bottom-right corner
      {'d', 398, 158, std::nullopt},
      {'m', 200, 40, std::nullopt},  // crosses both edges
      {'u', 200, 40, std::nullopt},
      {'m', 20, 20, ui::CursorShape::Arrow},
  };
  for (const Step& s : steps) {
    const auto cursor = s.what == 'm'   ? editor.mouseMove(s.x, s.y)
                        : s.what == 'd' ? editor.mouseDown(s.x, s.y)
                                        : editor.mouseUp(s.x, s.y);
    EXPECT_EQ(cursor, s.cursor) << s.what << " " << s.x << "," << s.y;
  }
  // Moved by (10, 5); the crossed one is in order again and not a new one.
  EXPECT_EQ(readBack(editor), (std::vector<Rect4>{{110, 105, 210, 165}, {202, 42, 300, 100}}));
  // The normalised rectangle is grabbed again by its new left edge.
  EXPECT_EQ(editor.mouseMove(198, 70), ui::CursorShape::SizeWE);
}

TEST(PrivacyMaskOverlayTest, ApplyResetsTheHoverAndTheCursor) {
  PrivacyMaskOverlay editor(703, 575);
  std::vector<Rect4> six;
  for (int32_t i = 0; i < 6; ++i) six.push_back({i * 100, 0, i * 100 + 50, 50});
  ASSERT_EQ(editor.apply(ReplaceAll(six).record), 0);
  EXPECT_EQ(editor.mouseMove(525, 25), ui::CursorShape::SizeAll);  // over the last
  ASSERT_EQ(editor.apply(ReplaceAll({{0, 300, 50, 350}}).record), 0);
  // The old index and code are gone: a press selects nothing, a drag draws.
  editor.mouseDown(525, 25);
  editor.mouseMove(560, 60);
  editor.mouseUp(560, 60);
  EXPECT_EQ(readBack(editor), (std::vector<Rect4>{{0, 300, 50, 350}, {525, 25, 560, 60}}));
  // The cursor is answered again after an apply even for the same code.
  EXPECT_EQ(editor.mouseMove(400, 400), ui::CursorShape::Arrow);
  ASSERT_EQ(applySubType(editor, 3), 0);
  EXPECT_EQ(editor.mouseMove(401, 400), ui::CursorShape::Arrow);
  EXPECT_EQ(editor.mouseMove(402, 400), std::nullopt);
}

TEST(PrivacyMaskOverlayTest, PaintsFillsSelectionAndRubberBand) {
  PrivacyMaskOverlay editor(703, 575);
  {
    Canvas hidden(703, 575);
    paint(hidden, editor);
    EXPECT_EQ(hidden.at(150, 130), 0u);
  }
  ASSERT_EQ(editor.apply(ReplaceAll({{100, 100, 200, 160}, {300, 100, 400, 160}}, 0xFF0000).record), 0);
  Canvas canvas(703, 575);
  paint(canvas, editor);
  EXPECT_EQ(canvas.at(150, 130), kArgbBlue);  // "FF0000" paints blue
  EXPECT_EQ(canvas.at(350, 130), kArgbBlue);
  EXPECT_EQ(canvas.at(99, 130), kArgbRed);  // the first is selected
  EXPECT_EQ(canvas.at(100, 130), kArgbRed);
  EXPECT_EQ(canvas.at(299, 130), 0u);  // the second is not
  EXPECT_EQ(canvas.at(300, 130), kArgbBlue);
  EXPECT_EQ(canvas.at(98, 130), 0u);

  // A held button on empty picture draws the rubber band.
  editor.mouseMove(500, 300);
  editor.mouseDown(500, 300);
  editor.mouseMove(540, 340);
  Canvas band(703, 575);
  paint(band, editor);
  EXPECT_EQ(band.at(499, 320), kArgbRed);
  EXPECT_EQ(band.at(520, 320), 0u);
  editor.mouseUp(540, 340);

  // A later replace-all recolours every mask.
  ASSERT_EQ(editor.apply(ReplaceAll({{100, 100, 200, 160}}, 0x0000FF).record), 0);
  Canvas red(703, 575);
  paint(red, editor);
  EXPECT_EQ(red.at(150, 130), kArgbRed);
  EXPECT_EQ(PrivacyMaskOverlay::argbOf(0x00336699), 0xFF996633u);
}

TEST(PrivacyMaskOverlayTest, DrawingThreadPaintsWhileTheWindowThreadEdits) {
  kstest::Watchdog watchdog(std::chrono::seconds(30), "privacy paint while editing");
  PrivacyMaskOverlay editor(703, 575);
  ASSERT_EQ(editor.apply(ReplaceAll({{10, 10, 60, 60}}).record), 0);
  std::atomic<bool> done{false};
  std::atomic<int> frames{0};
  std::thread drawing([&] {
    Canvas canvas(703, 575);
    while (!done) {
      paint(canvas, editor);
      ++frames;
    }
  });
  // Each round changes the list under the painter: a replace-all, a drag
  // drawn by mouse and the deletions.
  for (int round = 0; round < 200 || frames < 20; ++round) {
    std::vector<Rect4> rects;
    for (int32_t i = 0; i <= round % 8; ++i) rects.push_back({i * 80, 0, i * 80 + 40, 40});
    ASSERT_EQ(editor.apply(ReplaceAll(rects).record), 0);
    editor.mouseMove(300, 300);
    editor.mouseDown(300, 300);
    editor.mouseMove(320, 320);
    editor.mouseUp(320, 320);
    ASSERT_EQ(applySubType(editor, round % 2 == 0 ? 2 : 3), 0);
  }
  done = true;
  drawing.join();
  EXPECT_GE(frames.load(), 20);
}

}  // namespace
}  // namespace ksplugs
