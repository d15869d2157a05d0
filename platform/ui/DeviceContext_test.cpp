#include "platform/ui/DeviceContext.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/ui/FontRegistry.h"
#include "platform/ui/OffscreenBuffer.h"
#include "platform/ui/PaintScope.h"
#include "platform/ui/testing/UiTestSupport.h"
#include "platform/ui/Window.h"
#include "platform/ui/WindowDC.h"

namespace ui {
namespace {

using test::HeadlessTest;
using test::Watchdog;
using namespace std::chrono_literals;

COLORREF at(OffscreenBuffer& b, int x, int y) {
  PixelAccess px = b.dc().pixels();
  uint32_t p = reinterpret_cast<const uint32_t*>(px.data + static_cast<size_t>(y) * px.stride)[x];
  return RGB(static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p));
}

TEST(DeviceContextTest, FillsFramesAndOutlinesOnWholePixels) {
  OffscreenBuffer b(40, 40);
  DeviceContext& dc = b.dc();
  dc.fillRect(Rect{0, 0, 40, 40}, RGB(255, 255, 255));
  dc.fillRect(Rect{5, 5, 10, 10}, createSolidBrush(RGB(1, 2, 3)));
  EXPECT_EQ(at(b, 5, 5), RGB(1, 2, 3));
  EXPECT_EQ(at(b, 9, 9), RGB(1, 2, 3));
  EXPECT_EQ(at(b, 10, 10), RGB(255, 255, 255));
  EXPECT_EQ(at(b, 4, 5), RGB(255, 255, 255));
  // A closed 2-pixel outline one pixel outside a rectangle, as a selection
  // border is drawn: the pixels next to the rectangle are covered, the
  // rectangle itself is not.
  Rect cell{20, 20, 30, 30};
  dc.polyline({{cell.left - 1, cell.top - 1}, {cell.right + 1, cell.top - 1}, {cell.right + 1, cell.bottom + 1},
               {cell.left - 1, cell.bottom + 1}},
              RGB(0, 255, 0), 2, true);
  EXPECT_EQ(at(b, 19, 25), RGB(0, 255, 0));
  EXPECT_EQ(at(b, 25, 19), RGB(0, 255, 0));
  EXPECT_EQ(at(b, 30, 25), RGB(0, 255, 0));
  EXPECT_EQ(at(b, 25, 25), RGB(255, 255, 255));
  dc.frameRect(Rect{0, 0, 40, 40}, RGB(9, 9, 9), 1);
  EXPECT_EQ(at(b, 0, 20), RGB(9, 9, 9));
  EXPECT_EQ(at(b, 39, 39), RGB(9, 9, 9));
  EXPECT_EQ(at(b, 1, 20), RGB(255, 255, 255));
}

TEST(DeviceContextTest, SaveRestoreCoversGdiStateAndClip) {
  OffscreenBuffer b(20, 20);
  DeviceContext& dc = b.dc();
  dc.setTextColor(RGB(1, 1, 1));
  dc.setBkMode(OPAQUE);
  int level = dc.save();
  dc.setTextColor(RGB(2, 2, 2));
  dc.setBkMode(TRANSPARENT);
  dc.selectFont(0x999);
  dc.clipTo({0, 0, 5, 5});
  dc.fillRect(Rect{0, 0, 20, 20}, RGB(200, 0, 0));
  EXPECT_EQ(at(b, 10, 10), RGB(0, 0, 0));  // clipped away
  EXPECT_TRUE(dc.restore(level));
  EXPECT_EQ(dc.textColor(), RGB(1, 1, 1));
  EXPECT_EQ(dc.bkMode(), OPAQUE);
  EXPECT_EQ(dc.font(), 0u);
  dc.fillRect(Rect{0, 0, 20, 20}, RGB(0, 200, 0));
  EXPECT_EQ(at(b, 10, 10), RGB(0, 200, 0));
  EXPECT_FALSE(dc.restore());
  EXPECT_FALSE(dc.restore(5));
}

TEST(DeviceContextTest, FontsFallBackAndMeasure) {
  auto& fonts = FontRegistry::instance();
  EXPECT_EQ(fonts.resolveFamily("Segoe UI"), "sans-serif");
  EXPECT_EQ(fonts.resolveFamily("Microsoft Sans Serif"), "sans-serif");
  EXPECT_EQ(fonts.resolveFamily("DejaVu Sans"), "DejaVu Sans");
  EXPECT_EQ(fonts.resolveFamily("dejavu sans"), "DejaVu Sans");
  HFONT small = createFont("Segoe UI", 10);
  HFONT big = createFont("Segoe UI", 30, 700);
  Size a = measureText(small, "A");
  Size b = measureText(big, "A");
  EXPECT_GT(a.cx, 0);
  EXPECT_GT(b.cx, a.cx);
  EXPECT_GT(b.cy, a.cy);
  EXPECT_GT(measureText(small, "AAAA").cx, a.cx * 3);
  FontSpec spec;
  std::string family;
  EXPECT_TRUE(fonts.describe(big, spec, family));
  EXPECT_EQ(spec.weight, 700);
  EXPECT_TRUE(deleteFont(big));
  EXPECT_FALSE(deleteFont(big));
  // An unknown handle draws with the default font rather than failing.
  EXPECT_GT(measureText(big, "A").cx, 0);
  deleteFont(small);

  OffscreenBuffer buf(60, 30);
  buf.dc().fillRect(Rect{0, 0, 60, 30}, RGB(0, 0, 0));
  buf.dc().setTextColor(RGB(255, 255, 255));
  buf.dc().setBkMode(TRANSPARENT);
  buf.dc().drawText("Hi", {0, 0, 60, 30}, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  int lit = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 60; ++x) lit += at(buf, x, y) != RGB(0, 0, 0);
  EXPECT_GT(lit, 10);
  EXPECT_EQ(at(buf, 1, 1), RGB(0, 0, 0));
}

TEST(DeviceContextTest, OffscreenBufferCopiesIntoAnotherContext) {
  OffscreenBuffer source(10, 10);
  source.dc().fillRect(Rect{0, 0, 10, 10}, RGB(7, 8, 9));
  OffscreenBuffer target(30, 30);
  target.dc().fillRect(Rect{0, 0, 30, 30}, RGB(0, 0, 0));
  source.copyTo(target.dc(), 10, 10);
  EXPECT_EQ(at(target, 10, 10), RGB(7, 8, 9));
  EXPECT_EQ(at(target, 19, 19), RGB(7, 8, 9));
  EXPECT_EQ(at(target, 20, 20), RGB(0, 0, 0));
}

using WindowDrawingTest = HeadlessTest;

// A renderer thread draws whole frames under the window's lock while the
// window's own thread repaints: every capture shows one complete frame.
TEST_F(WindowDrawingTest, RendererThreadAndPaintNeverInterleave) {
  Watchdog dog(20s);
  class Video : public Window {
   public:
    LRESULT handleMessage(UINT msg, WPARAM w, LPARAM l) override {
      if (msg == WM_PAINT) {
        PaintScope ps(hwnd());
        if (ps.valid()) {
          Rect r = getClientRect(hwnd());
          // Two halves on purpose: a capture between them would be torn.
          ps.dc().fillRect(Rect{0, 0, r.right, r.bottom / 2}, RGB(0x48, 0x4D, 0x5A));
          ps.dc().fillRect(Rect{0, r.bottom / 2, r.right, r.bottom}, RGB(0x48, 0x4D, 0x5A));
        }
        return 0;
      }
      return defaultHandle(msg, w, l);
    }
  } video;
  HWND h = video.create(0, {0, 0, 64, 48}, "", WS_VISIBLE);
  pumpPendingMessages();
  std::atomic<bool> stop{false};
  std::thread renderer([&] {
    uint8_t shade = 0;
    while (!stop) {
      WindowDC dc(h);
      if (!dc.valid()) break;
      PixelAccess px = dc.dc().pixels();
      shade = static_cast<uint8_t>(shade + 1);
      for (int y = 0; y < px.height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(px.data + static_cast<size_t>(y) * px.stride);
        for (int x = 0; x < px.width; ++x) row[x] = 0x010101u * shade;
      }
      dc.dc().markDirty();
    }
  });
  int torn = 0;
  for (int i = 0; i < 300; ++i) {
    invalidateRect(h);
    pumpPendingMessages();
    Image shot = desktop_->captureWindow(h);
    uint32_t first = shot.pixel(0, 0);
    for (int y = 0; y < shot.height(); y += 7)
      for (int x = 0; x < shot.width(); x += 5) torn += shot.pixel(x, y) != first;
  }
  stop = true;
  renderer.join();
  EXPECT_EQ(torn, 0);
  // Drawing into a window that is gone fails cleanly.
  destroyWindow(h);
  WindowDC gone(h);
  EXPECT_FALSE(gone.valid());
}

}  // namespace
}  // namespace ui
