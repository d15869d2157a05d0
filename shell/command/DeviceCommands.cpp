#include "shell/command/DeviceCommands.h"

#include <cstdlib>

#include "shell/command/HandlerSupport.h"
#include "shell/command/JsonReading.h"
#include "shell/command/ShellState.h"

namespace kestrova {

int handleCreateDevice(CommandEnv& env, RequestContext& context, const Json::Value& request, std::string& reply) {
  const Json::Value* device = objectMember(request, "Device");
  if (device == nullptr) return KS_E_INVALID;
  // "Auth" may be absent (its fields keep their defaults), but a value that is
  // there and is not an object is a malformed request.
  const Json::Value* authMember = member(request, "Auth");
  if (authMember != nullptr && !authMember->isObject()) return KS_E_INVALID;
  static const Json::Value kEmpty(Json::objectValue);
  const Json::Value& auth = authMember != nullptr ? *authMember : kEmpty;

  DeviceCreateParam record{};
  record.protocol = 1;
  record.connectionId = static_cast<uint32_t>(context.connectionId);

  copyText(*device, "MAC", record.MAC, sizeof record.MAC);
  readInt(*device, "totalChannel", record.totalChannel);
  readIntInto(*device, "mediaPort", record.mediaPort);
  readIntInto(*device, "cmdPort", record.cmdPort);
  readBool(*device, "multilens", record.multilens);

  copyText(auth, "usr", record.usr, sizeof record.usr);
  copyText(auth, "pwd", record.pwd, sizeof record.pwd);
  copyText(auth, "address", record.address, sizeof record.address);
  readIntInto(auth, "protocol", record.protocol);
  readBool(auth, "lowPower", record.lowPower);
  copyText(auth, "cert", record.cert, sizeof record.cert);
  copyText(auth, "role", record.role, sizeof record.role);
  copyText(auth, "privilege", record.privilege, sizeof record.privilege);

  copyWideText(*device, "resShowBitrate", record.resShowBitrate, std::size(record.resShowBitrate));
  copyWideText(*device, "resMainStream", record.resMainStream, std::size(record.resMainStream));
  copyWideText(*device, "resSubStream", record.resSubStream, std::size(record.resSubStream));
  copyWideText(*device, "resThirdStream", record.resThirdStream, std::size(record.resThirdStream));
  if (record.resShowBitrate[0] == 0 || record.resMainStream[0] == 0 || record.resSubStream[0] == 0 ||
      record.resThirdStream[0] == 0) {
    return KS_E_INVALID;
  }

  const Json::Value* streams = member(*device, "stream");
  if (streams == nullptr || !streams->isArray() || record.totalChannel < 0 ||
      streams->size() != static_cast<Json::ArrayIndex>(record.totalChannel)) {
    return KS_E_INVALID;
  }
  // One byte per channel; at least one byte so that "no channels" is still a
  // real block the library can take over.
  auto* block = static_cast<uint8_t*>(std::calloc(record.totalChannel > 0 ? record.totalChannel : 1, 1));
  if (block == nullptr) return KS_E_NO_MEMORY;
  for (Json::ArrayIndex i = 0; i < streams->size(); ++i) {
    const Json::Value& element = (*streams)[i];
    block[i] = element.isInt() ? static_cast<uint8_t>(element.asInt() & 0xFF) : 0;
  }
  record.stream = block;

  const int result = env.plugin->createDevice(&record);
  std::free(record.stream);  // still ours unless the library took it over
  if (result != KS_OK) return result;

  Json::Value document = beginReply(context);
  document["uniqueId"] = record.uniqueId;
  document["dpiRadio"] = shellState().dpiRadio.load();
  reply = writeStyled(document);
  return KS_OK;
}

int handleDestroy(CommandEnv& env, RequestContext& context, const Json::Value& request, std::string& reply) {
  const Json::Value* body = objectMember(request, "DestroyObject");
  if (body == nullptr) return KS_E_INVALID;
  DestroyParam record{};
  readInt(*body, "type", record.type);
  if (record.type == 1) {
    const Json::Value* device = objectMember(*body, "Device");
    if (device == nullptr) return KS_E_INVALID;
    record.byUniqueId = 1;
    readUInt(*device, "uniqueId", record.uniqueId);
  } else if (record.type == 2) {
    const Json::Value* windows = objectMember(*body, "Windows");
    if (windows == nullptr) return KS_E_INVALID;
    readUInt(*windows, "hWnd", record.hWnd);
  } else {
    return KS_E_INVALID;
  }
  return env.plugin->destroyObject(&record);
}

}  // namespace kestrova
