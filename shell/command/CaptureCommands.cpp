#include "shell/command/CaptureCommands.h"

#include <string>

#include "shell/command/HandlerSupport.h"
#include "shell/command/JsonReading.h"

namespace kestrova {
namespace {

constexpr size_t kPathBytes = 260;

void writePathReply(const RequestContext& context, const char* path, std::string& reply) {
  Json::Value document = beginReply(context);
  document["actualPath"] = textOfBuffer(path, kPathBytes);
  reply = writeStyled(document);
}

}  // namespace

int handleSnapshot(CommandEnv& env, RequestContext& context, const Json::Value& request, std::string& reply) {
  const Json::Value* capture = objectMember(request, "Capture");
  if (capture == nullptr) return KS_E_INVALID;
  // A path that does not fit the buffer is refused: a cut one would name
  // another file.
  std::string chosen;
  if (readString(*capture, "path", chosen) && chosen.size() >= kPathBytes) return KS_E_INVALID;
  HeapBuffer<char> path(kPathBytes);
  if (!path) return KS_E_NO_MEMORY;

  SnapshotParam record{};
  record.path = path.get();
  record.live = 1;
  record.format = 1;
  readUInt(*capture, "uniqueId", record.uniqueId);
  readInt(*capture, "channel", record.channel);
  readBool(*capture, "live", record.live);
  readBool(*capture, "newMethod", record.newMethod);
  readInt(*capture, "format", record.format);
  copyText(*capture, "path", record.path, kPathBytes);
  record.connectionId = static_cast<uint32_t>(context.connectionId);

  const int result = env.plugin->snapshot(&record);
  if (result == KS_OK) writePathReply(context, path.get(), reply);
  return result;
}

int handleRecord(CommandEnv& env, RequestContext& context, const Json::Value& request, std::string& reply) {
  const Json::Value* video = objectMember(request, "VideoRecord");
  if (video == nullptr) return KS_E_INVALID;
  HeapBuffer<char> path(kPathBytes);
  if (!path) return KS_E_NO_MEMORY;

  StreamRecordParam record{};
  record.path = path.get();  // written only by the library
  record.live = 1;
  record.start = 1;
  record.newMethod = 0;
  readUInt(*video, "uniqueId", record.uniqueId);
  readInt(*video, "channel", record.channel);
  readBool(*video, "live", record.live);
  readBool(*video, "start", record.start);
  readBool(*video, "newMethod", record.newMethod);
  record.connectionId = static_cast<uint32_t>(context.connectionId);

  const int result = env.plugin->streamRecord(&record);
  if (result != KS_OK) return result;
  if (record.start == 0) {
    writePathReply(context, path.get(), reply);
  } else {
    reply = writeStyled(beginReply(context));
  }
  return KS_OK;
}

}  // namespace kestrova
