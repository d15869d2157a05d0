#include "platform/ui/backends/HeadlessDesktop.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/ui/backends/Backends.h"

namespace ui {

void HeadlessDesktop::resizeOwnLocked(Node& n, int width, int height, uint32_t fill) {
  width = std::max(0, width);
  height = std::max(0, height);
  if (n.adopted || (n.memory && width == n.width && height == n.height)) return;
  // The memory held serves while rows fit and it is not more than four
  // times what the new size needs: a window that is never painted (a host
  // covered by its children) resizes in a layout pass without allocating.
  const int64_t needed = static_cast<int64_t>(width) * height * 4;
  if (n.memory && width * 4 <= n.memory->stride() && height <= n.memory->rows() &&
      static_cast<int64_t>(n.memory->stride()) * n.memory->rows() <= std::max<int64_t>(needed * 4, 4)) {
    // A capture may be reading it.
    std::lock_guard pixelLock(n.memory->mutex());
    n.memory->keepPicture(n.memory.get(), n.width, n.height, width, height, fill);
    n.width = width;
    n.height = height;
    return;
  }
  // Otherwise fresh memory: a capture may still be reading the old one.
  std::shared_ptr<PixelMemory> fresh = width && height ? PixelMemory::allocate(width * 4, height) : nullptr;
  if (fresh) fresh->keepPicture(n.memory.get(), n.width, n.height, width, height, fill);
  n.memory = std::move(fresh);
  n.width = n.memory ? width : 0;
  n.height = n.memory ? height : 0;
}

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
  tree_.setOwner(n.hwnd, desc.owner);
  tree_.setVisible(n.hwnd, (desc.style & WS_VISIBLE) != 0);
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
  eraseLocked(desc.hwnd);
  // A child of a window the desktop does not know stays out of the tree, as
  // it would stay out of every capture.
  if (!tree_.add(desc.hwnd, desc.parent, desc.owner, false) && desc.parent) return;
  Node& n = nodes_[desc.hwnd];
  n.hwnd = desc.hwnd;
  n.processId = static_cast<uint32_t>(::getpid());
  applyDesc(n, desc);
  resizeOwnLocked(n, desc.rect.width(), desc.rect.height(), 0xFFFFFF);
  if (!desc.parent) normalizeLocked();
}

void HeadlessDesktop::surfaceChanged(const SurfaceDesc& desc) {
  std::lock_guard lock(mutex_);
  Node* n = findLocked(desc.hwnd);
  if (!n || n->foreign) return;
  bool bandChanged = (n->exStyle ^ desc.exStyle) & WS_EX_TOPMOST;
  bool ownerChanged = tree_.owner(desc.hwnd) != desc.owner;
  applyDesc(*n, desc);
  resizeOwnLocked(*n, desc.rect.width(), desc.rect.height(), 0xFFFFFF);
  if (!desc.parent && (bandChanged || ownerChanged)) normalizeLocked();
}

void HeadlessDesktop::surfaceRestacked(HWND hwnd, HWND insertAfter) {
  std::lock_guard lock(mutex_);
  restackLocked(hwnd, insertAfter);
}

void HeadlessDesktop::surfaceDestroyed(HWND hwnd) {
  std::lock_guard lock(mutex_);
  eraseLocked(hwnd);
}

void HeadlessDesktop::eraseLocked(HWND hwnd) {
  for (HWND h : tree_.remove(hwnd)) nodes_.erase(h);
}

void HeadlessDesktop::present(HWND hwnd, const ImageView& image, const Rect& dirty) {
  std::lock_guard lock(mutex_);
  Node* n = findLocked(hwnd);
  if (!n || n->foreign || !image.data) return;
  if (image.memory) {
    // The window's own memory: shown as it is from now on.
    n->memory = image.memory;
    n->width = image.width;
    n->height = image.height;
    n->adopted = true;
    return;
  }
  Rect copy = dirty;
  if (n->adopted || n->width != image.width || n->height != image.height) {
    n->adopted = false;
    resizeOwnLocked(*n, image.width, image.height, 0);
    copy = {0, 0, image.width, image.height};
  }
  copy = copy.intersect({0, 0, n->width, n->height});
  if (copy.isEmpty() || !n->memory) return;
  std::lock_guard pixelLock(n->memory->mutex());
  for (int y = copy.top; y < copy.bottom; ++y) {
    const uint8_t* from = image.data + static_cast<size_t>(y) * image.stride + static_cast<size_t>(copy.left) * 4;
    std::memcpy(n->memory->data() + static_cast<size_t>(y) * n->memory->stride() + static_cast<size_t>(copy.left) * 4,
                from, static_cast<size_t>(copy.width()) * 4);
  }
}

void HeadlessDesktop::setForeground(HWND hwnd) {
  std::lock_guard lock(mutex_);
  restackLocked(hwnd, HWND_TOP);
}

// ---------------------------------------------------------------- Z order

void HeadlessDesktop::restackLocked(HWND hwnd, HWND insertAfter) {
  Node* n = findLocked(hwnd);
  if (!n) return;
  if (insertAfter == HWND_TOPMOST) n->exStyle |= WS_EX_TOPMOST;
  if (insertAfter == HWND_NOTOPMOST) n->exStyle &= ~WS_EX_TOPMOST;
  tree_.restack(hwnd, insertAfter);
  if (!tree_.parent(hwnd)) normalizeLocked();
}

void HeadlessDesktop::normalizeLocked() {
  std::vector<HWND> zOrder = tree_.topLevels();
  // Topmost windows stay above all others.
  std::stable_partition(zOrder.begin(), zOrder.end(), [this](HWND h) {
    Node* n = findLocked(h);
    return n && (n->exStyle & WS_EX_TOPMOST);
  });
  // An owned window stays above its owner, as a window manager keeps a
  // transient window above the one it belongs to. Bounded passes: an owner
  // cycle cannot loop forever.
  for (size_t pass = 0; pass < zOrder.size(); ++pass) {
    bool moved = false;
    for (size_t i = 0; i < zOrder.size(); ++i) {
      Node* n = findLocked(zOrder[i]);
      HWND ownerHandle = tree_.owner(zOrder[i]);
      if (!n || !ownerHandle) continue;
      auto owner = std::find(zOrder.begin(), zOrder.end(), ownerHandle);
      if (owner == zOrder.end()) continue;
      size_t ownerIndex = static_cast<size_t>(owner - zOrder.begin());
      Node* o = findLocked(ownerHandle);
      bool sameBand = o && ((o->exStyle ^ n->exStyle) & WS_EX_TOPMOST) == 0;
      if (sameBand && ownerIndex < i) {
        HWND h = zOrder[i];
        zOrder.erase(zOrder.begin() + static_cast<long>(i));
        zOrder.insert(zOrder.begin() + static_cast<long>(ownerIndex), h);
        moved = true;
      }
    }
    if (!moved) break;
  }
  tree_.setTopLevelOrder(std::move(zOrder));
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
  for (HWND parent = tree_.parent(n.hwnd); parent; parent = tree_.parent(parent)) {
    Node* p = findLocked(parent);
    if (!p) break;
    r = r.offset(p->rect.left, p->rect.top);
  }
  return r;
}

bool HeadlessDesktop::visibleLocked(const Node& n) { return tree_.isVisible(n.hwnd); }

std::vector<HWND> HeadlessDesktop::topLevelWindows() {
  std::lock_guard lock(mutex_);
  return tree_.topLevels();
}

std::optional<DesktopWindowInfo> HeadlessDesktop::windowInfo(HWND hwnd) {
  std::lock_guard lock(mutex_);
  Node* n = findLocked(hwnd);
  if (!n) return std::nullopt;
  DesktopWindowInfo info;
  info.hwnd = hwnd;
  info.parent = tree_.parent(hwnd);
  info.owner = tree_.owner(hwnd);
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
  return tree_.children(hwnd);
}

std::vector<MonitorInfo> HeadlessDesktop::monitors() {
  std::lock_guard lock(mutex_);
  return monitors_;
}

void HeadlessDesktop::setMonitors(std::vector<MonitorInfo> monitors) {
  const UINT before = dpiForWindow(0);
  InputSink* sink = nullptr;
  {
    std::lock_guard lock(mutex_);
    monitors_ = monitors.empty() ? defaultMonitors() : std::move(monitors);
    sink = sink_;
  }
  const UINT after = dpiForWindow(0);
  if (sink && after != before) sink->dpiChanged(after);
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
  // A foreign child goes below its siblings; a top-level window on top.
  tree_.add(h, spec.parent, spec.owner, (spec.style & WS_VISIBLE) != 0,
            spec.parent ? WindowTree::Place::Bottom : WindowTree::Place::Top);
  Node& n = nodes_[h];
  n.hwnd = h;
  n.foreign = true;
  n.processId = spec.processId;
  n.title = spec.title;
  n.className = spec.className;
  n.style = spec.style;
  n.exStyle = spec.exStyle;
  n.rect = spec.frame;
  n.frameBounds = spec.frameBounds.value_or(spec.frame);
  n.client = spec.client.value_or(spec.frame);
  n.color = spec.color;
  if (!spec.parent) normalizeLocked();
  return h;
}

bool HeadlessDesktop::removeForeignWindow(HWND hwnd) {
  std::lock_guard lock(mutex_);
  Node* n = findLocked(hwnd);
  if (!n || !n->foreign) return false;
  eraseLocked(hwnd);
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
  std::vector<HWND> stack = tree_.children(hwnd);
  while (!stack.empty()) {
    Node* c = findLocked(stack.back());
    stack.pop_back();
    if (!c) continue;
    c->rect = c->rect.offset(dx, dy);
    c->frameBounds = c->frameBounds.offset(dx, dy);
    c->client = c->client.offset(dx, dy);
    for (HWND g : tree_.children(c->hwnd)) stack.push_back(g);
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
  n->style =
      (n->style & ~(WS_MINIMIZE | WS_MAXIMIZE)) | (n->minimized ? WS_MINIMIZE : 0) | (n->maximized ? WS_MAXIMIZE : 0);
  return true;
}

bool HeadlessDesktop::setForeignVisible(HWND hwnd, bool visible) {
  std::lock_guard lock(mutex_);
  Node* n = findLocked(hwnd);
  if (!n || !n->foreign) return false;
  n->style = visible ? (n->style | WS_VISIBLE) : (n->style & ~WS_VISIBLE);
  tree_.setVisible(hwnd, visible);
  return true;
}

// ---------------------------------------------------------------- input

HWND HeadlessDesktop::topLevelAtLocked(Point p) {
  for (HWND h : tree_.topLevels()) {
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

void HeadlessDesktop::drawLocked(std::vector<CaptureStep>& steps, const Node& n, Point origin, const Rect& clip,
                                 bool forceVisible) {
  if (!forceVisible && (!(n.style & WS_VISIBLE) || n.minimized)) return;
  if (n.foreign) {
    // Foreign windows: frame, client area, then their children (screen
    // rectangles shifted like the parent).
    Rect frame = n.rect.offset(origin.x, origin.y).intersect(clip);
    steps.push_back(CaptureStep::filled(frame, frameOf(n.color)));
    Rect client = n.client.offset(origin.x, origin.y).intersect(clip);
    steps.push_back(CaptureStep::filled(client, rgbOf(n.color)));
    const std::vector<HWND>& children = tree_.children(n.hwnd);
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      Node* c = findLocked(*it);
      if (c) drawLocked(steps, *c, origin, client, false);
    }
    return;
  }
  Rect r = Rect::fromSize(origin.x, origin.y, n.rect.width(), n.rect.height());
  Rect visible = r.intersect(clip);
  if (visible.isEmpty()) return;
  if (n.memory) {
    CaptureStep blit;
    blit.memory = n.memory;
    blit.width = std::min(n.width, r.width());
    blit.height = std::min(n.height, r.height());
    blit.at = {r.left, r.top};
    blit.clip = visible;
    steps.push_back(std::move(blit));
  }
  // Children bottom first, so the top of the Z order lands last.
  const std::vector<HWND>& children = tree_.children(n.hwnd);
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    Node* c = findLocked(*it);
    if (!c) continue;
    Point childOrigin{r.left + c->rect.left, r.top + c->rect.top};
    drawLocked(steps, *c, childOrigin, visible, false);
  }
}

void HeadlessDesktop::carryOut(Image& out, const std::vector<CaptureStep>& steps) {
  for (const CaptureStep& step : steps) {
    if (!step.memory) {
      out.fill(step.fill, step.color);
      continue;
    }
    std::lock_guard pixelLock(step.memory->mutex());
    out.blit(step.memory->data(), step.width, step.height, step.memory->stride(), step.at, step.clip);
  }
}

Image HeadlessDesktop::captureDesktop() {
  std::vector<CaptureStep> steps;
  Rect all;
  {
    std::lock_guard lock(mutex_);
    for (const MonitorInfo& m : monitors_) all = all.unite(m.bounds);
    Point shift{-all.left, -all.top};
    Rect clip{0, 0, all.width(), all.height()};
    const std::vector<HWND>& zOrder = tree_.topLevels();
    for (auto it = zOrder.rbegin(); it != zOrder.rend(); ++it) {
      Node* n = findLocked(*it);
      if (!n) continue;
      if (n->foreign) {
        drawLocked(steps, *n, shift, clip, false);
      } else {
        drawLocked(steps, *n, {n->rect.left + shift.x, n->rect.top + shift.y}, clip, false);
      }
    }
  }
  Image out(all.width(), all.height(), rgbOf(options_.desktopColor));
  carryOut(out, steps);
  return out;
}

Image HeadlessDesktop::captureWindow(HWND hwnd) {
  std::vector<CaptureStep> steps;
  Rect r;
  {
    std::lock_guard lock(mutex_);
    Node* n = findLocked(hwnd);
    if (!n) return {};
    r = screenRectLocked(*n);
    Rect clip{0, 0, r.width(), r.height()};
    if (n->foreign) {
      drawLocked(steps, *n, {-r.left, -r.top}, clip, true);
    } else {
      drawLocked(steps, *n, {0, 0}, clip, true);
    }
  }
  Image out(r.width(), r.height(), rgbOf(options_.desktopColor));
  carryOut(out, steps);
  return out;
}

}  // namespace ui
