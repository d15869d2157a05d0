// Split layout arithmetic: cell counts, page starts and the exact cell
// rectangles of the grid and the three special layouts.
#include "plugin/video/live/SplitLayout.h"

#include <gtest/gtest.h>

#include <vector>

namespace ksplugs {
namespace {

using ui::Rect;

TEST(SplitLayout, CellCountsAndUnknownTypes) {
  const std::vector<std::pair<int, int>> counts = {{1, 1},  {2, 4},  {3, 9},  {4, 16}, {5, 25},
                                                   {6, 36}, {15, 6}, {16, 8}, {17, 10}, {18, 25}};
  for (const auto& [type, count] : counts) EXPECT_EQ(SplitLayout::cellCount(type), count) << type;
  for (int type : {-1, 0, 7, 10, 14, 19, 36, 1000}) {
    EXPECT_EQ(SplitLayout::cellCount(type), 0) << type;
    EXPECT_FALSE(SplitLayout::cellRect(type, 0, 800, 600)) << type;
  }
  EXPECT_FALSE(SplitLayout::cellRect(2, 4, 800, 600));
  EXPECT_FALSE(SplitLayout::cellRect(2, -1, 800, 600));
}

TEST(SplitLayout, TwoByTwoOnAnOddDockRoundsHalfAwayAndGivesTheRestToTheLastColumnAndRow) {
  // Columns: (801 - 6) / 2 = 397.5 rounds to 398, the last column gets 397.
  // Rows follow the dock's own height: (601 - 6) / 2 = 297.5 rounds to 298,
  // the last row gets 297, so the bottom row ends two pixels above the edge.
  EXPECT_EQ(SplitLayout::cellRect(2, 0, 801, 601), Rect::fromSize(2, 2, 398, 298));
  EXPECT_EQ(SplitLayout::cellRect(2, 1, 801, 601), Rect::fromSize(402, 2, 397, 298));
  EXPECT_EQ(SplitLayout::cellRect(2, 2, 801, 601), Rect::fromSize(2, 302, 398, 297));
  EXPECT_EQ(SplitLayout::cellRect(2, 3, 801, 601), Rect::fromSize(402, 302, 397, 297));
  // On a square dock of the same width both directions match.
  EXPECT_EQ(SplitLayout::cellRect(2, 3, 801, 801), Rect::fromSize(402, 402, 397, 397));
}

TEST(SplitLayout, EveryLayoutTilesTheDockWithTwoPixelGapsAndNoOverlap) {
  for (int type : {2, 3, 4, 5, 6, 15, 16, 17, 18}) {
    for (const auto& [W, H] : std::vector<std::pair<int, int>>{{1920, 1080}, {801, 601}, {640, 480}}) {
      const int n = SplitLayout::cellCount(type);
      std::vector<Rect> rects;
      for (int j = 0; j < n; ++j) {
        const auto r = SplitLayout::cellRect(type, j, W, H);
        ASSERT_TRUE(r);
        EXPECT_GE(r->left, 2) << type;
        EXPECT_GE(r->top, 2) << type;
        EXPECT_LE(r->right, W - 2) << type << " " << j;
        EXPECT_LE(r->bottom, H - 2) << type << " " << j;
        EXPECT_FALSE(r->isEmpty());
        for (const Rect& other : rects) {
          // Cells never touch: a selection border fits between any two.
          const Rect grown{r->left - 2, r->top - 2, r->right + 2, r->bottom + 2};
          EXPECT_TRUE(grown.intersect(other).isEmpty()) << "type " << type << " position " << j;
        }
        rects.push_back(*r);
      }
    }
  }
}

TEST(SplitLayout, SpecialLayoutsPutTheBigCellsWhereTheyBelong) {
  // 3 x 3 with a 2 x 2 cell: w = (800 - 8) / 3 = 264, h = (608 - 8) / 3 = 200.
  EXPECT_EQ(SplitLayout::cellRect(15, 0, 800, 608), Rect::fromSize(2, 2, 530, 402));
  EXPECT_EQ(SplitLayout::cellRect(15, 2, 800, 608), Rect::fromSize(534, 204, 264, 200));
  EXPECT_EQ(SplitLayout::cellRect(15, 5, 800, 608), Rect::fromSize(534, 406, 264, 200));
  // 4 x 4 with a 3 x 3 cell: w = 190, h = 145.
  EXPECT_EQ(SplitLayout::cellRect(16, 0, 770, 590), Rect::fromSize(2, 2, 574, 439));
  EXPECT_EQ(SplitLayout::cellRect(16, 7, 770, 590), Rect::fromSize(578, 443, 190, 145));
  // Two 2 x 2 cells in the middle rows.
  EXPECT_EQ(SplitLayout::cellRect(17, 4, 770, 590), Rect::fromSize(2, 149, 382, 292));
  EXPECT_EQ(SplitLayout::cellRect(17, 5, 770, 590), Rect::fromSize(386, 149, 382, 292));
  EXPECT_EQ(SplitLayout::cellRect(17, 9, 770, 590), Rect::fromSize(578, 443, 190, 145));
}

TEST(SplitLayout, PagesAdvanceByWholePagesAndWrapBeforeCell36) {
  auto pages = [](int type) {
    std::vector<int> starts{0};
    for (int i = 0; i < 8; ++i) starts.push_back(SplitLayout::nextPageStart(type, starts.back()));
    return starts;
  };
  EXPECT_EQ(pages(15), (std::vector<int>{0, 6, 12, 18, 24, 30, 0, 6, 12}));
  EXPECT_EQ(pages(3), (std::vector<int>{0, 9, 18, 27, 0, 9, 18, 27, 0}));
  EXPECT_EQ(pages(4), (std::vector<int>{0, 16, 32, 0, 16, 32, 0, 16, 32}));
  EXPECT_EQ(pages(5), (std::vector<int>{0, 25, 0, 25, 0, 25, 0, 25, 0}));
  EXPECT_EQ(pages(16), (std::vector<int>{0, 8, 16, 24, 32, 0, 8, 16, 24}));
  EXPECT_EQ(pages(17), (std::vector<int>{0, 10, 20, 30, 0, 10, 20, 30, 0}));
  // A page start in the middle of a page moves to the next page boundary.
  EXPECT_EQ(SplitLayout::nextPageStart(2, 5), 8);
  EXPECT_EQ(SplitLayout::nextPageStart(6, 0), 0);
}

TEST(SplitLayout, AResizeKeepsAPageOnlyWhileAWholePageFitsBelowCell36) {
  EXPECT_EQ(SplitLayout::passPageStart(4, 16, false, true), 16);  // 36 - 16 >= 16
  EXPECT_EQ(SplitLayout::passPageStart(4, 32, false, true), 0);   // 36 - 32 < 16
  EXPECT_EQ(SplitLayout::passPageStart(4, 16, false, false), 0);  // a new layout starts at the top
  EXPECT_EQ(SplitLayout::passPageStart(6, 0, false, true), 0);
  EXPECT_EQ(SplitLayout::passPageStart(15, 30, false, true), 30);
  EXPECT_EQ(SplitLayout::passPageStart(15, 36, false, true), 0);
  EXPECT_EQ(SplitLayout::singlePageCell(35, true, false), 0);
  EXPECT_EQ(SplitLayout::singlePageCell(7, true, false), 8);
  EXPECT_EQ(SplitLayout::singlePageCell(7, false, true), 7);
  EXPECT_EQ(SplitLayout::singlePageCell(7, false, false), 0);
}

}  // namespace
}  // namespace ksplugs
