#include "plugin/overlay/OverlayHost.h"

#include <gtest/gtest.h>

#include <vector>

#include "plugin/overlay/testing/OverlayTesting.h"

namespace ksplugs {
namespace {

using testing::Rect4;

class OverlayHostTest : public ::testing::Test {
 protected:
  void SetUp() override { host_.resize(703, 575); }

  int showPrivacy(const std::vector<Rect4>& rects) { return host_.apply(testing::PrivacyReplaceAll(rects).record); }
  int apply(int type, int subType) {
    DeviceSettingsParam record{};
    record.type = type;
    record.operate = 1;
    record.subType = subType;
    return host_.apply(record);
  }
  int showFace() {
    DeviceSettingsParam record{};
    record.type = SETTINGS_FACE;
    record.operate = 1;
    record.subType = 1;
    record.block.face.detectRight = record.block.face.detectBottom = 10000;
    record.block.face.width[1] = record.block.face.height[1] = 5000;
    return host_.apply(record);
  }
  std::vector<Rect4> privacyBack(int expectedCode = 0) {
    DeviceSettingsParam record{};
    record.type = SETTINGS_PRIVACY;
    record.operate = 2;
    EXPECT_EQ(host_.readBack(record), expectedCode);
    return testing::privacyRects(record);
  }
  FaceResult faceBack() {
    DeviceSettingsParam record{};
    record.type = SETTINGS_FACE;
    record.operate = 2;
    EXPECT_EQ(host_.readBack(record), 0);
    return record.result.face;
  }
  // The pixel at (x, y) after the host painted a transparent 703 x 575 cell,
  // and the host's answer.
  std::pair<int, uint32_t> paintedAt(int x, int y) {
    testing::Canvas canvas(703, 575);
    const int code = canvas.draw([&](cairo_t* cr) { return host_.paint(cr); });
    return {code, canvas.at(x, y)};
  }

  OverlayHost host_;
};

TEST_F(OverlayHostTest, ReadBackBeforeAnyApplyIsNotReady) {
  EXPECT_TRUE(privacyBack(KS_E_NOT_READY).empty());
  DeviceSettingsParam record{};
  record.type = SETTINGS_FACE;
  EXPECT_EQ(host_.readBack(record), KS_E_NOT_READY);
  record.type = 4;
  EXPECT_EQ(host_.readBack(record), 0);
  EXPECT_EQ(host_.paint(nullptr), KS_E_NOT_READY);
  EXPECT_EQ(host_.mouseMove(1, 1), std::nullopt);
}

TEST_F(OverlayHostTest, ClearAndUnknownTypesHideEveryEditorAndKeepTheShapes) {
  ASSERT_EQ(showPrivacy({{100, 100, 200, 160}}), 0);
  EXPECT_EQ(paintedAt(150, 130), (std::pair<int, uint32_t>{0, 0xFF0000FF}));
  // A type without an editor: nothing shown, every editor hidden, 0.
  EXPECT_EQ(apply(4, 1), 0);
  EXPECT_EQ(host_.activeType(), 4);
  EXPECT_EQ(paintedAt(150, 130).first, KS_E_NOT_READY);
  // The clear: type 0.
  ASSERT_EQ(showPrivacy({{100, 100, 200, 160}}), 0);
  EXPECT_EQ(apply(0, 0), 0);
  EXPECT_EQ(paintedAt(150, 130).first, KS_E_NOT_READY);
  EXPECT_EQ(host_.mouseMove(150, 130), std::nullopt);
  EXPECT_EQ(privacyBack(), (std::vector<Rect4>{{100, 100, 200, 160}}));
  // Shown again by its type, but a sub-type that draws nothing leaves it
  // hidden; only a replace-all makes it draw.
  EXPECT_EQ(apply(SETTINGS_PRIVACY, 2), 0);
  EXPECT_EQ(paintedAt(150, 130), (std::pair<int, uint32_t>{0, 0u}));
  EXPECT_TRUE(privacyBack().empty());
}

TEST_F(OverlayHostTest, ResizeReachesTheShownEditorOnly) {
  ASSERT_EQ(showPrivacy({{0, 0, 703, 575}}), 0);
  ASSERT_EQ(showFace(), 0);
  EXPECT_EQ(host_.resize(1406, 1150), 0);
  // The face editor converts with the new size, shapes stay in pixels.
  FaceResult face = faceBack();
  EXPECT_EQ(face.outDetectRight, 5000);
  EXPECT_EQ(face.outFaceWidth[1], 2500);
  // The hidden privacy editor kept the old size.
  EXPECT_EQ(privacyBack(), (std::vector<Rect4>{{0, 0, 703, 575}}));
  // Shown again and resized, it converts with the new size.
  EXPECT_EQ(apply(SETTINGS_PRIVACY, 99), 0);
  EXPECT_EQ(host_.resize(1406, 1150), 0);
  EXPECT_EQ(privacyBack(), (std::vector<Rect4>{{0, 0, 351, 287}}));
  // The picture size goes to the face editor only while it is shown.
  EXPECT_EQ(host_.setVideoSize(1920, 1080), KS_E_NOT_READY);
  ASSERT_EQ(showFace(), 0);
  EXPECT_EQ(host_.setVideoSize(1920, 1080), 0);
}

TEST_F(OverlayHostTest, MouseAndPaintGoToTheShownEditor) {
  ASSERT_EQ(showFace(), 0);
  ASSERT_EQ(showPrivacy({}), 0);
  // A mask drawn by mouse lands in the privacy editor; the hidden face
  // editor neither draws nor moves.
  EXPECT_EQ(host_.mouseMove(300, 300), ui::CursorShape::Arrow);
  host_.mouseDown(300, 300);
  host_.mouseMove(340, 330);
  host_.mouseUp(340, 330);
  EXPECT_EQ(privacyBack(), (std::vector<Rect4>{{300, 300, 340, 330}}));
  EXPECT_EQ(paintedAt(320, 315).second, 0xFF0000FFu);
  EXPECT_EQ(paintedAt(0, 100).second, 0u);  // the detection area's left edge
  EXPECT_EQ(faceBack().outDetectLeft, 0);
  // Back to the face editor: its pen draws and the masks do not.
  ASSERT_EQ(showFace(), 0);
  EXPECT_EQ(paintedAt(0, 100).second, 0xFFFF0000u);
  EXPECT_EQ(paintedAt(320, 315).second, 0u);
  host_.mouseMove(2, 100);
  EXPECT_EQ(host_.mouseMove(3, 100), ui::CursorShape::SizeWE);
}

}  // namespace
}  // namespace ksplugs
