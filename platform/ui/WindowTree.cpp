#include "platform/ui/WindowTree.h"

#include <algorithm>

#include "platform/ui/Messages.h"

namespace ui {

namespace {

const std::vector<HWND> kNone;

}  // namespace

const WindowTree::Node* WindowTree::find(HWND hwnd) const {
  auto it = nodes_.find(hwnd);
  return it == nodes_.end() ? nullptr : &it->second;
}

WindowTree::Node* WindowTree::find(HWND hwnd) {
  auto it = nodes_.find(hwnd);
  return it == nodes_.end() ? nullptr : &it->second;
}

std::vector<HWND>& WindowTree::siblingsOf(const Node& n) {
  if (!n.parent) return topLevels_;
  return find(n.parent)->children;
}

void WindowTree::link(HWND hwnd, Node& n, Place place) {
  std::vector<HWND>& siblings = siblingsOf(n);
  if (place == Place::Top) {
    siblings.insert(siblings.begin(), hwnd);
  } else {
    siblings.push_back(hwnd);
  }
}

void WindowTree::unlink(HWND hwnd, const Node& n) {
  if (n.parent && !find(n.parent)) return;
  std::erase(siblingsOf(n), hwnd);
}

bool WindowTree::add(HWND hwnd, HWND parent, HWND owner, bool visible, Place place) {
  if (hwnd == 0 || nodes_.count(hwnd) || (parent && !find(parent))) return false;
  Node& n = nodes_[hwnd];
  n.parent = parent;
  n.owner = owner;
  n.visible = visible;
  link(hwnd, n, place);
  return true;
}

std::vector<HWND> WindowTree::remove(HWND hwnd) {
  const Node* n = find(hwnd);
  if (!n) return {};
  unlink(hwnd, *n);
  // Breadth first from hwnd, then reversed: every child comes before its parent.
  std::vector<HWND> doomed{hwnd};
  for (size_t i = 0; i < doomed.size(); ++i) {
    for (HWND c : find(doomed[i])->children) doomed.push_back(c);
  }
  std::reverse(doomed.begin(), doomed.end());
  for (HWND h : doomed) nodes_.erase(h);
  return doomed;
}

bool WindowTree::contains(HWND hwnd) const { return find(hwnd) != nullptr; }

HWND WindowTree::parent(HWND hwnd) const {
  const Node* n = find(hwnd);
  return n ? n->parent : 0;
}

HWND WindowTree::owner(HWND hwnd) const {
  const Node* n = find(hwnd);
  return n ? n->owner : 0;
}

HWND WindowTree::topLevelOf(HWND hwnd) const {
  const Node* n = find(hwnd);
  while (n && n->parent) {
    hwnd = n->parent;
    n = find(hwnd);
  }
  return n ? hwnd : 0;
}

const std::vector<HWND>& WindowTree::children(HWND hwnd) const {
  const Node* n = find(hwnd);
  return n ? n->children : kNone;
}

std::vector<HWND> WindowTree::ownedBy(HWND owner) const {
  std::vector<HWND> owned;
  for (const auto& [h, n] : nodes_) {
    if (n.owner == owner && n.parent == 0) owned.push_back(h);
  }
  return owned;
}

bool WindowTree::setParent(HWND hwnd, HWND parent) {
  Node* n = find(hwnd);
  if (!n) return false;
  // Refuse a parent that is unknown or lies inside the window itself.
  for (HWND p = parent; p;) {
    const Node* pn = find(p);
    if (!pn || p == hwnd) return false;
    p = pn->parent;
  }
  unlink(hwnd, *n);
  n->parent = parent;
  link(hwnd, *n, Place::Top);
  return true;
}

void WindowTree::setOwner(HWND hwnd, HWND owner) {
  if (Node* n = find(hwnd)) n->owner = owner;
}

void WindowTree::restack(HWND hwnd, HWND insertAfter) {
  Node* n = find(hwnd);
  if (!n || (n->parent && !find(n->parent))) return;
  std::vector<HWND>& siblings = siblingsOf(*n);
  std::erase(siblings, hwnd);
  if (insertAfter == HWND_BOTTOM) {
    siblings.push_back(hwnd);
    return;
  }
  auto after = std::find(siblings.begin(), siblings.end(), insertAfter);
  if (after == siblings.end() || insertAfter == HWND_TOP) {
    siblings.insert(siblings.begin(), hwnd);
  } else {
    siblings.insert(after + 1, hwnd);
  }
}

void WindowTree::setTopLevelOrder(std::vector<HWND> order) { topLevels_ = std::move(order); }

void WindowTree::setVisible(HWND hwnd, bool visible) {
  if (Node* n = find(hwnd)) n->visible = visible;
}

bool WindowTree::isVisible(HWND hwnd) const {
  for (const Node* n = find(hwnd); n; n = find(n->parent)) {
    if (!n->visible) return false;
    if (!n->parent) return true;
  }
  return false;
}

}  // namespace ui
