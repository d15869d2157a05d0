#include "plugin/session/NotifyDispatcher.h"

#include "plugin/session/StreamKind.h"

namespace ksplugs {

void NotifyDispatcher::setCallback(NotifyCallback callback, void* user) {
  std::lock_guard lock(lock_);
  callback_ = callback;
  user_ = user;
}

void NotifyDispatcher::raise(NotifyEvent& event) const {
  if (event.type == NOTIFY_BITRATE) {
    event.bitrateStream = StreamKind::pageFromDevice(event.bitrateStream);
  } else if (event.type == NOTIFY_STREAM_SWITCHED) {
    event.switchedStream = StreamKind::pageFromDevice(event.switchedStream);
  }
  NotifyCallback callback = nullptr;
  void* user = nullptr;
  {
    std::lock_guard lock(lock_);
    callback = callback_;
    user = user_;
  }
  if (callback != nullptr) callback(&event, user);
}

}  // namespace ksplugs
