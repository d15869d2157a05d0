#include "platform/sockhub/SockHub.h"

#include <mutex>
#include <string>
#include <vector>

#include "platform/sockhub/Server.h"

namespace {

// The process-wide server. Never destroyed: a shell that exits without
// SockHub_Stop must not have its threads torn down by static destructors.
sockhub::Server& server() {
  static sockhub::Server* const instance = new sockhub::Server();
  return *instance;
}

// The configuration of the next Start, written by the setters.
std::mutex gParamMutex;
int32_t gPort = 32858;                      // guarded by gParamMutex
std::vector<std::string> gAllowedOrigins;   // guarded by gParamMutex; empty: every origin

}  // namespace

extern "C" {

int SockHub_SetGlobalParam(const SockHubGlobalParam* param) {
  if (param == nullptr || param->port < 0 || param->port > 65535) return SOCKHUB_ERR_INVALID_ARG;
  std::lock_guard lock(gParamMutex);
  gPort = param->port;
  return SOCKHUB_OK;
}

int SockHub_SetAllowedOrigins(const char* const* origins, size_t count) {
  if (origins == nullptr && count != 0) return SOCKHUB_ERR_INVALID_ARG;
  try {
    std::vector<std::string> list;
    list.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      if (origins[i] == nullptr) return SOCKHUB_ERR_INVALID_ARG;
      list.emplace_back(origins[i]);
    }
    std::lock_guard lock(gParamMutex);
    gAllowedOrigins = std::move(list);
    return SOCKHUB_OK;
  } catch (...) {
    return SOCKHUB_ERR_RESOURCES;
  }
}

int SockHub_Start() {
  try {
    int32_t port = 0;
    std::vector<std::string> origins;
    {
      std::lock_guard lock(gParamMutex);
      port = gPort;
      origins = gAllowedOrigins;
    }
    return server().start(static_cast<uint16_t>(port), sockhub::HandshakePolicy(std::move(origins)));
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
