#include "shell/command/PlaybackCommand.h"

#include "platform/sys/TimeText.h"
#include "shell/command/HandlerSupport.h"
#include "shell/command/JsonReading.h"

namespace kestrova {
namespace {

constexpr size_t kPathBytes = 260;
constexpr size_t kTitleUnits = 260;

const char* bodyName(uint32_t type) {
  static constexpr const char* kNames[] = {nullptr,    "Preview",    "Speed",       "Audio",    "Position",
                                           nullptr,    "Fullscreen", "AspectRatio", "ShowDock", "MoveDock"};
  return type >= 1 && type <= 9 ? kNames[type] : nullptr;
}

// A time key: absent (or empty) leaves the field zero; a text that is not a
// time makes the request invalid.
int readTime(const Json::Value& body, std::string_view key, SystemTime& field) {
  std::string text;
  if (!readString(body, key, text) || text.empty()) return KS_OK;
  return parseSystemTime(text, field) ? KS_OK : KS_E_INVALID;
}

int readBody(uint32_t type, const Json::Value& body, PlaybackControlParam& record) {
  switch (type) {
    case PLAYBACK_SPEED:
      readBool(body, "fast", record.speed.fast);
      readBool(body, "revertToNormal", record.speed.revertToNormal);
      return KS_OK;
    case PLAYBACK_AUDIO:
      readBool(body, "mute", record.audio.mute);
      return KS_OK;
    case PLAYBACK_POSITION:
      readInt(body, "progress", record.position.progress);
      return readTime(body, "newPos", record.position.newPos);
    case PLAYBACK_POSITION_QUERY:
      return KS_OK;
    case PLAYBACK_FULLSCREEN:
      record.fullscreen.enter = 1;
      readBool(body, "enter", record.fullscreen.enter);
      return KS_OK;
    case PLAYBACK_ASPECT_RATIO:
      readBool(body, "ratio", record.aspectRatio.ratio);
      return KS_OK;
    case PLAYBACK_SHOW_DOCK:
      record.showDock.showMode = 1;
      readIntInto(body, "showMode", record.showDock.showMode);
      return KS_OK;
    case PLAYBACK_MOVE_DOCK:
      readInt(body, "x", record.moveDock.x);
      readInt(body, "y", record.moveDock.y);
      readInt(body, "w", record.moveDock.w);
      readInt(body, "h", record.moveDock.h);
      return KS_OK;
    default:
      return KS_E_INVALID;
  }
}

void writePositionReply(const RequestContext& context, const PlaybackControlParam& record, std::string& reply) {
  Json::Value document = beginReply(context);
  if (record.position.progress == -1) {
    int64_t seconds = 0;
    const SystemTime& t = record.position.newPos;
    // The library's time is local; written back in the same text form.
    document["nowPos"] = systemTimeToSeconds(t, seconds)
                             ? sys::formatTimeText(sys::secondsToLocal(seconds))
                             : std::string();
  } else {
    document["progress"] = record.position.progress;
  }
  reply = writeStyled(document);
}

}  // namespace

int handlePlayback(CommandEnv& env, RequestContext& context, const Json::Value& request, std::string& reply) {
  const Json::Value* control = objectMember(request, "PlaybackCtrl");
  if (control == nullptr) return KS_E_INVALID;

  PlaybackControlParam record{};
  readIntInto(*control, "type", record.type);
  if (record.type < 1 || record.type > 9) return KS_E_INVALID;

  const Json::Value* body = nullptr;
  if (record.type != PLAYBACK_POSITION_QUERY) {
    body = objectMember(*control, bodyName(record.type));
    if (body == nullptr) return KS_E_INVALID;
  }

  const bool preview = record.type == PLAYBACK_PREVIEW;
  HeapBuffer<char> path(preview ? kPathBytes : 0);
  HeapBuffer<char16_t> title(preview ? kTitleUnits : 0);
  if (preview) {
    if (!path || !title) return KS_E_NO_MEMORY;
    PlaybackPreviewBody& p = record.preview;
    p.path = path.get();
    p.title = title.get();
    p.streamType = 2;
    p.recordType = -1;
    p.clientPort = static_cast<uint32_t>(context.clientPort);
    readInt(*body, "x", p.x);
    readInt(*body, "y", p.y);
    readInt(*body, "w", p.w);
    readInt(*body, "h", p.h);
    readInt(*body, "streamType", p.streamType);
    readInt(*body, "play", p.play);
    readBool(*body, "remote", p.remote);
    readBool(*body, "adjustPos", p.adjustPos);
    readInt(*body, "recordType", p.recordType);
    copyText(*body, "path", p.path, kPathBytes);
    copyWideText(*body, "title", p.title, kTitleUnits);
    if (const int result = readTime(*body, "playPos", p.playPos); result != KS_OK) return result;
  } else if (const int result = readBody(record.type, body != nullptr ? *body : Json::Value(), record);
             result != KS_OK) {
    return result;
  }

  readUInt(*control, "uniqueId", record.uniqueId);
  readInt(*control, "channel", record.channel);
  record.connectionId = static_cast<uint32_t>(context.connectionId);

  const int result =
      withDockCreation(env, 2, &record, [&] { return env.plugin->devicePlaybackControl(&record); });
  if (result == KS_OK && record.type == PLAYBACK_POSITION_QUERY) writePositionReply(context, record, reply);
  return result;
}

}  // namespace kestrova
