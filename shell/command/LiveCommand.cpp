#include "shell/command/LiveCommand.h"

#include "shell/command/HandlerSupport.h"
#include "shell/command/JsonReading.h"

namespace kestrova {
namespace {

constexpr size_t kTitleUnits = 260;

// Reads the Preview body; the title buffer is the caller's.
void readPreview(const Json::Value& body, const RequestContext& context, char16_t* title,
                 LiveControlParam& record) {
  LivePreviewBody& p = record.preview;
  p.title = title;
  p.clientPort = static_cast<uint32_t>(context.clientPort);
  p.streamType = 1;
  p.open = 1;
  p.openMode = OPEN_MODE_CHANNEL;
  copyWideText(body, "title", title, kTitleUnits);
  readIntInto(body, "layout", p.layout);
  readInt(body, "x", p.x);
  readInt(body, "y", p.y);
  readInt(body, "w", p.w);
  readInt(body, "h", p.h);
  readInt(body, "streamType", p.streamType);
  uint8_t openAll = 0;
  uint8_t closeAll = 0;
  readBool(body, "openAll", openAll);
  readBool(body, "closeAll", closeAll);
  if (openAll != 0) {
    p.openMode = OPEN_MODE_OPEN_ALL;
  } else if (closeAll != 0) {
    p.openMode = OPEN_MODE_CLOSE_ALL;
  } else {
    readBool(body, "open", p.open);
  }
  // Captions matter only when channels are being opened.
  if (p.openMode == OPEN_MODE_OPEN_ALL || (p.openMode == OPEN_MODE_CHANNEL && p.open != 0)) {
    p.channelName = readWideTextArray(body, "channelName");
  }
  readBool(body, "adjustPos", p.adjustPos);
}

// Reads the body of every type but Preview; answers a result code.
int readBody(uint32_t type, const Json::Value& body, LiveControlParam& record) {
  switch (type) {
    case LIVE_AUDIO:
      record.audio.sampleRate = 8000;
      readBool(body, "mute", record.audio.mute);
      readIntInto(body, "sampleRate", record.audio.sampleRate);
      return KS_OK;
    case LIVE_TALK: {
      LiveTalkBody& t = record.talk;
      t.sampleRate = 8000;
      t.bitPerSample = 16;
      t.soundChannel = 1;
      t.open = 1;
      t.codec = 1;
      t.toDevice = 0;
      readIntInto(body, "sampleRate", t.sampleRate);
      readIntInto(body, "bitPerSample", t.bitPerSample);
      readIntInto(body, "soundChannel", t.soundChannel);
      readBool(body, "open", t.open);
      readIntInto(body, "codec", t.codec);
      readBool(body, "toDevice", t.toDevice);
      return KS_OK;
    }
    case LIVE_DIGITAL_ZOOM:
      record.digitalZoom.open = 1;
      readBool(body, "open", record.digitalZoom.open);
      return KS_OK;
    case LIVE_FULLSCREEN:
      record.fullscreen.enter = 1;
      readBool(body, "enter", record.fullscreen.enter);
      return KS_OK;
    case LIVE_ASPECT_RATIO:
      record.aspectRatio.ratio = 0;
      readBool(body, "ratio", record.aspectRatio.ratio);
      return KS_OK;
    case LIVE_SWITCH_STREAM:
      record.switchStream.newStream = 1;
      readIntInto(body, "newStream", record.switchStream.newStream);
      record.switchStream.channelName = readWideTextArray(body, "channelName");
      return KS_OK;
    case LIVE_BITRATE:
      readIntInto(body, "kbpsMain", record.bitrate.kbpsMain);
      readIntInto(body, "kbpsSub", record.bitrate.kbpsSub);
      readIntInto(body, "kbpsThird", record.bitrate.kbpsThird);
      return KS_OK;
    case LIVE_SHOW_DOCK:
      record.showDock.showMode = 1;
      readIntInto(body, "showMode", record.showDock.showMode);
      return KS_OK;
    case LIVE_MOVE_DOCK:
      readInt(body, "x", record.moveDock.x);
      readInt(body, "y", record.moveDock.y);
      readInt(body, "w", record.moveDock.w);
      readInt(body, "h", record.moveDock.h);
      return record.moveDock.w > 0 && record.moveDock.h > 0 ? KS_OK : KS_E_INVALID;
    case LIVE_SPLIT:
      readIntInto(body, "Count", record.split.Count);
      return record.split.Count >= 1 && record.split.Count <= 18 ? KS_OK : KS_E_INVALID;
    default:
      return KS_E_INVALID;
  }
}

const char* bodyName(uint32_t type) {
  static constexpr const char* kNames[] = {nullptr,      "Preview",     "Audio",        "Talk",
                                           "DigitalZoom", "Fullscreen", "AspectRatio",  "SwitchStream",
                                           "Bitrate",     "ShowDock",   "MoveDock",     "Split"};
  return type >= 1 && type <= 11 ? kNames[type] : nullptr;
}

// The texts hung on the record are freed whatever the outcome.
struct LiveRecordTexts {
  LiveControlParam& record;
  ~LiveRecordTexts() {
    if (record.type == LIVE_PREVIEW) {
      freeTextArray(kWideTextSlots, record.preview.channelName);
    } else if (record.type == LIVE_SWITCH_STREAM) {
      freeTextArray(kWideTextSlots, record.switchStream.channelName);
    }
  }
};

}  // namespace

int handleLive(CommandEnv& env, RequestContext& context, const Json::Value& request, std::string& reply) {
  const Json::Value* control = objectMember(request, "LiveCtrl");
  if (control == nullptr) return KS_E_INVALID;

  LiveControlParam record{};
  LiveRecordTexts texts{record};
  readIntInto(*control, "type", record.type);
  readBool(*control, "settings", record.settings);

  const char* name = bodyName(record.type);
  if (name == nullptr) return KS_E_INVALID;
  const Json::Value* body = objectMember(*control, name);
  if (body == nullptr) return KS_E_INVALID;

  HeapBuffer<char16_t> title(record.type == LIVE_PREVIEW ? kTitleUnits : 0);
  if (record.type == LIVE_PREVIEW) {
    if (!title) return KS_E_NO_MEMORY;
    readPreview(*body, context, title.get(), record);
  } else if (const int result = readBody(record.type, *body, record); result != KS_OK) {
    return result;
  }

  readUInt(*control, "uniqueId", record.uniqueId);
  readInt(*control, "channel", record.channel);
  record.connectionId = static_cast<uint32_t>(context.connectionId);

  return withDockCreation(env, 1, &record, [&] { return env.plugin->deviceLiveControl(&record); });
}

}  // namespace kestrova
