#include "platform/ui/backends/HeadlessDesktop.h"

#include <unistd.h>

#include <algorithm>

#include "platform/ui/backends/Backends.h"

namespace ui {

namespace {

uint32_t rgbOf(COLORREF c) { return Image::fromColorRef(c); }

// Foreign frames are drawn a little darker than their client area.
uint32_t frameOf(COLORREF c) {
  return rgbOf(RGB(static_cast<uint8_t>(GetRValue(c) * 3 / 4), static_cast<uint8_t>(GetGValue(c) * 3 / 4),
                   static_cast<uint8_t>(GetBValue(c) * 3 / 4)));
}

std::vector<MonitorInfo> defaultMonitors() {
  MonitorInfo m;
  m.bounds = {0, 0, 1920, 1080};
  m.workArea = {0, 0, 1920, 1040};
  m.primary = true;
  m.dpi = 96;
  return {m};
}

}  // namespace

std::unique_ptr<Backend> makeHeadlessBackend() { return std::make_unique<HeadlessDesktop>(); }

HeadlessDesktop::HeadlessDesktop(HeadlessOptions options) : options_(std::move(options)) {
  monitors_ = options_.monitors.empty() ? defaultMonitors() : options_.monitors;
}

HeadlessDesktop::~HeadlessDesktop() = default;

void HeadlessDesktop::attach(InputSink* sink) {
  std::lock_guard lock(mutex_);
  sink_ = sink;
}

HeadlessDesktop::Node* HeadlessDesktop::findLocked(HWND hwnd) {
  auto it = nodes_.find(hwnd);
  return it == nodes_.end() ? nullptr : &it->second;
}

void HeadlessDesktop::applyDesc(Node& n, const SurfaceDesc& desc) {
  n.parent = desc.parent;
  n.owner = desc.owner;
  n.rect = desc.rect;
  n.style = desc.style;
  n.exStyle = desc.exStyle;
  n.title = desc.title;
  n.className = desc.className;
  n.minimized = (desc.style & WS_MINIMIZE) != 0;
  n.maximized = (desc.style & WS_MAXIMIZE) != 0;
}

// ---------------------------------------------------------------- surfaces

void HeadlessDesktop::surfaceCreated(const SurfaceDesc& desc) {
  std::lock_guard lock(mutex_);
  Node& n = nodes_[desc.hwnd];
  n = Node{};
  n.hwnd = desc.hwnd;
  n.processId = static_cast<uint32_t>(::getpid());
  applyDesc(n, desc);
  n.pixels = Image(desc.rect.width(), desc.rect.height(), 0xFFFFFF);
  if (desc.parent) {
    if (Node* p = findLocked(desc.parent)) p->children.insert(p->children.begin(), desc.hwnd);
  } else {
    zOrder_.insert(zOrder_.begin(), desc.hwnd);
    normalizeLocked();
  }
}

void HeadlessDesktop::surfaceChanged(const SurfaceDesc& desc) {
  std::lock_guard lock(mutex_);
  Node* n = findLocked(desc.hwnd);
  if (!n || n->foreign) return;
  bool bandChanged = (n->exStyle ^ desc.exStyle) & WS_EX_TOPMOST;
  bool ownerChanged = n->owner != desc.owner;
  applyDesc(*n, desc);
  if (n->pixels.width() != desc.rect.width() || n->pixels.height() != desc.rect.height()) {
    Image resized(desc.rect.width(), desc.rect.height(), 0xFFFFFF);
    for (int y = 0; y < std::min(resized.height(), n->pixels.height()); ++y) {
      std::copy_n(n->pixels.row(y), std::min(resized.width(), n->pixels.width()), resized.row(y));
    }
    n->pixels = std::move(resized);
  }
  if (!desc.parent && (bandChanged || ownerChanged)) normalizeLocked();
}

void HeadlessDesktop::surfaceRestacked(HWND hwnd, HWND insertAfter) {
  std::lock_guard lock(mutex_);
  restackLocked(hwnd, insertAfter);
}

void HeadlessDesktop::surfaceDestroyed(HWND hwnd) {
  std::lock_guard lock(mutex_);
  Node* n = findLocked(hwnd);
  if (!n) return;
  if (n->parent) {
    if (Node* p = findLocked(n->parent)) std::erase(p->children, hwnd);
  } else {
    std::erase(zOrder_, hwnd);
  }
  nodes_.erase(hwnd);
}

void HeadlessDesktop::present(HWND hwnd, const ImageView& image, const Rect& dirty) {
  std::lock_guard lock(mutex_);
  Node* n = findLocked(hwnd);
  if (!n || n->foreign || !image.data) return;
  Rect copy = dirty;
  if (n->pixels.width() != image.width || n->pixels.height() != image.height) {
    n->pixels = Image(image.width, image.height);
    copy = {0, 0, image.width, image.height};
  }
  copy = copy.intersect({0, 0, image.width, image.height});
  if (copy.isEmpty()) return;
  const uint8_t* origin = image.data + static_cast<size_t>(copy.top) * image.stride + copy.left * 4;
  n->pixels.blit(origin, copy.width(), copy.height(), image.stride, {copy.left, copy.top}, copy);
}

void HeadlessDesktop::setForeground(HWND hwnd) {
  std::lock_guard lock(mutex_);
  restackLocked(hwnd, HWND_TOP);
}

// ---------------------------------------------------------------- Z order

void HeadlessDesktop::restackLocked(HWND hwnd, HWND insertAfter) {
  Node* n = findLocked(hwnd);
  if (!n) return;
  std::vector<HWND>* list = &zOrder_;
  if (n->parent) {
    Node* p = findLocked(n->parent);
    if (!p) return;
    list = &p->children;
  }
  if (insertAfter == HWND_TOPMOST) n->exStyle |= WS_EX_TOPMOST;
  if (insertAfter == HWND_NOTOPMOST) n->exStyle &= ~WS_EX_TOPMOST;
  std::erase(*list, hwnd);
  if (insertAfter == HWND_BOTTOM) {
    list->push_back(hwnd);
  } else {
    auto after = std::find(list->begin(), list->end(), insertAfter);
    if (after == list->end() || insertAfter == HWND_TOP) {
      list->insert(list->begin(), hwnd);
    } else {
      list->insert(after + 1, hwnd);
    }
  }
  if (!n->parent) normalizeLocked();
}

void HeadlessDesktop::normalizeLocked() {
  // Topmost windows stay above all others.
  std::stable_partition(zOrder_.begin(), zOrder_.end(), [this](HWND h) {
    Node* n = findLocked(h);
    return n && (n->exStyle & WS_EX_TOPMOST);
  });
  // An owned window stays above its owner, as a window manager keeps a
  // transient window above the one it belongs to. Bounded passes: an owner
  // cycle cannot loop forever.
  for (size_t pass = 0; pass < zOrder_.size(); ++pass) {
    bool moved = false;
    for (size_t i = 0; i < zOrder_.size(); ++i) {
      Node* n = findLocked(zOrder_[i]);
      if (!n || !n->owner) continue;
      auto owner = std::find(zOrder_.begin(), zOrder_.end(), n->owner);
      if (owner == zOrder_.end()) continue;
      size_t ownerIndex = static_cast<size_t>(owner - zOrder_.begin());
      Node* o = findLocked(n->owner);
      bool sameBand = o && ((o->exStyle ^ n->exStyle) & WS_EX_TOPMOST) == 0;
      if (sameBand && ownerIndex < i) {
        HWND h = zOrder_[i];
        zOrder_.erase(zOrder_.begin() + static_cast<long>(i));
        zOrder_.insert(zOrder_.begin() + static_cast<long>(ownerIndex), h);
        moved = true;
      }
    }
    if (!moved) break;
  }
}

bool HeadlessDesktop::restack(HWND hwnd, HWND insertAfter) {
  std::lock_guard lock(mutex_);
  if (!findLocked(hwnd)) return false;
  restackLocked(hwnd, insertAfter);
  return true;
}

// ---------------------------------------------------------------- queries

Rect HeadlessDesktop::screenRectLocked(const Node& n) {
  if (n.foreign) return n.rect;
  Rect r = n.rect;
  HWND parent = n.parent;
  while (parent) {
    Node* p = findLocked(parent);
    if (!p) break;
    r = r.offset(p->rect.left, p->rect.top);
    parent = p->parent;
  }
  return r;
}

bool HeadlessDesktop::visibleLocked(const Node& n) {
  const Node* cur = &n;
  while (cur) {
    if (!(cur->style & WS_VISIBLE)) return false;
    if (!cur->parent) return true;
    cur = findLocked(cur->parent);
  }
  return false;
}

std::vector<HWND> HeadlessDesktop::topLevelWindows() {
  std::lock_guard lock(mutex_);
  return zOrder_;
}

std::optional<DesktopWindowInfo> HeadlessDesktop::windowInfo(HWND hwnd) {
  std::lock_guard lock(mutex_);
  Node* n = findLocked(hwnd);
  if (!n) return std::nullopt;
  DesktopWindowInfo info;
  info.hwnd = hwnd;
  info.parent = n->parent;
  info.owner = n->owner;
  info.processId = n->processId;
  info.visible = visibleLocked(*n);
  info.minimized = n->minimized;
  info.maximized = n->maximized;
  info.title = n->title;
  info.className = n->className;
  info.style = n->style;
  info.exStyle = n->exStyle;
  info.windowRect = screenRectLocked(*n);
  info.frameBounds = n->foreign ? n->frameBounds : info.windowRect;
  info.clientRect = n->foreign ? n->client : info.windowRect;
  return info;
}

std::vector<HWND> HeadlessDesktop::childWindows(HWND hwnd) {
  std::lock_guard lock(mutex_);
  Node* n = findLocked(hwnd);
  return n ? n->children : std::vector<HWND>{};
}

std::vector<MonitorInfo> HeadlessDesktop::monitors() {
  std::lock_guard lock(mutex_);
  return monitors_;
}

void HeadlessDesktop::setMonitors(std::vector<MonitorInfo> monitors) {
  std::lock_guard lock(mutex_);
  monitors_ = monitors.empty() ? defaultMonitors() : std::move(monitors);
}

UINT HeadlessDesktop::dpiForWindow(HWND hwnd) {
  std::lock_guard lock(mutex_);
  Node* n = findLocked(hwnd);
  Point centre{};
  if (n) {
    Rect r = screenRectLocked(*n);
    centre = {r.left + r.width() / 2, r.top + r.height() / 2};
  }
  for (const MonitorInfo& m : monitors_) {
    if (m.bounds.contains(centre)) return m.dpi;
  }
  for (const MonitorInfo& m : monitors_) {
    if (m.primary) return m.dpi;
  }
  return 96;
}

// ---------------------------------------------------------------- foreign windows

HWND HeadlessDesktop::addForeignWindow(const ForeignWindowSpec& spec) {
  std::lock_guard lock(mutex_);
  if (spec.parent && !findLocked(spec.parent)) return 0;
  HWND h = nextForeign_++;
  Node& n = nodes_[h];
  n.hwnd = h;
  n.foreign = true;
  n.parent = spec.parent;
  n.owner = spec.owner;
  n.processId = spec.processId;
  n.title = spec.title;
  n.className = spec.className;
  n.style = spec.style;
  n.exStyle = spec.exStyle;
  n.rect = spec.frame;
  n.frameBounds = spec.frameBounds.value_or(spec.frame);
  n.client = spec.client.value_or(spec.frame);
  n.color = spec.color;
  if (spec.parent) {
    findLocked(spec.parent)->children.push_back(h);
  } else {
    zOrder_.insert(zOrder_.begin(), h);
    normalizeLocked();
  }
  return h;
}

bool HeadlessDesktop::removeForeignWindow(HWND hwnd) {
  std::lock_guard lock(mutex_);
  Node* n = findLocked(hwnd);
  if (!n || !n->foreign) return false;
  std::vector<HWND> doomed{hwnd};
  for (size_t i = 0; i < doomed.size(); ++i) {
    if (Node* d = findLocked(doomed[i])) {
      for (HWND c : d->children) doomed.push_back(c);
    }
  }
  if (n->parent) {
    if (Node* p = findLocked(n->parent)) std::erase(p->children, hwnd);
  } else {
    std::erase(zOrder_, hwnd);
  }
  for (HWND h : doomed) nodes_.erase(h);
  return true;
}

bool HeadlessDesktop::moveForeignWindow(HWND hwnd, const Rect& frame, std::optional<Rect> frameBounds,
                                        std::optional<Rect> client) {
  std::lock_guard lock(mutex_);
  Node* n = findLocked(hwnd);
  if (!n || !n->foreign) return false;
  // Children and the client area move along with the frame unless given.
  int dx = frame.left - n->rect.left;
  int dy = frame.top - n->rect.top;
  n->frameBounds = frameBounds.value_or(n->frameBounds.offset(dx, dy));
  n->client = client.value_or(n->client.offset(dx, dy));
  n->rect = frame;
  std::vector<HWND> stack = n->children;
  while (!stack.empty()) {
    Node* c = findLocked(stack.back());
    stack.pop_back();
    if (!c) continue;
    c->rect = c->rect.offset(dx, dy);
    c->frameBounds = c->frameBounds.offset(dx, dy);
    c->client = c->client.offset(dx, dy);
    for (HWND g : c->children) stack.push_back(g);
  }
  return true;
}

bool HeadlessDesktop::setForeignTitle(HWND hwnd, std::string title) {
  std::lock_guard lock(mutex_);
  Node* n = findLocked(hwnd);
  if (!n || !n->foreign) return false;
  n->title = std::move(title);
  return true;
}

bool HeadlessDesktop::setForeignState(HWND hwnd, bool minimized, bool maximized) {
  std::lock_guard lock(mutex_);
  Node* n = findLocked(hwnd);
  if (!n || !n->foreign) return false;
  n->minimized = minimized;
  n->maximized = maximized && !minimized;
  n->style = (n->style & ~(WS_MINIMIZE | WS_MAXIMIZE)) | (n->minimized ? WS_MINIMIZE : 0) |
             (n->maximized ? WS_MAXIMIZE : 0);
  return true;
}

bool HeadlessDesktop::setForeignVisible(HWND hwnd, bool visible) {
  std::lock_guard lock(mutex_);
  Node* n = findLocked(hwnd);
  if (!n || !n->foreign) return false;
  n->style = visible ? (n->style | WS_VISIBLE) : (n->style & ~WS_VISIBLE);
  return true;
}

// ---------------------------------------------------------------- input

HWND HeadlessDesktop::topLevelAtLocked(Point p) {
  for (HWND h : zOrder_) {
    Node* n = findLocked(h);
    if (!n || !visibleLocked(*n) || n->minimized) continue;
    if (screenRectLocked(*n).contains(p)) return h;
  }
  return 0;
}

HWND HeadlessDesktop::topLevelAt(Point screen) {
  std::lock_guard lock(mutex_);
  return topLevelAtLocked(screen);
}

void HeadlessDesktop::mouse(Point screen, MouseAction action) {
  InputSink* sink = nullptr;
  HWND ours = 0;
  Point at;
  {
    std::lock_guard lock(mutex_);
    at = screen;
    if (clip_ && !clip_->isEmpty()) {
      at.x = std::clamp(at.x, clip_->left, clip_->right - 1);
      at.y = std::clamp(at.y, clip_->top, clip_->bottom - 1);
    }
    cursor_ = at;
    HWND top = topLevelAtLocked(at);
    Node* n = findLocked(top);
    if (n && !n->foreign) ours = top;
    sink = sink_;
  }
  if (sink) sink->mouseInput(ours, at, action);
}

void HeadlessDesktop::click(Point screen) {
  mouse(screen, MouseAction::Move);
  mouse(screen, MouseAction::LeftDown);
  mouse(screen, MouseAction::LeftUp);
}

void HeadlessDesktop::doubleClick(Point screen) {
  click(screen);
  mouse(screen, MouseAction::LeftDown);
  mouse(screen, MouseAction::LeftUp);
}

void HeadlessDesktop::rightClick(Point screen) {
  mouse(screen, MouseAction::Move);
  mouse(screen, MouseAction::RightDown);
  mouse(screen, MouseAction::RightUp);
}

void HeadlessDesktop::key(UINT virtualKey, bool down) {
  InputSink* sink = nullptr;
  {
    std::lock_guard lock(mutex_);
    sink = sink_;
  }
  if (sink) sink->keyInput(virtualKey, down);
}

void HeadlessDesktop::pressKey(UINT virtualKey) {
  key(virtualKey, true);
  key(virtualKey, false);
}

Point HeadlessDesktop::cursorPos() {
  std::lock_guard lock(mutex_);
  return cursor_;
}

void HeadlessDesktop::setCursorShape(CursorShape shape) {
  std::lock_guard lock(mutex_);
  cursorShape_ = shape;
}

CursorShape HeadlessDesktop::cursorShape() {
  std::lock_guard lock(mutex_);
  return cursorShape_;
}

void HeadlessDesktop::clipCursor(const std::optional<Rect>& rect) {
  std::lock_guard lock(mutex_);
  clip_ = rect;
  if (clip_ && !clip_->isEmpty()) {
    cursor_.x = std::clamp(cursor_.x, clip_->left, clip_->right - 1);
    cursor_.y = std::clamp(cursor_.y, clip_->top, clip_->bottom - 1);
  }
}

std::optional<Rect> HeadlessDesktop::cursorClip() {
  std::lock_guard lock(mutex_);
  return clip_;
}

void HeadlessDesktop::setKeyHookActive(bool active) {
  std::lock_guard lock(mutex_);
  keyHookActive_ = active;
}

bool HeadlessDesktop::keyHookActive() {
  std::lock_guard lock(mutex_);
  return keyHookActive_;
}

// ---------------------------------------------------------------- services

UINT HeadlessDesktop::trackPopupMenu(HWND, const std::vector<MenuItemView>& items, Point screen) {
  MenuAnswer answer;
  {
    std::lock_guard lock(mutex_);
    lastMenu_ = items;
    lastMenuPoint_ = screen;
    ++menuCount_;
    answer = menuAnswer_;
  }
  return answer ? answer(items, screen) : 0;
}

std::optional<std::string> HeadlessDesktop::saveFileDialog(const SaveDialogRequest& request) {
  FileAnswer answer;
  {
    std::lock_guard lock(mutex_);
    lastFileDialog_ = request;
    answer = fileAnswer_;
  }
  return answer ? answer(request) : std::nullopt;
}

void HeadlessDesktop::setMenuAnswer(MenuAnswer answer) {
  std::lock_guard lock(mutex_);
  menuAnswer_ = std::move(answer);
}

void HeadlessDesktop::setFileDialogAnswer(FileAnswer answer) {
  std::lock_guard lock(mutex_);
  fileAnswer_ = std::move(answer);
}

std::vector<MenuItemView> HeadlessDesktop::lastMenu() {
  std::lock_guard lock(mutex_);
  return lastMenu_;
}

Point HeadlessDesktop::lastMenuPoint() {
  std::lock_guard lock(mutex_);
  return lastMenuPoint_;
}

int HeadlessDesktop::menuCount() {
  std::lock_guard lock(mutex_);
  return menuCount_;
}

std::optional<SaveDialogRequest> HeadlessDesktop::lastFileDialog() {
  std::lock_guard lock(mutex_);
  return lastFileDialog_;
}

// ---------------------------------------------------------------- captures

void HeadlessDesktop::drawLocked(Image& out, const Node& n, Point origin, const Rect& clip, bool forceVisible) {
  if (!forceVisible && (!(n.style & WS_VISIBLE) || n.minimized)) return;
  if (n.foreign) {
    // Foreign windows: frame, client area, then their children (screen
    // rectangles shifted like the parent).
    Rect frame = n.rect.offset(origin.x, origin.y).intersect(clip);
    out.fill(frame, frameOf(n.color));
    Rect client = n.client.offset(origin.x, origin.y).intersect(clip);
    out.fill(client, rgbOf(n.color));
    for (auto it = n.children.rbegin(); it != n.children.rend(); ++it) {
      Node* c = findLocked(*it);
      if (c) drawLocked(out, *c, origin, client, false);
    }
    return;
  }
  Rect r = Rect::fromSize(origin.x, origin.y, n.rect.width(), n.rect.height());
  Rect visible = r.intersect(clip);
  if (visible.isEmpty()) return;
  out.blit(reinterpret_cast<const uint8_t*>(n.pixels.row(0)), n.pixels.width(), n.pixels.height(),
           n.pixels.width() * 4, {r.left, r.top}, visible);
  // Children bottom first, so the top of the Z order lands last.
  for (auto it = n.children.rbegin(); it != n.children.rend(); ++it) {
    Node* c = findLocked(*it);
    if (!c) continue;
    Point childOrigin{r.left + c->rect.left, r.top + c->rect.top};
    drawLocked(out, *c, childOrigin, visible, false);
  }
}

Image HeadlessDesktop::captureDesktop() {
  std::lock_guard lock(mutex_);
  Rect all;
  for (const MonitorInfo& m : monitors_) all = all.unite(m.bounds);
  Image out(all.width(), all.height(), rgbOf(options_.desktopColor));
  Point shift{-all.left, -all.top};
  Rect clip{0, 0, all.width(), all.height()};
  for (auto it = zOrder_.rbegin(); it != zOrder_.rend(); ++it) {
    Node* n = findLocked(*it);
    if (!n) continue;
    if (n->foreign) {
      drawLocked(out, *n, shift, clip, false);
    } else {
      drawLocked(out, *n, {n->rect.left + shift.x, n->rect.top + shift.y}, clip, false);
    }
  }
  return out;
}

Image HeadlessDesktop::captureWindow(HWND hwnd) {
  std::lock_guard lock(mutex_);
  Node* n = findLocked(hwnd);
  if (!n) return {};
  Rect r = screenRectLocked(*n);
  Image out(r.width(), r.height(), rgbOf(options_.desktopColor));
  Rect clip{0, 0, r.width(), r.height()};
  if (n->foreign) {
    drawLocked(out, *n, {-r.left, -r.top}, clip, true);
  } else {
    drawLocked(out, *n, {0, 0}, clip, true);
  }
  return out;
}

}  // namespace ui
