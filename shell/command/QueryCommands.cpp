#include "shell/command/QueryCommands.h"

#include <cstring>
#include <string>

#include "shell/command/HandlerSupport.h"
#include "shell/command/JsonReading.h"

namespace kestrova {
namespace {

constexpr size_t kPathBytes = 260;

// Reads the start and end texts of a span. Both pass through one buffer, so
// a missing end text repeats the start text. Either text failing to parse
// makes the span invalid.
bool readSpan(const Json::Value& body, std::string_view startKey, std::string_view endKey, SystemTime& start,
              SystemTime& end, int64_t& startSeconds, int64_t& endSeconds) {
  std::string text;
  readString(body, startKey, text);
  if (!parseSystemTime(text, start) || !systemTimeToSeconds(start, startSeconds)) return false;
  readString(body, endKey, text);
  return parseSystemTime(text, end) && systemTimeToSeconds(end, endSeconds);
}

}  // namespace

int handleRecordQuery(CommandEnv& env, RequestContext& context, const Json::Value& request, std::string& reply) {
  const Json::Value* query = objectMember(request, "PlaybackQuery");
  if (query == nullptr) return KS_E_INVALID;
  PlaybackQueryParam record{};
  readInt(*query, "type", record.type);
  switch (record.type) {
    case 1:
      if (objectMember(*query, "Summary") == nullptr) return KS_E_INVALID;
      break;
    case 2: {
      const Json::Value* day = objectMember(*query, "RecordByDay");
      if (day == nullptr) return KS_E_INVALID;
      SystemTime start{}, end{};
      int64_t startSeconds = 0, endSeconds = 0;
      if (!readSpan(*day, "dateStart", "dateEnd", start, end, startSeconds, endSeconds)) return KS_E_INVALID;
      if (endSeconds < startSeconds) return KS_E_INVALID;
      break;
    }
    case 3:
      break;
    case 4:
      if (objectMember(*query, "SetConfig") == nullptr) return KS_E_INVALID;
      break;
    default:
      return KS_E_INVALID;
  }
  readBool(*query, "remote", record.remote);
  readUInt(*query, "uniqueId", record.uniqueId);
  record.connectionId = static_cast<uint32_t>(context.connectionId);
  uintptr_t resultSlot = 0;
  return env.plugin->playbackQuery(&record, reinterpret_cast<uintptr_t>(&resultSlot));
}

int handleDownload(CommandEnv& env, RequestContext& context, const Json::Value& request, std::string& reply) {
  const Json::Value* param = objectMember(request, "DownloadParam");
  if (param == nullptr) return KS_E_INVALID;
  DownloadControlParam record{};
  readInt(*param, "operate", record.operate);

  HeapBuffer<char> path(record.operate == 1 ? kPathBytes : 0);
  if (record.operate == 1) {
    const Json::Value* playback = objectMember(*param, "Playback");
    if (playback == nullptr) return KS_E_INVALID;
    if (!path) return KS_E_NO_MEMORY;
    record.path = path.get();
    record.remote = 1;
    record.mainStream = 0;
    record.recordType = -1;
    record.format = 1;
    readBool(*playback, "remote", record.remote);
    readBool(*playback, "mainStream", record.mainStream);
    readInt(*playback, "channel", record.channel);
    readInt(*playback, "recordType", record.recordType);
    readInt(*playback, "format", record.format);
    // A path longer than its buffer is refused, never cut to another name.
    std::string pathText;
    if (readString(*playback, "path", pathText)) {
      if (pathText.size() >= kPathBytes || pathText.find('\0') != std::string::npos) return KS_E_INVALID;
      std::memcpy(record.path, pathText.data(), pathText.size());
    }
    if (!readSpan(*playback, "startTime", "endTime", record.startTime, record.endTime, record.startSeconds,
                  record.endSeconds)) {
      return KS_E_INVALID;
    }
    const SystemTime& s = record.startTime;
    const SystemTime& e = record.endTime;
    if (s.year != e.year || s.month != e.month || s.day != e.day || record.endSeconds <= record.startSeconds) {
      return KS_E_INVALID;
    }
  } else if (record.operate == 2 || record.operate == 3) {
    const Json::Value* body = objectMember(*param, record.operate == 2 ? "Query" : "Interrupt");
    if (body == nullptr) return KS_E_INVALID;
    readUInt(*body, "taskId", record.taskId);
  } else {
    return KS_E_INVALID;
  }

  readUInt(*param, "uniqueId", record.uniqueId);
  record.connectionId = static_cast<uint32_t>(context.connectionId);
  const int result = env.plugin->downloadControl(&record);
  if (result != KS_OK) return result;

  Json::Value document = beginReply(context);
  if (record.operate == 1) document["taskId"] = record.taskId;
  if (record.operate == 2) document["percent"] = record.progress;
  reply = writeStyled(document);
  return KS_OK;
}

}  // namespace kestrova
