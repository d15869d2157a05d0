#include "shell/command/Dispatcher.h"

#include <json/reader.h>

#include <exception>
#include <new>
#include <strings.h>
#include <string>

#include "shell/command/CaptureCommands.h"
#include "shell/command/DeviceCommands.h"
#include "shell/command/GlobalCommand.h"
#include "shell/command/JsonReading.h"
#include "shell/command/LiveCommand.h"
#include "shell/command/PlaybackCommand.h"
#include "shell/command/QueryCommands.h"
#include "shell/command/SettingsCommand.h"
#include "shell/command/ShellState.h"

namespace kestrova {
namespace {

bool parseDocument(const char* text, size_t length, Json::Value& root) {
  // The permissive reader of the JSON library: comments allowed, any value
  // as the root. It throws when nesting runs too deep; that is a bad text.
  // One reader per thread: a reader allocates its stacks when it is made,
  // and parse() starts them afresh, also after a throw.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  try {
    thread_local Json::Reader reader;
    return reader.parse(text, text + length, root, false);
  } catch (const std::exception&) {
    return false;
  }
#pragma GCC diagnostic pop
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

int Dispatcher::runHandler(size_t index, RequestContext& context, const Json::Value& request, std::string& reply) {
  switch (index) {
    case 0: return handleCreateDevice(env_, context, request, reply);
    case 1: return handleDestroy(env_, context, request, reply);
    case 2: return handleLive(env_, context, request, reply);
    case 3: return handleSnapshot(env_, context, request, reply);
    case 4: return handleRecord(env_, context, request, reply);
    case 5: return handleRecordQuery(env_, context, request, reply);
    case 6: return handlePlayback(env_, context, request, reply);
    case 7: return handleDownload(env_, context, request, reply);
    case 8: return handleSettings(env_, context, request, reply);
    case 9: return handleGlobalCtrl(context, request, reply);
    default: return KS_E_INVALID;
  }
}

std::string Dispatcher::standardReply(int code, uint32_t msgId) {
  // The styled writer's layout, so that pages see the shape they always see.
  return "{\n   \"code\" : " + std::to_string(code) + ",\n   \"msgId\" : " + std::to_string(msgId) + "\n}\n";
}

std::string Dispatcher::unsendableReply(uint32_t msgId) { return standardReply(KS_E_CHANNEL, msgId); }

int Dispatcher::dispatch(const char* text, size_t length, int32_t connectionId, int32_t clientPort, std::string& reply,
                         uint32_t* msgId) {
  RequestContext context;
  const ShellState& state = shellState();
  int result = KS_OK;

  if (state.upgradePending.load()) {
    result = KS_E_UPGRADING;
  } else if (text == nullptr && clientPort == 0) {
    // The connection has gone: release every live device it owns.
    DestroyParam destroy{};
    destroy.type = 1;
    destroy.byUniqueId = 0;
    destroy.uniqueId = static_cast<uint32_t>(connectionId);
    env_.plugin->destroyObject(&destroy);
    return KS_OK;
  } else {
    result = KS_E_INVALID;
    Json::Value request;
    if (text != nullptr && parseDocument(text, length, request) && request.isObject() &&
        request.isMember("msgId")) {
      if (const Json::Value& id = request["msgId"]; id.isUInt()) context.msgId = id.asUInt();
      std::string name;
      // A "Fountion" that is missing or not a string matches no command.
      if (readString(request, "Fountion", name)) {
        for (size_t i = 0; i < std::size(kCommandNames); ++i) {
          if (!equalsIgnoringCase(name, kCommandNames[i])) continue;
          context.clientPort = clientPort;
          context.connectionId = connectionId;
          try {
            result = runHandler(i, context, request, reply);
          } catch (const std::bad_alloc&) {
            reply.clear();
            result = KS_E_NO_MEMORY;
          } catch (const std::exception&) {
            reply.clear();
            result = KS_E_INVALID;
          }
          break;
        }
      }
    }
    if (state.upgradePending.load()) result = KS_E_UPGRADING;
  }

  if (msgId != nullptr) *msgId = context.msgId;
  if (reply.empty() || state.upgradePending.load()) {
    reply.clear();
    try {
      // Most replies are the plain standard one: written directly, without
      // building a document for the writer.
      const int code = result == KS_OK ? 200 : result;
      if (context.extError.empty()) {
        reply = standardReply(code, context.msgId);
        return result;
      }
      Json::Value standard(Json::objectValue);
      standard["code"] = code;
      standard["msgId"] = context.msgId;
      standard["extError"] = context.extError;
      reply = writeStyled(standard);
    } catch (const std::exception&) {
      // The page still learns that its request was answered.
      reply = unsendableReply(context.msgId);
      result = KS_E_CHANNEL;
    }
  }
  return result;
}

}  // namespace kestrova
