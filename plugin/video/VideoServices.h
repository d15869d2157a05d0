#pragma once
// What the docks and cells are handed by the library instead of reaching for
// process-wide state: where their events go, where live frames go for
// recording, the counter and clock that name files, the overlay of the
// settings cell and the download server's port.
//
// Built by the library's context at start-up (tests build their own) and
// never changed afterwards, so any thread may read it without a lock. Docks
// and cells keep a shared pointer: a cell's last messages may run after the
// context has gone.
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/sys/TimeText.h"
#include "plugin/files/FileCounter.h"
#include "plugin/session/NotifyDispatcher.h"
#include "plugin/video/CellOverlay.h"
#include "plugin/video/RecordingSink.h"

namespace ksplugs {

struct VideoServices {
  // Events of the cells; never null.
  std::shared_ptr<NotifyDispatcher> events = std::make_shared<NotifyDispatcher>();
  // Every frame of every live stream; the base sink records nothing.
  std::shared_ptr<RecordingSink> recording = std::make_shared<RecordingSink>();
  std::shared_ptr<FileCounter> fileCounter = std::make_shared<FileCounter>();
  // The settings cell's overlay; an empty factory leaves the bare picture.
  CellOverlay::Factory overlays;
  // Local time for file names; empty means the system clock.
  std::function<sys::CalendarTime()> clock;
  // The download server's port, 0 while none runs; empty means no server.
  std::function<uint16_t()> downloadPort;

  sys::CalendarTime now() const;
  uint16_t serverPort() const { return downloadPort ? downloadPort() : 0; }
  std::unique_ptr<CellOverlay> makeOverlay() const { return overlays ? overlays() : nullptr; }
};

}  // namespace ksplugs
