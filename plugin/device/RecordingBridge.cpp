#include "plugin/device/RecordingBridge.h"

#include <cstdlib>
#include <cstring>

#include "platform/sys/Utf.h"
#include "platform/ui/WindowApi.h"
#include "plugin/video/VideoMessages.h"
#include "plugin/video/live/LiveStream.h"

namespace ksplugs {

int RecordingBridge::start(int channel, LiveStream& stream, uint32_t durationSeconds) {
  RecordingTarget target;
  target.channel = channel;
  target.streamHandle = stream.handle();
  target.macText = stream.macText();
  // The stream draws into the cell's video surface; the cell is its parent.
  target.cell = ui::getParent(stream.window());
  return queue_->start(target, durationSeconds);
}

int RecordingBridge::stop(int32_t streamHandle, bool announce) { return queue_->stop(streamHandle, announce); }

int RecordingBridge::stopAt(int32_t streamHandle, bool announce, std::string& path) {
  return queue_->stop(streamHandle, announce, &path);
}

void RecordingBridge::onFrame(int32_t streamHandle, const DLSDK_MediaFrame& frame) {
  queue_->onFrame(streamHandle, frame, 0, 0);
}

void RecordingBridge::onSizedFrame(int32_t streamHandle, const DLSDK_MediaFrame& frame, int width, int height) {
  queue_->onFrame(streamHandle, frame, width, height);
}

void RecordingBridge::announceToCell(ui::HWND cell, const std::string& path) {
  if (cell == 0) return;
  const std::u16string wide = sys::utf8ToUtf16(path);
  auto* copy = static_cast<char16_t*>(std::calloc(wide.size() + 1, sizeof(char16_t)));
  if (copy == nullptr) return;
  std::memcpy(copy, wide.data(), wide.size() * sizeof(char16_t));
  // A window destroyed meanwhile refuses the post; the copy is then ours.
  if (!ui::postMessage(cell, MsgFileReady, 1, reinterpret_cast<ui::LPARAM>(copy))) std::free(copy);
}

}  // namespace ksplugs
