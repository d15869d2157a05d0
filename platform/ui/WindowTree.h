#pragma once
// The links between windows: each window's parent, owner and children in Z
// order (top first), the Z order of the top-level windows, and each window's
// own visible bit. The window system keeps one for this process's windows;
// a backend may keep one for the whole desktop.
//
// Threads: none of its own. The object that holds a tree guards it with its
// own lock.
#include <map>
#include <vector>

#include "platform/ui/Types.h"

namespace ui {

class WindowTree {
 public:
  enum class Place { Top, Bottom };

  // Adds a window at the top (or bottom) of its siblings, or of the
  // top-level windows when parent is 0. False when hwnd is 0 or known
  // already, or when the parent is unknown.
  bool add(HWND hwnd, HWND parent, HWND owner, bool visible, Place place = Place::Top);
  // Forgets a window and everything below it; answers them, children first
  // and hwnd last. Windows it owns keep their (now stale) owner link.
  std::vector<HWND> remove(HWND hwnd);

  bool contains(HWND hwnd) const;
  HWND parent(HWND hwnd) const;
  HWND owner(HWND hwnd) const;
  // The top-level window hwnd sits in (hwnd itself when top-level), 0 when unknown.
  HWND topLevelOf(HWND hwnd) const;
  // Direct children, Z order top first; empty when unknown.
  const std::vector<HWND>& children(HWND hwnd) const;
  // Top-level windows, Z order top first.
  const std::vector<HWND>& topLevels() const { return topLevels_; }
  // Top-level windows whose owner is owner.
  std::vector<HWND> ownedBy(HWND owner) const;

  // Moves hwnd to the top of parent's children (0: the top-level windows).
  // False when either is unknown or parent lies inside hwnd.
  bool setParent(HWND hwnd, HWND parent);
  void setOwner(HWND hwnd, HWND owner);
  // Places hwnd right below insertAfter among its siblings: HWND_BOTTOM puts
  // it last; HWND_TOP, a special handle or one that is no sibling puts it
  // first.
  void restack(HWND hwnd, HWND insertAfter);
  // Replaces the top-level Z order; it must hold the same windows.
  void setTopLevelOrder(std::vector<HWND> order);

  void setVisible(HWND hwnd, bool visible);
  // Its own visible bit and those of all its ancestors.
  bool isVisible(HWND hwnd) const;

 private:
  struct Node {
    HWND parent = 0;
    HWND owner = 0;
    bool visible = false;
    std::vector<HWND> children;  // Z order, top first
  };

  const Node* find(HWND hwnd) const;
  Node* find(HWND hwnd);
  std::vector<HWND>& siblingsOf(const Node& n);
  void link(HWND hwnd, Node& n, Place place);
  void unlink(HWND hwnd, const Node& n);

  std::map<HWND, Node> nodes_;
  std::vector<HWND> topLevels_;  // Z order, top first
};

}  // namespace ui
