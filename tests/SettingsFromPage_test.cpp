// Settings drawn over the live picture, from a page: the page opens the
// settings view of a device, applies on-screen text, privacy masks and face
// areas through the WebSocket, reads them back, sees them drawn over the
// picture in a desktop capture, and edits them with the mouse as a person
// would, with the cursor following the handles. Also the text lattice, which
// needs no device.
//
// One process with the shell's dialog, the plug-in library, a foreign
// browser window of this process and the device simulator. The library starts
// once per process, so the suite shares one page, one device and one dock;
// the tests run in the order written and each leaves what the next needs.
// The dock is 703 x 575 pixels, the size at which the on-screen grid maps
// one to one onto cell pixels.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sys/Base64.h"
#include "platform/ui/WindowApi.h"
#include "tests/support/LivePageHarness.h"
#include "tests/support/Watchdog.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using namespace std::chrono_literals;
using kstest::LivePageHarness;
using ui::HWND;
using ui::Point;
using ui::Rect;

constexpr ui::COLORREF kRed = ui::RGB(255, 0, 0);
constexpr ui::COLORREF kBlue = ui::RGB(0, 0, 255);
constexpr ui::COLORREF kGreen = ui::RGB(0, 255, 0);

class SettingsFromPage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    watchdog_ = std::make_unique<kstest::Watchdog>(150s, "SettingsFromPage");
    std::string error;
    device_ = LivePageHarness::startSimulator(2, &error);
    if (!device_) {
      setupError_ = "simulator: " + error;
      return;
    }
    page_ = std::make_unique<LivePageHarness>();
    if (!page_->start(&error)) {
      setupError_ = "page: " + error;
      return;
    }
    page_->addBrowser("Camera Settings - Browser", Rect{40, 20, 1000, 760}, Rect{48, 50, 992, 752});
    deviceId_ = page_->createDevice(*device_, "00-11-22-33-44-77", 2, 2);
    if (deviceId_ == 0) setupError_ = "createDev failed";
  }

  static void TearDownTestSuite() {
    page_.reset();
    if (device_) device_->stop();
    device_.reset();
    watchdog_.reset();
  }

  void SetUp() override { ASSERT_TRUE(setupError_.empty()) << setupError_; }

  // A "settings" command with the members `body` besides operate and the device.
  static Json::Value settings(int operate, const std::string& body) {
    return page_->request(R"({"msgId": 7, "Fountion": "settings", "settings": {"operate": )" + std::to_string(operate) +
                          R"(, "uniqueId": )" + std::to_string(deviceId_) + (body.empty() ? "" : ", " + body) + "}}");
  }

  static int code(const Json::Value& reply) { return reply["code"].asInt(); }

  static std::vector<int> ints(const Json::Value& array) {
    std::vector<int> out;
    for (const Json::Value& v : array) out.push_back(v.asInt());
    return out;
  }

  // Cell pixels to the screen.
  static Point at(int x, int y) { return Point{cell_.left + x, cell_.top + y}; }

  // Pixels of `color` inside `r` (cell pixels) of the current desktop.
  static int countColor(const Rect& r, ui::COLORREF color) {
    const ui::Image image = page_->desktop().captureDesktop();
    int count = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x)
        if (image.colorAt(cell_.left + x, cell_.top + y) == color) ++count;
    return count;
  }

  static bool eventually(const std::function<bool()>& condition) { return ui::pumpMessagesUntil(condition, 5s); }

  // A press, one move and a release, as a person drags.
  static void drag(Point from, Point to) {
    ui::HeadlessDesktop& desktop = page_->desktop();
    desktop.moveMouse(from);
    desktop.mouse(from, ui::MouseAction::LeftDown);
    desktop.moveMouse(to);
    desktop.mouse(to, ui::MouseAction::LeftUp);
    ui::pumpPendingMessages();
  }

  static ui::CursorShape cursorOver(Point p) {
    page_->desktop().moveMouse(p);
    ui::pumpPendingMessages();
    return page_->desktop().cursorShape();
  }

  static inline std::unique_ptr<kstest::Watchdog> watchdog_;
  static inline std::unique_ptr<devsim::DevSimServer> device_;
  static inline std::unique_ptr<LivePageHarness> page_;
  static inline std::string setupError_;
  static inline uint32_t deviceId_ = 0;
  static inline Rect cell_;
};

TEST_F(SettingsFromPage, TheLatticeOfADateNeedsNoDevice) {
  const Json::Value reply = page_->request(
      R"({"msgId": 3, "Fountion": "settings", "settings": {"operate": 1, "uniqueId": 99, "type": 1,)"
      R"( "OSD": {"type": 11, "count": 1, "text": ["2024-05-06 07:08:09"], "fontWidth": 16, "fontHeight": 32}}})");
  ASSERT_EQ(code(reply), 200) << reply.toStyledString();
  const Json::Value& osd = reply["settings"]["OSD"];
  const int width = osd["width"].asInt();
  const int height = osd["height"].asInt();
  EXPECT_EQ(height, 32);
  EXPECT_GT(width, 150);
  EXPECT_LT(width, 600);
  EXPECT_EQ(osd["length"].asUInt(), static_cast<unsigned>((width + 7) / 8 * height));
  const std::optional<std::vector<uint8_t>> bits = sys::base64Decode(osd["base64"].asString());
  ASSERT_TRUE(bits.has_value());
  EXPECT_EQ(bits->size(), osd["length"].asUInt());
  // Ink somewhere, and not everywhere.
  int ink = 0;
  for (uint8_t b : *bits) ink += __builtin_popcount(b);
  EXPECT_GT(ink, 100);
  EXPECT_LT(ink, width * height / 2);
}

TEST_F(SettingsFromPage, BeforeTheSettingsViewThereIsNothingToEdit) {
  // The dock has no window yet, so no settings cell.
  EXPECT_EQ(code(settings(2, R"("type": 3)")), 1005);
  // Then the settings view of channel 0 opens over the page.
  const Json::Value preview = page_->live(
      deviceId_, 2, 1,
      R"("settings": true, "Preview": {"title": "settings", "layout": 1, "x": 40, "y": 30, "w": 703, "h": 575,)"
      R"( "openAll": false, "open": true, "channelName": ["Gate"]})");
  ASSERT_EQ(code(preview), 200) << preview.toStyledString();
  const std::vector<HWND> docks = LivePageHarness::docks();
  ASSERT_EQ(docks.size(), 1u);
  HWND settingsCell = 0;
  for (HWND child : ui::getChildWindows(docks.front()))
    if (ui::getClassName(child) == "CPreviewer" && ui::isWindowVisible(child)) settingsCell = child;
  ASSERT_NE(settingsCell, 0u);
  cell_ = ui::getWindowRect(settingsCell);
  ASSERT_EQ(cell_.width(), 703);
  ASSERT_EQ(cell_.height(), 575);
  // Nothing was applied yet: every read back has no editor to read.
  EXPECT_EQ(code(settings(2, R"("type": 3)")), 1009);
  EXPECT_EQ(code(settings(2, R"("type": 9)")), 1009);
}

TEST_F(SettingsFromPage, PrivacyMasksAreAppliedDrawnEditedWithTheMouseAndReadBack) {
  const Json::Value applied = settings(1, R"("type": 3, "privacyCover": {"type": 1, "count": 2,)"
                                          R"( "left": [100, 400], "top": [50, 300], "right": [200, 600],)"
                                          R"( "bottom": [150, 500], "fillColor": "FF0000"}})");
  ASSERT_EQ(code(applied), 200) << applied.toStyledString();
  // "FF0000" is the device's blue: both masks fill in blue over the picture.
  EXPECT_TRUE(eventually([] { return countColor(Rect{110, 60, 190, 140}, kBlue) == 80 * 80; }));
  EXPECT_TRUE(eventually([] { return countColor(Rect{410, 310, 590, 490}, kBlue) == 180 * 180; }));
  Json::Value back = settings(2, R"("type": 3)");
  ASSERT_EQ(code(back), 200);
  const Json::Value& cover = back["settings"]["privacyCover"];
  EXPECT_EQ(cover["count"].asUInt(), 2u);
  EXPECT_EQ(ints(cover["left"]), (std::vector<int>{100, 400}));
  EXPECT_EQ(ints(cover["top"]), (std::vector<int>{50, 300}));
  EXPECT_EQ(ints(cover["right"]), (std::vector<int>{200, 600}));
  EXPECT_EQ(ints(cover["bottom"]), (std::vector<int>{150, 500}));

  // The cursor follows the handles under the pointer.
  EXPECT_EQ(cursorOver(at(500, 400)), ui::CursorShape::SizeAll);
  EXPECT_EQ(cursorOver(at(598, 400)), ui::CursorShape::SizeWE);
  EXPECT_EQ(cursorOver(at(402, 302)), ui::CursorShape::SizeNWSE);
  EXPECT_EQ(cursorOver(at(300, 250)), ui::CursorShape::Arrow);

  // Move the second mask, widen the first by its right edge, draw a third.
  drag(at(500, 400), at(520, 410));
  drag(at(198, 100), at(228, 100));
  drag(at(30, 450), at(90, 520));
  back = settings(2, R"("type": 3)");
  ASSERT_EQ(code(back), 200);
  const Json::Value& edited = back["settings"]["privacyCover"];
  EXPECT_EQ(edited["count"].asUInt(), 3u);
  EXPECT_EQ(ints(edited["left"]), (std::vector<int>{100, 420, 30}));
  EXPECT_EQ(ints(edited["top"]), (std::vector<int>{50, 310, 450}));
  EXPECT_EQ(ints(edited["right"]), (std::vector<int>{230, 620, 90}));
  EXPECT_EQ(ints(edited["bottom"]), (std::vector<int>{150, 510, 520}));
  EXPECT_TRUE(eventually([] { return countColor(Rect{40, 460, 80, 510}, kBlue) == 40 * 50; }));

  // A clear hides the masks but keeps them for the next read back.
  ASSERT_EQ(code(settings(3, "")), 200);
  EXPECT_TRUE(eventually([] { return countColor(Rect{110, 60, 190, 140}, kBlue) < 80 * 80 / 2; }));
  back = settings(2, R"("type": 3)");
  EXPECT_EQ(back["settings"]["privacyCover"]["count"].asUInt(), 3u);
}

TEST_F(SettingsFromPage, OnScreenTextIsPlacedDraggedAndReadBackWithoutDrift) {
  const Json::Value applied =
      settings(1, R"("type": 1, "OSD": {"type": 1, "datetime_format": 1, "datetime_x": 10, "datetime_y": 10,)"
                  R"( "count": 2, "text": ["Gate", "North^Yard"], "text_x": [295, 77], "text_y": [200, 401]}})");
  ASSERT_EQ(code(applied), 200) << applied.toStyledString();
  // Red frames around the text lines, where the picture had little red.
  EXPECT_TRUE(eventually([] { return countColor(Rect{290, 195, 360, 240}, kRed) > 40; }));
  Json::Value back = settings(2, R"("type": 1)");
  ASSERT_EQ(code(back), 200);
  Json::Value osd = back["settings"]["OSD"];
  EXPECT_EQ(osd["count"].asUInt(), 2u);
  ASSERT_EQ(osd["text"].size(), 2u);
  EXPECT_EQ(osd["text"][0].asString(), "Gate");
  EXPECT_EQ(osd["text"][1].asString(), "North\nYard");
  EXPECT_EQ(ints(osd["text_x"]), (std::vector<int>{295, 77}));
  EXPECT_EQ(ints(osd["text_y"]), (std::vector<int>{200, 401}));
  EXPECT_EQ(osd["datetime_x"].asInt(), 10);
  EXPECT_EQ(osd["datetime_y"].asInt(), 10);

  // Saving what was read back changes nothing.
  const Json::Value again = settings(
      1, R"("type": 1, "OSD": {"type": 1, "datetime_format": 1, "datetime_x": 10, "datetime_y": 10, "count": 2,)"
         R"( "text": ["Gate", "North^Yard"], "text_x": )" +
             osd["text_x"].toStyledString() + R"(, "text_y": )" + osd["text_y"].toStyledString() + "}");
  ASSERT_EQ(code(again), 200);
  EXPECT_EQ(ints(settings(2, R"("type": 1)")["settings"]["OSD"]["text_x"]), (std::vector<int>{295, 77}));

  // A line dragged by the mouse moves by whole pixels.
  EXPECT_EQ(cursorOver(at(300, 205)), ui::CursorShape::SizeAll);
  drag(at(300, 205), at(330, 225));
  EXPECT_EQ(cursorOver(at(690, 560)), ui::CursorShape::Arrow);
  osd = settings(2, R"("type": 1)")["settings"]["OSD"];
  EXPECT_EQ(ints(osd["text_x"]), (std::vector<int>{325, 77}));
  EXPECT_EQ(ints(osd["text_y"]), (std::vector<int>{220, 401}));

  // A change of one line with no line in the record is refused.
  EXPECT_EQ(code(settings(1, R"("type": 1, "blockId": 0, "OSD": {"type": 3, "count": 0, "text": [],)"
                             R"( "text_x": [], "text_y": []})")),
            1000);
}

TEST_F(SettingsFromPage, FaceAreasAreDrawnResizedInsideTheDetectionAreaAndReadBack) {
  const Json::Value applied = settings(
      1, R"("type": 9, "faceDiscern": {"type": 1, "width": [2000, 5000], "height": [2000, 5000],)"
         R"( "defWidth": [2000, 5000], "defHeight": [2000, 5000], "widthQuoto": [10000, 0, 10000],)"
         R"( "heightQuoto": [10000, 0, 10000], "detect": {"left": 1000, "top": 1000, "right": 9000, "bottom": 9000},)"
         R"( "detectDef": {"left": 0, "top": 0, "right": 10000, "bottom": 10000}})");
  ASSERT_EQ(code(applied), 200) << applied.toStyledString();
  Json::Value back = settings(2, R"("type": 9)");
  ASSERT_EQ(code(back), 200);
  Json::Value face = back["settings"]["faceRecognition"];
  EXPECT_EQ(face["detect"]["left"].asInt(), 1000);
  EXPECT_EQ(face["detect"]["top"].asInt(), 1000);
  EXPECT_EQ(face["detect"]["right"].asInt(), 9000);
  EXPECT_EQ(face["detect"]["bottom"].asInt(), 9000);
  EXPECT_EQ(ints(face["width"]), (std::vector<int>{2000, 5000}));
  EXPECT_EQ(ints(face["height"]), (std::vector<int>{2000, 5000}));
  // The privacy masks are hidden now; the face boxes are drawn in their pens.
  EXPECT_TRUE(eventually([] { return countColor(Rect{110, 60, 190, 140}, kBlue) < 100; }));
  EXPECT_TRUE(eventually([] {
    return countColor(Rect{60, 60, 80, 500}, kRed) > 300 && countColor(Rect{270, 220, 290, 350}, kBlue) > 80 &&
           countColor(Rect{165, 140, 185, 430}, kGreen) > 200;
  }));

  // The minimum box (281..421 x 230..345) sits inside the detection area; its
  // right edge still takes the pointer and grows it.
  const int right = 281 + 140;
  // The editor starts following the pointer from its first move on.
  cursorOver(at(right - 30, 290));
  EXPECT_EQ(cursorOver(at(right - 2, 290)), ui::CursorShape::SizeWE);
  drag(at(right - 2, 290), at(right + 28, 290));
  face = settings(2, R"("type": 9)")["settings"]["faceRecognition"];
  EXPECT_GT(face["width"][0].asInt(), 2000);
  EXPECT_EQ(face["width"][1].asInt(), 5000);
  // Back to the default size.
  ASSERT_EQ(code(settings(1, R"("type": 9, "faceDiscern": {"type": 3, "detect": {}, "detectDef": {}})")), 200);
  face = settings(2, R"("type": 9)")["settings"]["faceRecognition"];
  EXPECT_EQ(ints(face["width"]), (std::vector<int>{2000, 5000}));
}

TEST_F(SettingsFromPage, ACrossingLineIsSetDraggedAndDrawnAnewWithTheMouse) {
  ASSERT_EQ(code(settings(1, R"("type": 5, "intrusion": {"type": 1, "orientation": 1, "x": [2000, 8000],)"
                             R"( "y": [5000, 5000]})")),
            200);
  Json::Value line = settings(2, R"("type": 5)")["settings"]["crossBorder"];
  EXPECT_EQ(ints(line["x"]), (std::vector<int>{2000, 8000}));
  EXPECT_EQ(ints(line["y"]), (std::vector<int>{5000, 5000}));
  EXPECT_EQ(line["orientation"].asInt(), 1);
  // The green line from (140, 287) to (562, 287), its orange arrow across
  // the middle, red handles on its ends.
  EXPECT_TRUE(eventually([] {
    return countColor(Rect{150, 285, 550, 290}, kGreen) > 600 &&
           countColor(Rect{340, 260, 362, 315}, ui::RGB(0xFF, 0xC9, 0x0E)) > 40 &&
           countColor(Rect{135, 282, 146, 293}, kRed) > 10;
  }));

  // The far end dragged by its handle, then both directions.
  drag(at(562, 287), at(600, 400));
  ASSERT_EQ(code(settings(1, R"("type": 5, "intrusion": {"type": 3, "orientation": 3})")), 200);
  line = settings(2, R"("type": 5)")["settings"]["crossBorder"];
  EXPECT_EQ(ints(line["x"]), (std::vector<int>{2000, 8533}));
  EXPECT_EQ(ints(line["y"]), (std::vector<int>{5000, 6955}));
  EXPECT_EQ(line["orientation"].asInt(), 3);
  EXPECT_TRUE(eventually([] { return countColor(Rect{0, 0, 703, 575}, ui::RGB(0x19, 0xBF, 0xFD)) > 40; }));

  // A new line drawn by the mouse, past the cell's right edge.
  ASSERT_EQ(code(settings(1, R"("type": 5, "intrusion": {"type": 2, "orientation": 3, "x": [0, 0], "y": [0, 0]})")),
            200);
  drag(at(100, 100), at(800, 300));
  line = settings(2, R"("type": 5)")["settings"]["crossBorder"];
  EXPECT_EQ(ints(line["x"]), (std::vector<int>{1422, 9999}));
  EXPECT_EQ(ints(line["y"]), (std::vector<int>{1738, 5216}));
}

TEST_F(SettingsFromPage, PolygonRegionsAreAddedLabelledEditedAndRefusedWhenTheyWouldCross) {
  // A default rectangle as the electric fence: (251, 237)-(451, 337).
  ASSERT_EQ(code(settings(1, R"("type": 4, "polygon": {"type": 6, "edge": 4})")), 200);
  Json::Value fence = settings(2, R"("type": 4, "blockId": 0)")["settings"]["electricFence"];
  EXPECT_EQ(fence["edge"].asUInt(), 4u);
  EXPECT_EQ(ints(fence["x"]), (std::vector<int>{3570, 6414, 6414, 3570}));
  EXPECT_EQ(ints(fence["y"]), (std::vector<int>{4121, 4121, 5860, 5860}));
  // A second region from the page's points is selected (drawn thicker), and
  // both carry their red numbers.
  ASSERT_EQ(code(settings(1, R"("type": 2, "polygon": {"type": 4, "edge": 3, "x": [1000, 3000, 1000],)"
                             R"( "y": [1000, 1000, 3000]})")),
            200);
  Json::Value motion = settings(2, R"("type": 2, "blockId": 1)")["settings"]["motion"];
  EXPECT_EQ(ints(motion["x"]), (std::vector<int>{1000, 3000, 1000}));
  EXPECT_EQ(ints(motion["y"]), (std::vector<int>{1000, 1000, 3000}));
  EXPECT_TRUE(eventually([] {
    return countColor(Rect{245, 230, 460, 345}, kGreen) > 600 && countColor(Rect{245, 230, 290, 260}, kRed) > 10 &&
           countColor(Rect{66, 54, 110, 80}, kRed) > 10;
  }));

  // A vertex of the rectangle dragged across its opposite edge springs back
  // at the release; one dragged a little stays, though the second press
  // comes at once on the same spot (a double click to the window).
  EXPECT_EQ(cursorOver(at(251, 237)), ui::CursorShape::SizeNWSE);
  drag(at(251, 237), at(300, 400));
  fence = settings(2, R"("type": 4, "blockId": 0)")["settings"]["electricFence"];
  EXPECT_EQ(ints(fence["x"]), (std::vector<int>{3570, 6414, 6414, 3570}));
  drag(at(251, 237), at(241, 227));
  fence = settings(2, R"("type": 4, "blockId": 0)")["settings"]["electricFence"];
  EXPECT_EQ(fence["x"][0].asInt(), 241 * 9999 / 703);
  // The triangle's vertex dropped on the line through the other two is refused.
  const int top = 1000 * 575 / 9999;
  drag(at(1000 * 703 / 9999, 3000 * 575 / 9999), at(140, top));
  motion = settings(2, R"("type": 2, "blockId": 1)")["settings"]["motion"];
  EXPECT_EQ(ints(motion["x"]), (std::vector<int>{1000, 3000, 1000}));

  // Reshaped to a default pentagon, then deleted; a region that does not
  // exist reads back empty and cannot be deleted.
  ASSERT_EQ(code(settings(1, R"("type": 2, "blockId": 1, "polygon": {"type": 3, "edge": 5})")), 200);
  EXPECT_EQ(settings(2, R"("type": 2, "blockId": 1)")["settings"]["motion"]["edge"].asUInt(), 5u);
  ASSERT_EQ(code(settings(1, R"("type": 2, "blockId": 1, "polygon": {"type": 5})")), 200);
  EXPECT_EQ(settings(2, R"("type": 2, "blockId": 1)")["settings"]["motion"]["edge"].asUInt(), 0u);
  EXPECT_EQ(code(settings(1, R"("type": 2, "blockId": -1, "polygon": {"type": 5})")), 1000);
  EXPECT_EQ(code(settings(1, R"("type": 2, "polygon": {"type": 6, "edge": 9})")), 1000);
}

TEST_F(SettingsFromPage, APassengerRegionCountsAcrossItsFirstEdgeAndStaysInItsBoundary) {
  ASSERT_EQ(code(settings(1, R"("type": 7, "passenger": {"type": 1, "edge": 4, "x": [1000, 3000, 3000, 1000],)"
                             R"( "y": [1000, 1000, 3000, 3000], "orientation": 3,)"
                             R"( "boundary": {"left": 0, "top": 0, "right": 4999, "bottom": 9999}})")),
            200);
  Json::Value passenger = settings(2, R"("type": 7)")["settings"]["passenger"];
  EXPECT_EQ(passenger["edge"].asInt(), 4);
  EXPECT_EQ(ints(passenger["x"]), (std::vector<int>{1000, 3000, 3000, 1000}));
  // Two arrows across the first edge (y = 57), no labels.
  EXPECT_TRUE(eventually([] {
    return countColor(Rect{60, 40, 220, 180}, kGreen) > 300 &&
           countColor(Rect{120, 30, 190, 85}, ui::RGB(0xFF, 0xC9, 0x0E)) > 20 &&
           countColor(Rect{120, 30, 190, 85}, ui::RGB(0x19, 0xBF, 0xFD)) > 20;
  }));
  // Dragged past the middle of the cell: refused whole. A small move stays.
  EXPECT_EQ(cursorOver(at(140, 110)), ui::CursorShape::SizeAll);
  drag(at(140, 110), at(340, 110));
  EXPECT_EQ(ints(settings(2, R"("type": 7)")["settings"]["passenger"]["x"]),
            (std::vector<int>{1000, 3000, 3000, 1000}));
  // Fewer than three points are refused and change nothing.
  EXPECT_EQ(code(settings(1, R"("type": 7, "passenger": {"type": 1, "edge": 2, "x": [1, 2], "y": [1, 2],)"
                             R"( "boundary": {}})")),
            1000);
  EXPECT_EQ(settings(2, R"("type": 7)")["settings"]["passenger"]["edge"].asInt(), 4);
  // A clear hides every editor.
  ASSERT_EQ(code(settings(3, "")), 200);
  EXPECT_TRUE(eventually([] { return countColor(Rect{120, 30, 190, 85}, ui::RGB(0xFF, 0xC9, 0x0E)) == 0; }));
}

}  // namespace
