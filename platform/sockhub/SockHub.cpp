#include "platform/sockhub/SockHub.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/sockhub/Server.h"

namespace {

// The process-wide server. Never destroyed: a shell that exits without
// SockHub_Stop must not have its threads torn down by static destructors.
sockhub::Server& server() {
  static sockhub::Server* const instance = new sockhub::Server();
  return *instance;
}

std::mutex gParamMutex;
int32_t gPort = 32858;  // guarded by gParamMutex

// KESTROVA_WS_PORT, when set: 0..65535, or -1 for a text that is no port.
int portFromEnvironment(bool& set) {
  const char* text = std::getenv("KESTROVA_WS_PORT");
  set = text != nullptr;
  if (!set) return 0;
  const size_t length = std::strlen(text);
  int value = -1;
  const auto [end, ec] = std::from_chars(text, text + length, value);
  if (ec != std::errc() || end != text + length || length == 0 || value < 0 || value > 65535) return -1;
  return value;
}

}  // namespace

extern "C" {

int SockHub_SetGlobalParam(const SockHubGlobalParam* param) {
  if (param == nullptr || param->port < 0 || param->port > 65535) return SOCKHUB_ERR_INVALID_ARG;
  std::lock_guard lock(gParamMutex);
  gPort = param->port;
  return SOCKHUB_OK;
}

int SockHub_Start() {
  try {
    bool envSet = false;
    const int envPort = portFromEnvironment(envSet);
    if (envSet && envPort < 0) return SOCKHUB_ERR_BAD_PORT_ENV;
    int32_t port = 0;
    {
      std::lock_guard lock(gParamMutex);
      port = envSet ? envPort : gPort;
    }
    return server().start(static_cast<uint16_t>(port), sockhub::HandshakePolicy::fromEnvironment());
  } catch (...) {
    return SOCKHUB_ERR_RESOURCES;
  }
}

int SockHub_ReceiveDataIf(const SockHubReceiveDataParam* param) {
  if (param == nullptr) return SOCKHUB_ERR_INVALID_ARG;
  server().setReceiver(param->onReceive);
  return SOCKHUB_OK;
}

int SockHub_ClientActiontIf(const SockHubClientActionParam* param) {
  if (param == nullptr) return SOCKHUB_ERR_INVALID_ARG;
  server().setClientAction(param->onClientAction);
  return SOCKHUB_OK;
}

int SockHub_SendData(int32_t connectionId, const char* data, size_t length) {
  return server().send(connectionId, data, length);
}

int SockHub_Stop() {
  try {
    return server().stop();
  } catch (...) {
    return SOCKHUB_ERR_RESOURCES;
  }
}

uint16_t SockHub_BoundPort() { return server().boundPort(); }

}  // extern "C"
