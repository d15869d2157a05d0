#include "platform/ui/WindowSystem.h"

#include <cairo.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "platform/ui/DeviceContext.h"
#include "platform/ui/FontRegistry.h"
#include "platform/ui/HandlerGuard.h"
#include "platform/ui/PaintScope.h"
#include "platform/ui/ThreadQueue.h"
#include "platform/ui/Window.h"
#include "platform/ui/WindowApi.h"
#include "platform/ui/WindowData.h"

namespace ui {

namespace {

std::mutex gInstallMutex;
// Guarded by gInstallMutex; gCurrent mirrors it for lock-free reads.
std::unique_ptr<WindowSystem> gOwned;
std::atomic<WindowSystem*> gCurrent{nullptr};

// Handles are never reused within the process, not even across a reinstall,
// so a stale handle can never name a newer window.
std::atomic<HWND> gNextHandle{0x00010000};

constexpr uint32_t kMinTimerMs = 10;
constexpr int kMaxExtent = 16384;

int clampExtent(int v) { return std::clamp(v, 0, kMaxExtent); }

template <typename F>
LRESULT guarded(F&& f) {
  return guardedCall(std::forward<F>(f));
}

}  // namespace

WindowData::~WindowData() {
  if (image) cairo_surface_destroy(image);
}

// ---------------------------------------------------------------- install

WindowSystem::WindowSystem(std::unique_ptr<Backend> backend) : backend_(std::move(backend)) {}

WindowSystem::~WindowSystem() = default;

bool WindowSystem::install(std::unique_ptr<Backend> backend) {
  std::lock_guard lock(gInstallMutex);
  if (gOwned || !backend) return false;
  gOwned.reset(new WindowSystem(std::move(backend)));
  gOwned->backend_->attach(&gOwned->input_);
  gCurrent = gOwned.get();
  return true;
}

void WindowSystem::destroyThreadWindows() {
  // Top-level windows get their normal destruction so their objects see
  // WM_DESTROY and their final message; children go with them. Children of
  // another thread's window are destroyed on their own.
  std::vector<HWND> mine;
  ThreadQueue* self = ThreadQueue::currentIfAny();
  if (!self) return;
  {
    std::lock_guard lock(mutex_);
    for (auto& [h, d] : windows_) {
      if (d->queue.get() != self) continue;
      auto parent = windows_.find(tree_.parent(h));
      if (parent == windows_.end() || parent->second->queue.get() != self) mine.push_back(h);
    }
  }
  for (HWND h : mine) destroyWindow(h);
}

void WindowSystem::uninstall() {
  WindowSystem* ws = current();
  if (!ws) return;
  ws->destroyThreadWindows();
  releaseThreadFontMap();
  std::lock_guard lock(gInstallMutex);
  gOwned->backend_->attach(nullptr);
  gCurrent = nullptr;
  gOwned.reset();
}

WindowSystem* WindowSystem::current() { return gCurrent.load(); }

// ---------------------------------------------------------------- lookup

std::shared_ptr<WindowData> WindowSystem::find(HWND hwnd) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? nullptr : it->second;
}

bool WindowSystem::isWindow(HWND hwnd) {
  if (hwnd == 0) return false;
  if (isForeignHandle(hwnd)) return backend_->windowInfo(hwnd).has_value();
  std::lock_guard lock(mutex_);
  return windows_.count(hwnd) > 0;
}

void WindowSystem::detachObject(HWND hwnd) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  if (it != windows_.end()) it->second->object = nullptr;
}

Point WindowSystem::clientOriginLocked(HWND hwnd) const {
  Point p;
  for (HWND h = hwnd; h; h = tree_.parent(h)) {
    auto it = windows_.find(h);
    if (it == windows_.end()) break;
    p.x += it->second->rect.left;
    p.y += it->second->rect.top;
  }
  return p;
}

HWND WindowSystem::parentOf(HWND hwnd) {
  std::lock_guard lock(mutex_);
  return tree_.parent(hwnd);
}

bool WindowSystem::maximizesToWorkArea(HWND hwnd) {
  // A window with neither a parent nor the child style, and no owner it
  // pops up from, fills its monitor's work area when maximised.
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  if (it == windows_.end() || tree_.parent(hwnd)) return false;
  uint32_t style = it->second->style;
  if (style & WS_CHILD) return false;
  return !((style & WS_POPUP) && tree_.owner(hwnd));
}

void WindowSystem::setStyleLocked(WindowData& w, uint32_t style) {
  w.style = style;
  tree_.setVisible(w.hwnd, (style & WS_VISIBLE) != 0);
}

Point WindowSystem::clientOrigin(HWND hwnd) {
  if (isForeignHandle(hwnd)) {
    auto info = backend_->windowInfo(hwnd);
    return info ? Point{info->clientRect.left, info->clientRect.top} : Point{};
  }
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? Point{} : clientOriginLocked(hwnd);
}

Rect WindowSystem::windowRectScreen(HWND hwnd) {
  if (isForeignHandle(hwnd)) {
    auto info = backend_->windowInfo(hwnd);
    return info ? info->windowRect : Rect{};
  }
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  if (it == windows_.end()) return {};
  Point o = clientOriginLocked(hwnd);
  return Rect::fromSize(o.x, o.y, it->second->rect.width(), it->second->rect.height());
}

Rect WindowSystem::normalRect(HWND hwnd) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? Rect{} : it->second->normalRect;
}

std::optional<DesktopWindowInfo> WindowSystem::windowInfo(HWND hwnd) {
  if (hwnd == 0) return std::nullopt;
  if (isForeignHandle(hwnd)) return backend_->windowInfo(hwnd);
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  if (it == windows_.end()) return std::nullopt;
  const WindowData& w = *it->second;
  DesktopWindowInfo info;
  info.hwnd = hwnd;
  info.parent = tree_.parent(hwnd);
  info.owner = tree_.owner(hwnd);
  info.processId = static_cast<uint32_t>(::getpid());
  info.visible = tree_.isVisible(hwnd);
  info.minimized = (w.style & WS_MINIMIZE) != 0;
  info.maximized = (w.style & WS_MAXIMIZE) != 0;
  info.title = w.title;
  info.className = w.className;
  info.style = w.style;
  info.exStyle = w.exStyle;
  Point o = clientOriginLocked(hwnd);
  info.windowRect = Rect::fromSize(o.x, o.y, w.rect.width(), w.rect.height());
  // This process's windows draw no frame of their own.
  info.frameBounds = info.windowRect;
  info.clientRect = info.windowRect;
  return info;
}

std::vector<HWND> WindowSystem::children(HWND hwnd) {
  if (hwnd == kDesktopWindow) return backend_->topLevelWindows();
  if (isForeignHandle(hwnd)) return backend_->childWindows(hwnd);
  std::lock_guard lock(mutex_);
  return tree_.children(hwnd);
}

SurfaceDesc WindowSystem::describeLocked(const WindowData& w) const {
  SurfaceDesc d;
  d.hwnd = w.hwnd;
  d.parent = tree_.parent(w.hwnd);
  d.owner = tree_.owner(w.hwnd);
  d.rect = w.rect;
  d.style = w.style;
  d.exStyle = w.exStyle;
  d.title = w.title;
  d.className = w.className;
  return d;
}

void WindowSystem::syncSurface(HWND hwnd) {
  SurfaceDesc desc;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return;
    desc = describeLocked(*it->second);
  }
  backend_->surfaceChanged(desc);
}

// ---------------------------------------------------------------- messages

LRESULT WindowSystem::dispatch(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Window* object = nullptr;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return 0;
    object = it->second->object;
  }
  if (!object) return guarded([&] { return defaultProc(hwnd, msg, wParam, lParam); });
  ++object->dispatchDepth_;
  LRESULT result = guarded([&] { return object->handleMessage(msg, wParam, lParam); });
  if (--object->dispatchDepth_ == 0 && object->finalPending_) {
    // The window went away inside this handler; its final message runs now
    // that the handler is done with the object.
    object->finalPending_ = false;
    object->onFinalMessage(hwnd);
  }
  return result;
}

LRESULT WindowSystem::runSent(const SendRecord& record) {
  return guarded([&]() -> LRESULT {
    if (record.task) return record.task();
    return dispatch(record.hwnd, record.msg, record.wParam, record.lParam);
  });
}

void WindowSystem::runPosted(PostedItem& item) {
  // Items of a window destroyed meanwhile are dropped.
  if (!isWindow(item.hwnd)) return;
  if (!item.task) {
    dispatch(item.hwnd, item.msg, item.wParam, item.lParam);
    return;
  }
  guarded([&] {
    item.task();
    return LRESULT{0};
  });
}

void WindowSystem::runTimer(HWND hwnd, uint32_t id) { dispatch(hwnd, WM_TIMER, id, 0); }

void WindowSystem::runPaint(HWND hwnd) { paintWindow(hwnd); }

LRESULT WindowSystem::sendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto data = find(hwnd);
  if (!data) return 0;
  if (data->queue.get() == ThreadQueue::currentIfAny()) return dispatch(hwnd, msg, wParam, lParam);
  SendRecord record;
  record.hwnd = hwnd;
  record.msg = msg;
  record.wParam = wParam;
  record.lParam = lParam;
  ThreadQueue::sendAndWait(*data->queue, record, *this);
  return record.result;
}

LRESULT WindowSystem::runOnWindowThread(HWND hwnd, const std::function<LRESULT()>& task) {
  auto data = find(hwnd);
  if (!data) return 0;
  if (data->queue.get() == ThreadQueue::currentIfAny()) return guarded(task);
  SendRecord record;
  record.hwnd = hwnd;
  record.task = task;
  ThreadQueue::sendAndWait(*data->queue, record, *this);
  return record.result;
}

bool WindowSystem::sendTask(HWND hwnd, const std::function<void()>& task) {
  if (!task) return false;
  // Set on the window's thread; the wait for the reply orders it before the
  // read below.
  bool ran = false;
  runOnWindowThread(hwnd, [&]() -> LRESULT {
    if (!isWindow(hwnd)) return 0;  // destroyed while the task was on its way
    ran = true;
    task();
    return 0;
  });
  return ran;
}

bool WindowSystem::postMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto data = find(hwnd);
  if (!data) return false;
  return data->queue->pushPosted({hwnd, msg, wParam, lParam, {}});
}

bool WindowSystem::postTask(HWND hwnd, std::function<void()> task) {
  if (!task) return false;
  auto data = find(hwnd);
  if (!data) return false;
  return data->queue->pushPosted({hwnd, 0, 0, 0, std::move(task)});
}

int WindowSystem::runMessageLoop() { return ThreadQueue::current()->run(*this); }

void WindowSystem::postQuit(int code) { ThreadQueue::current()->postQuit(code); }

bool WindowSystem::pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  return ThreadQueue::current()->pumpUntil(*this, done, timeout);
}

void WindowSystem::pumpPending() { ThreadQueue::current()->pumpPending(*this); }

// ---------------------------------------------------------------- creation

HWND WindowSystem::createWindow(Window* object, HWND parentOrOwner, const Rect& rectIn, std::string_view title,
                                uint32_t style, uint32_t exStyle, const char* className, void* createParam) {
  if (!object || object->hwnd_) return 0;
  if (parentOrOwner == kDesktopWindow) parentOrOwner = 0;
  Rect r = rectIn;
  if (r.left == CW_USEDEFAULT || r.top == CW_USEDEFAULT) {
    r = {};
  } else {
    r.right = r.left + clampExtent(r.width());
    r.bottom = r.top + clampExtent(r.height());
  }
  bool wantVisible = (style & WS_VISIBLE) != 0;
  style &= ~WS_VISIBLE;

  auto data = std::make_shared<WindowData>();
  data->queue = ThreadQueue::current();
  HWND hwnd = 0;
  SurfaceDesc desc;
  {
    std::lock_guard lock(mutex_);
    HWND parent = 0;
    HWND owner = 0;
    if (parentOrOwner) {
      if (style & WS_CHILD) {
        auto it = windows_.find(parentOrOwner);
        if (it == windows_.end() || it->second->state == WindowData::State::Destroying) return 0;
        parent = parentOrOwner;
      } else if (isForeignHandle(parentOrOwner) || windows_.count(parentOrOwner)) {
        owner = parentOrOwner;
      } else {
        return 0;
      }
    }
    hwnd = gNextHandle.fetch_add(1);
    if (hwnd >= kForeignHandleBit) return 0;
    data->hwnd = hwnd;
    data->object = object;
    data->className = className ? className : "KestrovaWindow";
    data->title = std::string(title);
    data->style = style;
    data->exStyle = exStyle;
    data->classStyle = object->classStyle_;
    data->background = object->classBackground_;
    data->hasBackground = object->hasClassBackground_;
    data->cursor = object->classCursor_;
    data->rect = r;
    data->normalRect = r;
    windows_[hwnd] = data;
    tree_.add(hwnd, parent, owner, false);
    object->hwnd_ = hwnd;
    desc = describeLocked(*data);
  }
  resizeImage(*data, r.width(), r.height());
  backend_->surfaceCreated(desc);

  CREATESTRUCT cs;
  cs.lpCreateParams = createParam;
  cs.hwndParent = desc.parent ? desc.parent : desc.owner;
  cs.x = r.left;
  cs.y = r.top;
  cs.cx = r.width();
  cs.cy = r.height();
  cs.style = style | (wantVisible ? WS_VISIBLE : 0);
  cs.dwExStyle = exStyle;
  cs.lpszName = data->title.c_str();
  cs.lpszClass = data->className.c_str();
  // The strings above are read by the handler only; copy them first since
  // the handler may retitle the window.
  std::string nameCopy = data->title;
  std::string classCopy = data->className;
  cs.lpszName = nameCopy.c_str();
  cs.lpszClass = classCopy.c_str();
  if (dispatch(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    {
      std::lock_guard lock(mutex_);
      data->finalSuppressed = true;
    }
    destroyWindow(hwnd);
    object->hwnd_ = 0;
    return 0;
  }
  {
    std::lock_guard lock(mutex_);
    if (!windows_.count(hwnd)) return 0;
    if (data->state == WindowData::State::Creating) data->state = WindowData::State::Alive;
  }
  dispatch(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(r.width(), r.height()));
  dispatch(hwnd, WM_MOVE, 0, MAKELPARAM(r.left, r.top));
  if (wantVisible && isWindow(hwnd)) showWindow(hwnd, SW_SHOW);
  return isWindow(hwnd) ? hwnd : 0;
}

void WindowSystem::resizeImage(WindowData& w, int cx, int cy) {
  cx = clampExtent(cx);
  cy = clampExtent(cy);
  std::lock_guard imageLock(w.imageMutex);
  if (w.image && cairo_image_surface_get_width(w.image) == cx && cairo_image_surface_get_height(w.image) == cy) {
    return;
  }
  cairo_surface_t* fresh = cairo_image_surface_create(CAIRO_FORMAT_RGB24, cx, cy);
  cairo_t* cr = cairo_create(fresh);
  COLORREF bg = RGB(255, 255, 255);
  {
    std::lock_guard lock(mutex_);
    if (w.hasBackground) bg = w.background;
  }
  cairo_set_source_rgb(cr, GetRValue(bg) / 255.0, GetGValue(bg) / 255.0, GetBValue(bg) / 255.0);
  cairo_paint(cr);
  if (w.image) {
    // Keep what was drawn so a grown window does not flash until repainted.
    cairo_set_source_surface(cr, w.image, 0, 0);
    cairo_paint(cr);
    cairo_surface_destroy(w.image);
  }
  cairo_destroy(cr);
  w.image = fresh;
}

// ---------------------------------------------------------------- destruction

bool WindowSystem::destroyWindow(HWND hwnd) {
  auto data = find(hwnd);
  if (!data) return false;
  if (data->queue.get() != ThreadQueue::currentIfAny()) {
    return runOnWindowThread(hwnd, [this, hwnd] { return LRESULT{destroyWindow(hwnd)}; }) != 0;
  }
  std::vector<HWND> owned;
  bool runFinal = true;
  {
    std::lock_guard lock(mutex_);
    if (data->state == WindowData::State::Destroying) return false;
    data->state = WindowData::State::Destroying;
    runFinal = !data->finalSuppressed;
    owned = tree_.ownedBy(hwnd);
  }
  // Owned windows go first, as their owner's life bounds theirs.
  for (HWND h : owned) destroyWindow(h);
  {
    std::lock_guard lock(mutex_);
    setStyleLocked(*data, data->style & ~WS_VISIBLE);
  }
  syncSurface(hwnd);
  // WM_DESTROY to the window first and then its children, which all still
  // exist while their parent handles it.
  dispatch(hwnd, WM_DESTROY, 0, 0);
  std::vector<HWND> kids;
  {
    std::lock_guard lock(mutex_);
    kids = tree_.children(hwnd);
  }
  for (HWND child : kids) sendDestroyMessages(child);
  destroyTree(hwnd, runFinal);
  return true;
}

void WindowSystem::sendDestroyMessages(HWND hwnd) {
  auto data = find(hwnd);
  if (!data) return;
  {
    std::lock_guard lock(mutex_);
    if (data->state == WindowData::State::Destroying) return;
    data->state = WindowData::State::Destroying;
  }
  sendMessage(hwnd, WM_DESTROY, 0, 0);
  std::vector<HWND> kids;
  {
    std::lock_guard lock(mutex_);
    kids = tree_.children(hwnd);
  }
  for (HWND child : kids) sendDestroyMessages(child);
}

void WindowSystem::destroyTree(HWND hwnd, bool runFinal) {
  std::vector<HWND> kids;
  {
    std::lock_guard lock(mutex_);
    if (!windows_.count(hwnd)) return;
    kids = tree_.children(hwnd);
  }
  for (HWND child : kids) destroyTree(child, true);
  auto data = find(hwnd);
  if (!data) return;
  if (data->queue.get() != ThreadQueue::currentIfAny()) {
    runOnWindowThread(hwnd, [this, hwnd, runFinal] {
      finishWindow(hwnd, runFinal);
      return LRESULT{0};
    });
  } else {
    finishWindow(hwnd, runFinal);
  }
}

void WindowSystem::finishWindow(HWND hwnd, bool runFinal) {
  dispatch(hwnd, WM_NCDESTROY, 0, 0);
  std::shared_ptr<WindowData> data;
  Window* object = nullptr;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return;
    data = it->second;
    windows_.erase(it);
    tree_.remove(hwnd);
    object = data->object;
    data->object = nullptr;
  }
  input_.forgetWindow(hwnd);
  data->queue->forgetWindow(hwnd);
  backend_->surfaceDestroyed(hwnd);
  if (!object) return;
  object->hwnd_ = 0;
  if (!runFinal || data->finalSuppressed) return;
  if (object->dispatchDepth_ > 0) {
    object->finalPending_ = true;
  } else {
    object->onFinalMessage(hwnd);
  }
}

// ---------------------------------------------------------------- geometry

bool WindowSystem::showWindow(HWND hwnd, int cmd) {
  auto data = find(hwnd);
  if (!data) return false;
  if (data->queue.get() != ThreadQueue::currentIfAny()) {
    return runOnWindowThread(hwnd, [this, hwnd, cmd] { return LRESULT{showWindowOwned(hwnd, cmd)}; }) != 0;
  }
  return showWindowOwned(hwnd, cmd);
}

bool WindowSystem::showWindowOwned(HWND hwnd, int cmd) {
  uint32_t style = 0;
  Rect target;
  UINT swp = SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER;
  bool show = true;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return false;
    WindowData& w = *it->second;
    style = w.style;
    switch (cmd) {
      case SW_HIDE:
        if (!(style & WS_VISIBLE)) return false;
        show = false;
        break;
      case SW_MINIMIZE:
      case SW_SHOWMINIMIZED:
      case SW_SHOWMINNOACTIVE:
        setStyleLocked(w, (w.style | WS_MINIMIZE) & ~WS_MAXIMIZE);
        swp |= SWP_FRAMECHANGED;
        break;
      case SW_MAXIMIZE: {
        if (!(w.style & (WS_MAXIMIZE | WS_MINIMIZE))) w.normalRect = w.rect;
        setStyleLocked(w, (w.style | WS_MAXIMIZE) & ~WS_MINIMIZE);
        if (HWND parent = tree_.parent(hwnd)) {
          auto p = windows_.find(parent);
          target = p == windows_.end() ? w.rect : Rect{0, 0, p->second->rect.width(), p->second->rect.height()};
        } else {
          target = w.rect;  // replaced below by the monitor's work area
        }
        swp &= ~(SWP_NOSIZE | SWP_NOMOVE);
        break;
      }
      case SW_RESTORE:
      case SW_SHOWNORMAL:
        if (w.style & (WS_MAXIMIZE | WS_MINIMIZE)) {
          setStyleLocked(w, w.style & ~(WS_MAXIMIZE | WS_MINIMIZE));
          target = w.normalRect;
          swp &= ~(SWP_NOSIZE | SWP_NOMOVE);
        } else if (style & WS_VISIBLE) {
          return true;
        }
        break;
      default:
        if (style & WS_VISIBLE) return true;
        break;
    }
  }
  if (cmd == SW_MAXIMIZE && maximizesToWorkArea(hwnd)) {
    Rect wr = windowRectScreen(hwnd);
    target = pickMonitor(backend_->monitors(), {wr.left + wr.width() / 2, wr.top + wr.height() / 2}, true).workArea;
  }
  bool wasVisible = (style & WS_VISIBLE) != 0;
  if (show != wasVisible) dispatch(hwnd, WM_SHOWWINDOW, show ? 1 : 0, 0);
  swp |= show ? SWP_SHOWWINDOW : SWP_HIDEWINDOW;
  setWindowPosOwned(hwnd, 0, target.left, target.top, target.width(), target.height(), swp);
  return wasVisible;
}

bool WindowSystem::setWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  if (isForeignHandle(hwnd)) return false;
  auto data = find(hwnd);
  if (!data) return false;
  if (data->queue.get() != ThreadQueue::currentIfAny()) {
    if (flags & SWP_ASYNCWINDOWPOS) {
      return postTask(hwnd, [this, hwnd, insertAfter, x, y, cx, cy, flags] {
        setWindowPosOwned(hwnd, insertAfter, x, y, cx, cy, flags & ~SWP_ASYNCWINDOWPOS);
      });
    }
    return runOnWindowThread(hwnd, [=, this] {
             return LRESULT{setWindowPosOwned(hwnd, insertAfter, x, y, cx, cy, flags)};
           }) != 0;
  }
  return setWindowPosOwned(hwnd, insertAfter, x, y, cx, cy, flags & ~SWP_ASYNCWINDOWPOS);
}

bool WindowSystem::setWindowPosOwned(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  WINDOWPOS wp{hwnd, insertAfter, x, y, cx, cy, flags};
  if (!(flags & SWP_NOSENDCHANGING)) {
    dispatch(hwnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&wp));
  }
  // Whatever the handler left in the change is what happens.
  flags = wp.flags;
  std::shared_ptr<WindowData> data;
  bool moved = false;
  bool sized = false;
  bool shown = false;
  bool hidden = false;
  bool restacked = false;
  SurfaceDesc desc;
  Rect now;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return false;
    data = it->second;
    WindowData& w = *data;
    Rect r = w.rect;
    if (!(flags & SWP_NOMOVE)) r = Rect::fromSize(wp.x, wp.y, r.width(), r.height());
    if (!(flags & SWP_NOSIZE)) {
      r.right = r.left + clampExtent(wp.cx);
      r.bottom = r.top + clampExtent(wp.cy);
    }
    moved = r.left != w.rect.left || r.top != w.rect.top;
    sized = r.width() != w.rect.width() || r.height() != w.rect.height();
    w.rect = r;
    if (!(w.style & (WS_MINIMIZE | WS_MAXIMIZE))) w.normalRect = r;
    if (!(flags & SWP_NOZORDER)) {
      if (wp.hwndInsertAfter == HWND_TOPMOST) w.exStyle |= WS_EX_TOPMOST;
      if (wp.hwndInsertAfter == HWND_NOTOPMOST) w.exStyle &= ~WS_EX_TOPMOST;
      // Among top-level windows the backend's Z order is the one that counts.
      if (tree_.parent(hwnd)) tree_.restack(hwnd, wp.hwndInsertAfter);
      restacked = true;
    }
    bool visible = (w.style & WS_VISIBLE) != 0;
    // When a handler leaves both bits set, showing wins.
    if ((flags & SWP_SHOWWINDOW) && !visible) {
      setStyleLocked(w, w.style | WS_VISIBLE);
      shown = true;
    } else if (!(flags & SWP_SHOWWINDOW) && (flags & SWP_HIDEWINDOW) && visible) {
      setStyleLocked(w, w.style & ~WS_VISIBLE);
      hidden = true;
    }
    desc = describeLocked(w);
    now = r;
  }
  if (hidden) input_.releaseCaptureOf(hwnd);
  if (sized) resizeImage(*data, now.width(), now.height());
  backend_->surfaceChanged(desc);
  if (restacked) backend_->surfaceRestacked(hwnd, wp.hwndInsertAfter);
  if (sized || shown) {
    // The backend's copy must match the new size and show current pixels.
    present(hwnd, nullptr);
  }
  if (!(flags & SWP_NOREDRAW) && (sized || (flags & SWP_FRAMECHANGED))) invalidate(hwnd, nullptr, true);
  if (shown) {
    // Windows below a hidden ancestor never got painted; paint the subtree.
    std::vector<HWND> stack{hwnd};
    while (!stack.empty()) {
      HWND h = stack.back();
      stack.pop_back();
      invalidate(h, nullptr, true);
      for (HWND c : children(h)) stack.push_back(c);
    }
  }
  wp.x = now.left;
  wp.y = now.top;
  wp.cx = now.width();
  wp.cy = now.height();
  wp.flags = flags | (moved ? 0 : SWP_NOCLIENTMOVE) | (sized ? 0 : SWP_NOCLIENTSIZE);
  dispatch(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&wp));
  return true;
}

HWND WindowSystem::setParent(HWND hwnd, HWND parent) {
  if (parent == kDesktopWindow) parent = 0;
  auto data = find(hwnd);
  if (!data || isForeignHandle(parent)) return 0;
  if (data->queue.get() != ThreadQueue::currentIfAny()) {
    return static_cast<HWND>(runOnWindowThread(hwnd, [=, this] { return LRESULT{setParent(hwnd, parent)}; }));
  }
  HWND old = 0;
  SurfaceDesc desc;
  {
    std::lock_guard lock(mutex_);
    old = tree_.parent(hwnd);
    // Refused when the parent is gone or lies inside the window itself.
    if (!tree_.setParent(hwnd, parent)) return 0;
    desc = describeLocked(*data);
  }
  backend_->surfaceDestroyed(hwnd);
  backend_->surfaceCreated(desc);
  present(hwnd, nullptr);
  invalidate(hwnd, nullptr, true);
  return old ? old : kDesktopWindow;
}

bool WindowSystem::setOwner(HWND hwnd, HWND owner) {
  if (owner == kDesktopWindow) owner = 0;
  SurfaceDesc desc;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end() || owner == hwnd) return false;
    if (owner && !isForeignHandle(owner) && !windows_.count(owner)) return false;
    tree_.setOwner(hwnd, owner);
    desc = describeLocked(*it->second);
  }
  backend_->surfaceChanged(desc);
  return true;
}

bool WindowSystem::setStyle(HWND hwnd, uint32_t style, bool extended) {
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return false;
    if (extended) {
      it->second->exStyle = style;
    } else {
      setStyleLocked(*it->second, style);
    }
  }
  syncSurface(hwnd);
  return true;
}

bool WindowSystem::setTitle(HWND hwnd, std::string_view title) {
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return false;
    it->second->title = std::string(title);
  }
  syncSurface(hwnd);
  return true;
}

bool WindowSystem::setForeground(HWND hwnd) {
  HWND top = hwnd;
  {
    std::lock_guard lock(mutex_);
    if (tree_.contains(hwnd)) top = tree_.topLevelOf(hwnd);
  }
  if (!isWindow(top)) return false;
  backend_->setForeground(top);
  return true;
}

// ---------------------------------------------------------------- painting

bool WindowSystem::invalidate(HWND hwnd, const Rect* rect, bool erase) {
  std::shared_ptr<ThreadQueue> q;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return false;
    WindowData& w = *it->second;
    Rect client{0, 0, w.rect.width(), w.rect.height()};
    Rect r = rect ? rect->intersect(client) : client;
    if (r.isEmpty()) return true;
    w.invalid = w.invalid.unite(r);
    if (erase) w.eraseNeeded = true;
    if (!tree_.isVisible(hwnd)) return true;  // painted when shown
    q = w.queue;
  }
  q->requestPaint(hwnd);
  return true;
}

bool WindowSystem::validate(HWND hwnd) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  if (it == windows_.end()) return false;
  it->second->invalid = {};
  it->second->eraseNeeded = false;
  return true;
}

Rect WindowSystem::takeInvalid(HWND hwnd, bool& erase) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  if (it == windows_.end()) {
    erase = false;
    return {};
  }
  Rect r = it->second->invalid;
  erase = it->second->eraseNeeded;
  it->second->invalid = {};
  it->second->eraseNeeded = false;
  return r;
}

void WindowSystem::paintWindow(HWND hwnd) {
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(hwnd);
    if (it == windows_.end() || it->second->invalid.isEmpty() || !tree_.isVisible(hwnd)) return;
  }
  dispatch(hwnd, WM_PAINT, 0, 0);
  // A handler that painted nothing must not cause an endless stream of
  // WM_PAINT; what it left invalid is dropped.
  validate(hwnd);
}

bool WindowSystem::updateWindow(HWND hwnd) {
  auto data = find(hwnd);
  if (!data) return false;
  if (data->queue.get() != ThreadQueue::currentIfAny()) {
    return runOnWindowThread(hwnd, [this, hwnd] { return LRESULT{updateWindow(hwnd)}; }) != 0;
  }
  paintWindow(hwnd);
  return true;
}

WindowSystem::ImageAccess WindowSystem::lockImage(HWND hwnd) {
  ImageAccess access;
  access.data = find(hwnd);
  if (!access.data) return access;
  access.data->imageMutex.lock();
  access.surface = access.data->image;
  if (!access.surface) {
    access.data->imageMutex.unlock();
    access.data.reset();
  }
  return access;
}

void WindowSystem::unlockImage(ImageAccess& access) {
  if (!access.data) return;
  cairo_surface_flush(access.surface);
  access.surface = nullptr;
  access.data->imageMutex.unlock();
  access.data.reset();
}

bool WindowSystem::present(HWND hwnd, const Rect* dirty) {
  auto data = find(hwnd);
  if (!data) return false;
  std::lock_guard imageLock(data->imageMutex);
  if (!data->image) return false;
  cairo_surface_flush(data->image);
  ImageView view;
  view.data = cairo_image_surface_get_data(data->image);
  view.width = cairo_image_surface_get_width(data->image);
  view.height = cairo_image_surface_get_height(data->image);
  view.stride = cairo_image_surface_get_stride(data->image);
  Rect all{0, 0, view.width, view.height};
  Rect r = dirty ? dirty->intersect(all) : all;
  backend_->present(hwnd, view, r);
  return true;
}

uint32_t WindowSystem::classBackground(HWND hwnd, bool& has) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  has = it != windows_.end() && it->second->hasBackground;
  return has ? it->second->background : 0;
}

CursorShape WindowSystem::classCursor(HWND hwnd) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? CursorShape::Arrow : it->second->cursor;
}

HFONT WindowSystem::windowFont(HWND hwnd) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? 0 : it->second->font;
}

void WindowSystem::setWindowFont(HWND hwnd, HFONT font) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  if (it != windows_.end()) it->second->font = font;
}

// ---------------------------------------------------------------- timers

uint32_t WindowSystem::setTimer(HWND hwnd, uint32_t id, uint32_t ms) {
  if (id == 0) return 0;
  auto data = find(hwnd);
  if (!data) return 0;
  data->queue->setTimer(hwnd, id, std::chrono::milliseconds(std::max(ms, kMinTimerMs)));
  return id;
}

bool WindowSystem::killTimer(HWND hwnd, uint32_t id) {
  auto data = find(hwnd);
  if (!data) return false;
  return data->queue->killTimer(hwnd, id);
}

// ---------------------------------------------------------------- input

HWND WindowSystem::hitTest(HWND top, Point screen) {
  std::lock_guard lock(mutex_);
  if (!windows_.count(top)) return 0;
  HWND current = top;
  Point origin = clientOriginLocked(top);
  for (;;) {
    bool descended = false;
    for (HWND child : tree_.children(current)) {
      auto c = windows_.find(child);
      if (c == windows_.end()) continue;
      const WindowData& cd = *c->second;
      if (!(cd.style & WS_VISIBLE) || (cd.style & WS_DISABLED)) continue;
      Rect r = cd.rect.offset(origin.x, origin.y);
      if (r.contains(screen)) {
        current = child;
        origin = {r.left, r.top};
        descended = true;
        break;
      }
    }
    if (!descended) return current;
  }
}

uint32_t WindowSystem::classStyle(HWND hwnd) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? 0 : it->second->classStyle;
}

// ---------------------------------------------------------------- default processing

LRESULT WindowSystem::defaultProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CLOSE:
      destroyWindow(hwnd);
      return 0;
    case WM_SETFONT:
      setWindowFont(hwnd, static_cast<HFONT>(wParam));
      if (LOWORD(static_cast<uintptr_t>(lParam))) invalidate(hwnd, nullptr, true);
      return 0;
    case WM_GETFONT:
      return static_cast<LRESULT>(windowFont(hwnd));
    case WM_SETTEXT: {
      const char* text = reinterpret_cast<const char*>(lParam);
      return setTitle(hwnd, text ? std::string_view(text) : std::string_view()) ? 1 : 0;
    }
    case WM_RBUTTONUP: {
      Point o = clientOrigin(hwnd);
      sendMessage(hwnd, WM_CONTEXTMENU, hwnd,
                  MAKELPARAM(o.x + GET_X_LPARAM(lParam), o.y + GET_Y_LPARAM(lParam)));
      return 0;
    }
    case WM_CONTEXTMENU: {
      HWND parent = parentOf(hwnd);
      return parent ? sendMessage(parent, WM_CONTEXTMENU, wParam, lParam) : 0;
    }
    case WM_SETCURSOR: {
      HWND parent = parentOf(hwnd);
      if (parent && sendMessage(parent, WM_SETCURSOR, wParam, lParam)) return 1;
      // A parent asked on behalf of a child leaves the child's own cursor
      // alone unless its handler decides otherwise.
      if (LOWORD(static_cast<uintptr_t>(lParam)) == HTCLIENT && static_cast<HWND>(wParam) == hwnd) {
        backend_->setCursorShape(classCursor(hwnd));
        return 1;
      }
      return 0;
    }
    case WM_ERASEBKGND: {
      bool has = false;
      COLORREF color = classBackground(hwnd, has);
      auto* dc = reinterpret_cast<DeviceContext*>(wParam);
      if (!has || !dc) return 0;
      Size s = dc->size();
      dc->fillRect(Rect{0, 0, s.cx, s.cy}, color);
      return 1;
    }
    case WM_PAINT: {
      PaintScope paint(hwnd);
      return 0;
    }
    case WM_WINDOWPOSCHANGED: {
      const auto* wp = reinterpret_cast<const WINDOWPOS*>(lParam);
      if (!wp) return 0;
      if (!(wp->flags & SWP_NOCLIENTMOVE)) dispatch(hwnd, WM_MOVE, 0, MAKELPARAM(wp->x, wp->y));
      if (!(wp->flags & SWP_NOCLIENTSIZE)) {
        uint32_t style = 0;
        {
          std::lock_guard lock(mutex_);
          auto it = windows_.find(hwnd);
          if (it != windows_.end()) style = it->second->style;
        }
        WPARAM kind = (style & WS_MAXIMIZE) ? SIZE_MAXIMIZED : (style & WS_MINIMIZE) ? SIZE_MINIMIZED : SIZE_RESTORED;
        dispatch(hwnd, WM_SIZE, kind, MAKELPARAM(wp->cx, wp->cy));
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      return static_cast<LRESULT>(createSolidBrush(RGB(240, 240, 240)));
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const Rect*>(lParam);
      if (suggested) {
        setWindowPos(hwnd, 0, suggested->left, suggested->top, suggested->width(), suggested->height(),
                     SWP_NOZORDER | SWP_NOACTIVATE);
      }
      return 0;
    }
    default:
      return 0;
  }
}

}  // namespace ui
