#pragma once
// Tests only: a live-view dock on the headless desktop inside a plain
// top-level window, for a device session of any channel count, and a
// recorder of the events the cells raise.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/Image.h"
#include "platform/ui/Window.h"
#include "platform/ui/testing/UiTestSupport.h"
#include "plugin/files/testing/ScopedTempDir.h"
#include "plugin/session/CDVSDevice.h"
#include "plugin/session/NotifyDispatcher.h"
#include "plugin/session/testing/CreateRecord.h"
#include "plugin/video/VideoServices.h"
#include "plugin/video/live/CPreviewManager.h"
#include "plugin/video/live/CPreviewer.h"

namespace ksplugs::testing {

// Events as the page would see them (URLs copied: they live only during the
// callback).
struct SeenEvent {
  int type = 0;
  int channel = 0;
  uint32_t uniqueId = 0;
  int first = 0;   // enable, switched stream or file kind
  int second = 0;  // bitrate stream
  std::string url;
};

class EventRecorder {
 public:
  explicit EventRecorder(NotifyDispatcher& events) : dispatcher_(events) {
    dispatcher_.setCallback(&EventRecorder::callback, this);
  }
  ~EventRecorder() { dispatcher_.setCallback(nullptr, nullptr); }
  EventRecorder(const EventRecorder&) = delete;
  EventRecorder& operator=(const EventRecorder&) = delete;

  std::vector<SeenEvent> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<SeenEvent> ofType(int type) {
    std::vector<SeenEvent> out;
    for (const SeenEvent& e : events())
      if (e.type == type) out.push_back(e);
    return out;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }

 private:
  static int callback(const NotifyEvent* event, void* user) {
    auto* self = static_cast<EventRecorder*>(user);
    SeenEvent seen;
    seen.type = event->type;
    seen.channel = event->channel;
    seen.uniqueId = event->uniqueId;
    switch (event->type) {
      case NOTIFY_BITRATE:
        seen.first = event->enable;
        seen.second = event->bitrateStream;
        break;
      case NOTIFY_STREAM_SWITCHED: seen.first = event->switchedStream; break;
      case NOTIFY_FILE_READY:
        seen.first = event->fileType;
        if (event->url != nullptr) seen.url = event->url;
        break;
      default: break;
    }
    std::lock_guard lock(self->mutex_);
    self->events_.push_back(seen);
    return 0;
  }

  NotifyDispatcher& dispatcher_;
  std::mutex mutex_;
  std::vector<SeenEvent> events_;  // guarded by mutex_
};

// A headless desktop with a top-level window at (0, 0) that hosts the dock.
class DockTest : public ui::test::HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    host_ = std::make_unique<ui::Window>();
    ASSERT_NE(host_->create(0, ui::Rect{0, 0, 1920, 1040}, std::string_view("host"),
                            ui::WS_POPUP | ui::WS_VISIBLE),
              0u);
  }
  void TearDown() override {
    dock_.reset();
    host_.reset();
    session_.reset();
    HeadlessTest::TearDown();
  }

  // A session of `channels` channels (not logged in) and its dock over
  // (0, 0, width, height) of the host window.
  CPreviewManager& makeDock(int channels, int width = 801, int height = 601, uint16_t commandPort = 1,
                            uint16_t mediaPort = 1, int layout = 0, const std::vector<uint8_t>& streams = {}) {
    CreateRecord record("00:11:22:33:44:55", commandPort, mediaPort, channels);
    for (size_t i = 0; i < streams.size() && static_cast<int>(i) < channels; ++i) record.param.stream[i] = streams[i];
    session_ = std::make_unique<WebPlug_NCL::CDVSDevice>();
    record.param.uniqueId = 7;
    session_->copyFrom(record.param);
    dock_ = std::make_unique<CPreviewManager>(services_);
    dock_->setSession(session_.get());
    if (layout != 0) dock_->setInitialLayout(layout);
    EXPECT_NE(dock_->createDock(host_->hwnd(), ui::Rect::fromSize(0, 0, width, height)), 0u);
    settle();
    return *dock_;
  }

  void settle() { ui::pumpPendingMessages(); }

  ui::Image capture() {
    settle();
    return desktop_->captureWindow(dock_->window());
  }

  // Cell numbers whose windows are shown.
  std::vector<int> visibleCells() {
    std::vector<int> out;
    const auto& cells = dock_->cells();
    for (size_t i = 0; i < cells.size(); ++i)
      if (ui::getWindowStyle(cells[i]->hwnd()) & ui::WS_VISIBLE) out.push_back(static_cast<int>(i));
    return out;
  }

  // The cell's rectangle in the dock's client coordinates.
  ui::Rect cellRect(int index) {
    const ui::Rect screen = ui::getWindowRect(dock_->cells()[index]->hwnd());
    const ui::Point p = ui::screenToClient(dock_->window(), {screen.left, screen.top});
    return ui::Rect::fromSize(p.x, p.y, screen.width(), screen.height());
  }

  // What the dock and its cells are handed; a test fills its seams before
  // makeDock().
  std::shared_ptr<VideoServices> services_ = std::make_shared<VideoServices>();
  std::unique_ptr<ui::Window> host_;
  std::unique_ptr<WebPlug_NCL::CDVSDevice> session_;
  std::unique_ptr<CPreviewManager> dock_;
};

inline std::vector<int> range(int first, int last) {
  std::vector<int> out;
  for (int i = first; i <= last; ++i) out.push_back(i);
  return out;
}

}  // namespace ksplugs::testing
