#pragma once
// The recording queue in the place of the live streams' recording sink:
// takes what a job needs from the stream when recording starts (handle,
// channel, the device's MAC text and the cell window the finished file is
// announced to), so the queue never holds on to a stream or a device that
// may go away while its worker still runs.
//
// Threads: as RecordingSink; the queue guards its own state.
#include <memory>
#include <string>

#include "platform/ui/Types.h"
#include "plugin/recording/RecordingQueue.h"
#include "plugin/video/RecordingSink.h"

namespace ksplugs {

class RecordingBridge final : public RecordingSink {
 public:
  explicit RecordingBridge(std::shared_ptr<RecordingQueue> queue) : queue_(std::move(queue)) {}

  int start(int channel, LiveStream& stream, uint32_t durationSeconds) override;
  int stop(int32_t streamHandle, bool announce) override;
  int stopAt(int32_t streamHandle, bool announce, std::string& path) override;
  void onFrame(int32_t streamHandle, const DLSDK_MediaFrame& frame) override;
  void onSizedFrame(int32_t streamHandle, const DLSDK_MediaFrame& frame, int width, int height) override;

  // Posts MsgFileReady (kind 1, a malloc'd UTF-16 copy of the path) to the
  // cell window; the queue's way of announcing.
  static void announceToCell(ui::HWND cell, const std::string& path);

 private:
  const std::shared_ptr<RecordingQueue> queue_;  // never changed
};

}  // namespace ksplugs
