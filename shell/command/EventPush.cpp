#include "shell/command/EventPush.h"

#include <atomic>
#include <cstring>

#include "shell/command/JsonReading.h"

namespace kestrova {
namespace {

std::atomic<PushSender> pushSender{nullptr};

// The library's URL lives in a 260-byte block; never read further.
constexpr size_t kUrlBytes = 260;

}  // namespace

std::string buildPush(const NotifyEvent& event) {
  Json::Value document(Json::objectValue);
  document["Fountion"] = "serverPush";
  Json::Value& detail = document["PushDetail"];
  detail["uniqueId"] = event.uniqueId;
  detail["type"] = event.type;
  detail["channel"] = event.channel;
  switch (event.type) {
    case NOTIFY_BITRATE:
      detail["Bitrate"]["enable"] = event.enable != 0;
      detail["Bitrate"]["stream"] = event.bitrateStream;
      break;
    case NOTIFY_STREAM_SWITCHED:
      detail["StreamSwitch"]["stream"] = event.switchedStream;
      break;
    case NOTIFY_FILE_READY:
      detail["HttpDownload"]["type"] = event.fileType;
      detail["HttpDownload"]["url"] =
          event.url != nullptr ? std::string(event.url, strnlen(event.url, kUrlBytes)) : std::string();
      break;
    default:
      break;  // the common fields only
  }
  return writeStyled(document);
}

void setPushSender(PushSender sender) { pushSender.store(sender); }

int onActiveNotify(const NotifyEvent* event, void* /*user*/) {
  if (event == nullptr) return 0;
  const PushSender sender = pushSender.load();
  if (sender == nullptr) return 0;
  try {
    const std::string text = buildPush(*event);
    sender(static_cast<int32_t>(event->connectionId), text.data(), text.size());
  } catch (...) {
    // Nothing may unwind into the library's thread; a lost push is all.
  }
  return 0;
}

}  // namespace kestrova
