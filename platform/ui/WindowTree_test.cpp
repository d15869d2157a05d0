#include "platform/ui/WindowTree.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/ui/Messages.h"

namespace ui {
namespace {

using Handles = std::vector<HWND>;

// 1 and 2 top-level (2 on top); 1 holds 10 and 11 (11 on top); 10 holds 100.
WindowTree sample() {
  WindowTree t;
  t.add(1, 0, 0, true);
  t.add(2, 0, 1, true);
  t.add(10, 1, 0, true);
  t.add(11, 1, 0, true);
  t.add(100, 10, 0, true);
  return t;
}

TEST(WindowTreeTest, AddLinksNewWindowsOnTopOrBelowTheirSiblings) {
  WindowTree t = sample();
  EXPECT_EQ(t.topLevels(), (Handles{2, 1}));
  EXPECT_EQ(t.children(1), (Handles{11, 10}));
  EXPECT_TRUE(t.add(12, 1, 0, true, WindowTree::Place::Bottom));
  EXPECT_EQ(t.children(1), (Handles{11, 10, 12}));
  EXPECT_FALSE(t.add(0, 0, 0, true));
  EXPECT_FALSE(t.add(10, 0, 0, true));   // taken
  EXPECT_FALSE(t.add(13, 99, 0, true));  // unknown parent
  EXPECT_FALSE(t.contains(13));
  EXPECT_EQ(t.parent(100), 10u);
  EXPECT_EQ(t.owner(2), 1u);
  EXPECT_EQ(t.topLevelOf(100), 1u);
  EXPECT_EQ(t.topLevelOf(2), 2u);
  EXPECT_EQ(t.topLevelOf(99), 0u);
  EXPECT_TRUE(t.children(99).empty());
}

TEST(WindowTreeTest, RemoveTakesTheSubtreeChildrenFirst) {
  WindowTree t = sample();
  EXPECT_EQ(t.remove(10), (Handles{100, 10}));
  EXPECT_EQ(t.children(1), (Handles{11}));
  EXPECT_FALSE(t.contains(100));
  Handles gone = t.remove(1);
  EXPECT_EQ(gone.back(), 1u);
  EXPECT_EQ(gone.size(), 2u);
  EXPECT_EQ(t.topLevels(), (Handles{2}));
  EXPECT_TRUE(t.remove(1).empty());
  // An owned window outlives its owner's node; the window system destroys
  // owned windows itself.
  EXPECT_EQ(t.owner(2), 1u);
}

TEST(WindowTreeTest, SetParentRefusesCyclesAndUnknownParents) {
  WindowTree t = sample();
  EXPECT_FALSE(t.setParent(10, 100));  // inside itself
  EXPECT_FALSE(t.setParent(10, 10));
  EXPECT_FALSE(t.setParent(10, 99));
  EXPECT_FALSE(t.setParent(99, 1));
  EXPECT_EQ(t.children(1), (Handles{11, 10}));
  EXPECT_TRUE(t.setParent(10, 2));
  EXPECT_EQ(t.children(1), (Handles{11}));
  EXPECT_EQ(t.children(2), (Handles{10}));
  EXPECT_EQ(t.topLevelOf(100), 2u);
  EXPECT_TRUE(t.setParent(10, 0));
  EXPECT_EQ(t.topLevels(), (Handles{10, 2, 1}));
}

TEST(WindowTreeTest, RestackPlacesAWindowAmongItsSiblings) {
  WindowTree t;
  t.add(1, 0, 0, true);
  for (HWND h : {10u, 11u, 12u}) t.add(h, 1, 0, true);
  EXPECT_EQ(t.children(1), (Handles{12, 11, 10}));
  t.restack(12, HWND_BOTTOM);
  EXPECT_EQ(t.children(1), (Handles{11, 10, 12}));
  t.restack(11, 10);
  EXPECT_EQ(t.children(1), (Handles{10, 11, 12}));
  t.restack(12, HWND_TOP);
  EXPECT_EQ(t.children(1), (Handles{12, 10, 11}));
  t.restack(11, HWND_TOPMOST);  // no sibling: the top
  EXPECT_EQ(t.children(1), (Handles{11, 12, 10}));
  t.add(2, 0, 0, true);
  t.setTopLevelOrder({1, 2});
  EXPECT_EQ(t.topLevels(), (Handles{1, 2}));
}

TEST(WindowTreeTest, VisibleNeedsTheWholeAncestorChain) {
  WindowTree t = sample();
  EXPECT_TRUE(t.isVisible(100));
  t.setVisible(1, false);
  EXPECT_FALSE(t.isVisible(100));
  EXPECT_FALSE(t.isVisible(1));
  EXPECT_TRUE(t.isVisible(2));
  t.setVisible(1, true);
  t.setVisible(100, false);
  EXPECT_FALSE(t.isVisible(100));
  EXPECT_TRUE(t.isVisible(10));
  EXPECT_FALSE(t.isVisible(99));
}

TEST(WindowTreeTest, OwnedByListsOnlyTopLevelWindows) {
  WindowTree t = sample();
  t.add(3, 0, 1, false);
  t.add(20, 2, 1, true);  // a child with an owner link is not an owned window
  Handles owned = t.ownedBy(1);
  std::sort(owned.begin(), owned.end());
  EXPECT_EQ(owned, (Handles{2, 3}));
  t.setOwner(3, 0);
  EXPECT_EQ(t.ownedBy(1), (Handles{2}));
}

}  // namespace
}  // namespace ui
