// The live-view dock on the headless desktop: cells per device, layouts and
// paging as the page requests them, resize rules, refused layout types,
// single-cell view, full screen, the shown flag, and what the dock draws:
// white background, the cells' background and the green selection border.
#include "plugin/video/live/CPreviewManager.h"

#include <gtest/gtest.h>

#include "plugin/video/VideoMessages.h"
#include "plugin/video/live/SplitLayout.h"
#include "plugin/video/live/testing/LiveViewTestSupport.h"

namespace ksplugs {
namespace {

using testing::DockTest;
using testing::range;
using ui::RGB;

constexpr ui::COLORREF kCell = RGB(0x48, 0x4D, 0x5A);
constexpr ui::COLORREF kGreen = RGB(0, 255, 0);
constexpr ui::COLORREF kWhite = RGB(255, 255, 255);

using LiveViewDock = DockTest;

TEST_F(LiveViewDock, MultiChannelDeviceGets36CellsInTheSixBySixLayoutAndAHiddenSettingsCell) {
  auto& dock = makeDock(4);
  EXPECT_EQ(dock.cells().size(), 36u);
  EXPECT_EQ(dock.layout(), 6);
  EXPECT_EQ(visibleCells(), range(0, 35));
  EXPECT_EQ(dock.selectedCell(), dock.cells()[0]);
  ASSERT_NE(dock.settingsCell(), nullptr);
  EXPECT_FALSE(ui::isWindowVisible(dock.settingsCell()->hwnd()));
  EXPECT_EQ(ui::getWindowRect(dock.settingsCell()->hwnd()).width(), 801);
  EXPECT_EQ(dock.findCell(2, false), dock.cells()[2]);
  EXPECT_EQ(dock.findCell(-1, false), dock.cells()[0]);
  EXPECT_EQ(dock.findCell(0, true), dock.settingsCell());
  EXPECT_EQ(dock.findCell(36, false), nullptr);
}

TEST_F(LiveViewDock, TwoByTwoPlacesTheFirstPageAndDrawsTheSelectionBorder) {
  auto& dock = makeDock(4);
  dock.setLayout(2);
  settle();
  EXPECT_EQ(dock.layout(), 2);
  EXPECT_EQ(visibleCells(), range(0, 3));
  for (int j = 0; j < 4; ++j) EXPECT_EQ(cellRect(j), SplitLayout::cellRect(2, j, 801, 601)) << j;

  ui::Image image = capture();
  EXPECT_EQ(image.colorAt(100, 100), kCell);
  EXPECT_EQ(image.colorAt(500, 500), kCell);
  // Cell 0 is selected: a two-pixel green outline just outside it.
  const ui::Rect c0 = cellRect(0);
  EXPECT_EQ(image.colorAt(c0.left - 1, 100), kGreen);
  EXPECT_EQ(image.colorAt(c0.left - 2, 100), kGreen);
  EXPECT_EQ(image.colorAt(c0.right, 100), kGreen);
  EXPECT_EQ(image.colorAt(c0.right + 1, 100), kGreen);
  EXPECT_EQ(image.colorAt(100, c0.bottom + 1), kGreen);
  // The gap between the unselected bottom cells is the dock's white.
  const ui::Rect c2 = cellRect(2);
  EXPECT_EQ(image.colorAt(c2.right + 1, c2.top + 50), kWhite);

  // Selecting cell 3 erases the old outline with white and outlines cell 3.
  ui::sendMessage(dock.window(), MsgCellSelected, reinterpret_cast<ui::WPARAM>(dock.cells()[3]));
  image = capture();
  EXPECT_EQ(dock.selectedCell(), dock.cells()[3]);
  EXPECT_EQ(image.colorAt(c0.left - 1, 100), kWhite);
  const ui::Rect c3 = cellRect(3);
  EXPECT_EQ(image.colorAt(c3.left - 1, c3.top + 50), kGreen);
  EXPECT_EQ(image.colorAt(c3.right, c3.top + 50), kGreen);
}

TEST_F(LiveViewDock, SixteenChannelsAtTypeThreePageThroughAndBack) {
  auto& dock = makeDock(16);
  dock.setLayout(3);
  EXPECT_EQ(visibleCells(), range(0, 8));
  dock.setLayout(3);
  EXPECT_EQ(visibleCells(), range(9, 17));  // cells 16 and 17 have no channel but are shown
  EXPECT_EQ(dock.pageStart(), 9);
  // The selected cell went out of sight, so the first cell is selected.
  EXPECT_EQ(dock.selectedCell(), dock.cells()[0]);
  dock.setLayout(3);
  EXPECT_EQ(visibleCells(), range(0, 8));
  dock.setLayout(2);  // another type starts at its first page
  EXPECT_EQ(visibleCells(), range(0, 3));
}

TEST_F(LiveViewDock, ThirtySixChannelsPageThroughTypeFifteenAndTypeSixStays) {
  auto& dock = makeDock(36);
  dock.setLayout(6);
  EXPECT_EQ(visibleCells(), range(0, 35));
  EXPECT_EQ(dock.pageStart(), 0);
  std::vector<int> starts;
  for (int i = 0; i < 7; ++i) {
    dock.setLayout(15);
    starts.push_back(dock.pageStart());
    EXPECT_EQ(visibleCells(), range(dock.pageStart(), dock.pageStart() + 5));
  }
  EXPECT_EQ(starts, (std::vector<int>{0, 6, 12, 18, 24, 30, 0}));
}

TEST_F(LiveViewDock, AResizeKeepsThePageWhileAWholePageFits) {
  auto& dock = makeDock(36);
  dock.setLayout(4);
  dock.setLayout(4);
  ASSERT_EQ(dock.pageStart(), 16);
  ui::moveWindow(dock.window(), 0, 0, 900, 700, true);
  settle();
  EXPECT_EQ(dock.pageStart(), 16);
  EXPECT_EQ(visibleCells(), range(16, 31));
  EXPECT_EQ(cellRect(16), SplitLayout::cellRect(4, 0, 900, 700));
  dock.setLayout(4);
  ASSERT_EQ(dock.pageStart(), 32);
  ui::moveWindow(dock.window(), 0, 0, 801, 601, true);
  settle();
  EXPECT_EQ(dock.pageStart(), 0);  // only 4 cells are left below 36: back to the top
  EXPECT_EQ(visibleCells(), range(0, 15));
}

TEST_F(LiveViewDock, LayoutTypesThatDoNotExistAreRefusedAndTheLayoutStays) {
  auto& dock = makeDock(16);
  dock.setLayout(3);
  dock.setLayout(3);
  ASSERT_EQ(visibleCells(), range(9, 17));
  for (uint32_t bad : {7u, 10u, 14u, 19u, 99u, 0xFFFFFFFFu}) {
    dock.setLayout(bad);
    EXPECT_EQ(dock.layout(), 3) << bad;
    EXPECT_EQ(dock.pageStart(), 9) << bad;
    EXPECT_EQ(visibleCells(), range(9, 17)) << bad;
  }
  // The page counter did not move either: the next request of the same type
  // still goes back to the first page.
  dock.setLayout(3);
  EXPECT_EQ(visibleCells(), range(0, 8));
}

TEST_F(LiveViewDock, ADockOfAnUnlistedChannelCountKeepsItsLayout) {
  auto& dock = makeDock(3);
  dock.setLayout(2);
  EXPECT_EQ(dock.layout(), 6);
  EXPECT_EQ(visibleCells(), range(0, 35));
}

TEST_F(LiveViewDock, DoubleClickShowsOneCellAndAgainReturnsToTheFirstPage) {
  auto& dock = makeDock(4);
  dock.setLayout(2);
  settle();
  const ui::Rect c1 = cellRect(1);
  desktop_->doubleClick({c1.left + 50, c1.top + 80});
  settle();
  EXPECT_TRUE(dock.singleCellView());
  EXPECT_EQ(dock.selectedCell(), dock.cells()[1]);
  EXPECT_EQ(visibleCells(), std::vector<int>{1});
  EXPECT_EQ(cellRect(1), ui::Rect::fromSize(0, 0, 801, 601));
  desktop_->doubleClick({400, 300});
  settle();
  EXPECT_FALSE(dock.singleCellView());
  EXPECT_EQ(visibleCells(), range(0, 3));
  const ui::Image image = capture();
  EXPECT_EQ(image.colorAt(cellRect(1).left - 1, cellRect(1).top + 20), kGreen);
}

TEST_F(LiveViewDock, OneChannelDeviceHasOneCellNoBorderAndDoubleClickTogglesFullScreen) {
  auto& dock = makeDock(1);
  EXPECT_EQ(dock.cells().size(), 1u);
  EXPECT_EQ(dock.layout(), 1);
  EXPECT_EQ(cellRect(0), ui::Rect::fromSize(0, 0, 801, 601));
  ui::Image image = capture();
  EXPECT_EQ(image.colorAt(0, 0), kCell);
  EXPECT_EQ(image.colorAt(800, 600), kCell);

  desktop_->pressKey(ui::VK_ESCAPE);  // not in full screen: nothing
  settle();
  EXPECT_FALSE(dock.isFullScreen());

  desktop_->doubleClick({300, 300});
  settle();
  ASSERT_TRUE(dock.isFullScreen());
  const ui::Size screen = ui::getPrimaryScreenSize();
  EXPECT_EQ(ui::getWindowRect(dock.window()), ui::Rect::fromSize(0, 0, screen.cx, screen.cy));
  EXPECT_EQ(ui::getWindowRect(dock.cells()[0]->hwnd()).width(), screen.cx);

  // Escape reaches the dock from the focused video surface through its cell.
  ui::setFocus(dock.cells()[0]->surface());
  desktop_->pressKey(ui::VK_ESCAPE);
  settle();
  EXPECT_FALSE(dock.isFullScreen());
  EXPECT_EQ(ui::getWindowRect(dock.window()), ui::Rect::fromSize(0, 0, 801, 601));
  EXPECT_EQ(ui::getParent(dock.window()), host_->hwnd());
}

TEST_F(LiveViewDock, EveryPositionChangeFollowsTheShownFlag) {
  auto& dock = makeDock(4);
  dock.setShown(false);
  ui::moveWindow(dock.window(), 10, 10, 801, 601, true);
  EXPECT_FALSE(ui::isWindowVisible(dock.window()));
  dock.setShown(true);
  ui::moveWindow(dock.window(), 0, 0, 801, 601, true);
  EXPECT_TRUE(ui::isWindowVisible(dock.window()));
  dock.hide();
  EXPECT_FALSE(ui::isWindowVisible(dock.window()));
}

TEST_F(LiveViewDock, ClickSelectsACellAndRaisesTheSelectionEvent) {
  testing::EventRecorder recorder(*services_->events);
  auto& dock = makeDock(4);
  dock.setLayout(2);
  settle();
  const ui::Rect c2 = cellRect(2);
  desktop_->click({c2.left + 40, c2.top + 40});
  settle();
  EXPECT_EQ(dock.selectedCell(), dock.cells()[2]);
  const auto selected = recorder.ofType(NOTIFY_SELECTED);
  ASSERT_EQ(selected.size(), 1u);
  EXPECT_EQ(selected[0].channel, 2);
  EXPECT_EQ(selected[0].uniqueId, 7u);
}

TEST_F(LiveViewDock, AOneChannelCellRaisesNoSelectionEventAndShowsNoTitle) {
  testing::EventRecorder recorder(*services_->events);
  auto& dock = makeDock(1);
  dock.cells()[0]->setTitle(u"Front door");
  desktop_->click({100, 100});
  settle();
  EXPECT_TRUE(recorder.ofType(NOTIFY_SELECTED).empty());
  EXPECT_FALSE(ui::isWindowVisible(dock.cells()[0]->titleLabel()));
}

}  // namespace
}  // namespace ksplugs
