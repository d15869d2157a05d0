#include "plugin/overlay/FaceAreaOverlay.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

#include "plugin/overlay/testing/OverlayTesting.h"

namespace ksplugs {
namespace {

using Quad = std::array<int32_t, 4>;

// A set-all record: detection area (1000, 2000)-(9000, 8000), boxes of 20 %
// and 50 % of the cell, defaults of 10 % and 80 %, no limits.
DeviceSettingsParam setAll() {
  DeviceSettingsParam record{};
  record.type = SETTINGS_FACE;
  record.operate = 1;
  record.subType = 1;
  FaceBlock& face = record.block.face;
  face.detectLeft = 1000;
  face.detectTop = 2000;
  face.detectRight = 9000;
  face.detectBottom = 8000;
  face.detectDefLeft = 0;
  face.detectDefTop = 0;
  face.detectDefRight = 10000;
  face.detectDefBottom = 10000;
  face.width[0] = face.height[0] = 2000;
  face.width[1] = face.height[1] = 5000;
  face.defWidth[0] = face.defHeight[0] = 1000;
  face.defWidth[1] = face.defHeight[1] = 8000;
  return record;
}

int applySubType(FaceAreaOverlay& editor, int subType) {
  DeviceSettingsParam record{};
  record.type = SETTINGS_FACE;
  record.subType = subType;
  return editor.apply(record);
}

struct ReadBack {
  Quad detect;
  std::array<int32_t, 2> width;
  std::array<int32_t, 2> height;
};

ReadBack readBack(FaceAreaOverlay& editor) {
  DeviceSettingsParam record{};
  record.type = SETTINGS_FACE;
  EXPECT_EQ(editor.readBack(record), 0);
  const FaceResult& out = record.result.face;
  return {{out.outDetectLeft, out.outDetectTop, out.outDetectRight, out.outDetectBottom},
          {out.outFaceWidth[0], out.outFaceWidth[1]},
          {out.outFaceHeight[0], out.outFaceHeight[1]}};
}

// The pointer comes from outside the cell to `from`, presses, drags to `to`
// and releases; answers the cursor shown over `from`.
std::optional<ui::CursorShape> drag(FaceAreaOverlay& editor, std::pair<int, int> from, std::pair<int, int> to) {
  editor.mouseMove(-100, -100);
  const auto cursor = editor.mouseMove(from.first, from.second);
  editor.mouseDown(from.first, from.second);
  editor.mouseMove(to.first, to.second);
  editor.mouseUp(to.first, to.second);
  return cursor;
}

TEST(FaceAreaOverlayTest, SetAllReadsBackTheAreaAndTheBoxSizes) {
  for (const auto& [width, height] : {std::pair{1000, 500}, std::pair{704, 576}, std::pair{1920, 1080}}) {
    FaceAreaOverlay editor(width, height);
    ASSERT_EQ(editor.apply(setAll()), 0);
    const ReadBack back = readBack(editor);
    EXPECT_EQ(back.detect, (Quad{1000, 2000, 9000, 8000})) << width;
    EXPECT_EQ(back.width, (std::array<int32_t, 2>{2000, 5000})) << width;
    EXPECT_EQ(back.height, (std::array<int32_t, 2>{2000, 5000})) << width;
  }
  // The far ends of int32 come back as sent.
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  DeviceSettingsParam extremes = setAll();
  extremes.block.face.detectLeft = kMin;
  extremes.block.face.detectRight = kMax;
  extremes.block.face.width[0] = kMin;
  extremes.block.face.height[1] = kMax;
  FaceAreaOverlay editor(704, 576);
  ASSERT_EQ(editor.apply(extremes), 0);
  const ReadBack back = readBack(editor);
  EXPECT_EQ(back.detect, (Quad{kMin, 2000, kMax, 8000}));
  EXPECT_EQ(back.width[0], kMin);
  EXPECT_EQ(back.height[1], kMax);
}

TEST(FaceAreaOverlayTest, PaintsTheCentredBoxesWithTheirPens) {
  FaceAreaOverlay editor(1000, 500);
  ASSERT_EQ(editor.apply(setAll()), 0);
  testing::Canvas canvas(1000, 500);
  canvas.draw([&](cairo_t* cr) {
    editor.paint(cr);
    return 0;
  });
  // Detection area (100, 100)-(900, 400); minimum box (400, 200)-(600, 300);
  // maximum box (250, 125)-(750, 375).
  const struct {
    int x, y;
    uint32_t argb;
  } pixels[] = {
      {99, 250, testing::kArgbRed},    {100, 250, testing::kArgbRed},   {101, 250, 0},
      {500, 99, testing::kArgbRed},    {399, 250, testing::kArgbBlue},  {400, 250, testing::kArgbBlue},
      {600, 250, testing::kArgbBlue},  {500, 200, testing::kArgbBlue},  {249, 250, testing::kArgbGreen},
      {250, 250, testing::kArgbGreen}, {500, 374, testing::kArgbGreen}, {500, 250, 0},
  };
  for (const auto& p : pixels) EXPECT_EQ(canvas.at(p.x, p.y), p.argb) << p.x << "," << p.y;
}

TEST(FaceAreaOverlayTest, BoxesInsideTheDetectionAreaResizeWithinEachOther) {
  FaceAreaOverlay editor(1000, 500);
  ASSERT_EQ(editor.apply(setAll()), 0);
  // The minimum box's right edge wins over the inside of the detection area.
  EXPECT_EQ(drag(editor, {599, 250}, {649, 250}), ui::CursorShape::SizeWE);
  EXPECT_EQ(readBack(editor).width[0], 2500);
  // Past the maximum box's width: refused, the last accepted size stays.
  EXPECT_EQ(drag(editor, {649, 250}, {951, 250}), ui::CursorShape::SizeWE);
  EXPECT_EQ(readBack(editor).width[0], 2500);
  // The maximum box shrinks down to the minimum box, not below.
  EXPECT_EQ(drag(editor, {749, 350}, {699, 350}), ui::CursorShape::SizeWE);
  EXPECT_EQ(readBack(editor).width[1], 4500);
  EXPECT_EQ(drag(editor, {699, 350}, {449, 350}), ui::CursorShape::SizeWE);
  EXPECT_EQ(readBack(editor).width[1], 4500);
  // A corner of the detection area, then the inside moves it.
  EXPECT_EQ(drag(editor, {101, 101}, {51, 51}), ui::CursorShape::SizeNWSE);
  EXPECT_EQ(readBack(editor).detect, (Quad{500, 1000, 9000, 8000}));
  EXPECT_EQ(drag(editor, {120, 350}, {130, 340}), ui::CursorShape::SizeAll);
  EXPECT_EQ(readBack(editor).detect, (Quad{600, 800, 9100, 7800}));
  // The minimum box back to its default size, centred.
  ASSERT_EQ(applySubType(editor, 3), 0);
  EXPECT_EQ(readBack(editor).width, (std::array<int32_t, 2>{1000, 4500}));
  EXPECT_EQ(drag(editor, {549, 250}, {560, 250}), ui::CursorShape::SizeWE);  // at 450..550
  EXPECT_EQ(readBack(editor).width[0], 1110);
  ASSERT_EQ(applySubType(editor, 2), 0);
  EXPECT_EQ(readBack(editor).detect, (Quad{0, 0, 10000, 10000}));
  ASSERT_EQ(applySubType(editor, 4), 0);
  EXPECT_EQ(readBack(editor).width, (std::array<int32_t, 2>{1110, 8000}));
}

TEST(FaceAreaOverlayTest, CrossedBoxIsPutInOrderAtRelease) {
  FaceAreaOverlay editor(1000, 500);
  ASSERT_EQ(editor.apply(setAll()), 0);
  // The detection area's left edge dragged past its right one.
  drag(editor, {101, 250}, {951, 250});
  EXPECT_EQ(readBack(editor).detect, (Quad{9000, 2000, 9500, 8000}));
  EXPECT_EQ(drag(editor, {899, 250}, {880, 250}), ui::CursorShape::SizeWE);  // its new left edge
  EXPECT_EQ(readBack(editor).detect, (Quad{8810, 2000, 9500, 8000}));
}

TEST(FaceAreaOverlayTest, LimitsFollowThePictureSize) {
  FaceAreaOverlay editor(1000, 500);
  DeviceSettingsParam record = setAll();
  // The largest maximum box: 60 % of the picture's width and height.
  record.block.face.widthQuoto[2] = 6000;
  record.block.face.heightQuoto[2] = 6000;
  ASSERT_EQ(editor.apply(record), 0);
  // No picture size yet: nothing bounds the box.
  drag(editor, {749, 250}, {879, 250});
  EXPECT_EQ(readBack(editor).width[1], 6300);
  // The picture size arrives: 60 % of 1920 is 600 cell pixels.
  editor.setVideoSize(1920, 1080);
  const struct {
    int fromX, toX, width;
  } steps[] = {{879, 889, 6300}, {879, 829, 5800}, {829, 859, 5800}, {829, 849, 6000}};
  for (const auto& s : steps) {
    EXPECT_EQ(drag(editor, {s.fromX, 250}, {s.toX, 250}), ui::CursorShape::SizeWE) << s.fromX;
    EXPECT_EQ(readBack(editor).width[1], s.width) << s.fromX << " to " << s.toX;
  }
}

TEST(FaceAreaOverlayTest, ApplyResetsTheHover) {
  FaceAreaOverlay editor(1000, 500);
  ASSERT_EQ(editor.apply(setAll()), 0);
  editor.mouseMove(598, 250);
  EXPECT_EQ(editor.mouseMove(599, 250), ui::CursorShape::SizeWE);
  ASSERT_EQ(applySubType(editor, 3), 0);
  // The press no longer holds the old edge, and the cursor is answered again.
  editor.mouseDown(599, 250);
  editor.mouseMove(650, 250);
  editor.mouseUp(650, 250);
  EXPECT_EQ(readBack(editor).width[0], 1000);
  EXPECT_EQ(editor.mouseMove(599, 251), ui::CursorShape::SizeAll);
}

}  // namespace
}  // namespace ksplugs
