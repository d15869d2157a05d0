#include "platform/sockhub/SockHub.h"

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sockhub/Server.h"
#include "platform/sockhub/StaticSite.h"

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
sockhub::ServerOptions gOptions;            // guarded by gParamMutex
std::vector<std::string> gAllowedOrigins;   // guarded by gParamMutex
std::shared_ptr<const sockhub::StaticSite> gSite;  // guarded by gParamMutex; null: no files

}  // namespace

extern "C" {

int SockHub_SetGlobalParam(const SockHubGlobalParam* param) {
  if (param == nullptr || param->port < 0 || param->port > 65535 || param->pingIntervalMs < 0 ||
      param->idleTimeoutMs < 0)
    return SOCKHUB_ERR_INVALID_ARG;
  const sockhub::ServerOptions defaults;
  std::lock_guard lock(gParamMutex);
  gPort = param->port;
  gOptions.pingInterval =
      param->pingIntervalMs == 0 ? defaults.pingInterval : std::chrono::milliseconds(param->pingIntervalMs);
  gOptions.idleTimeout =
      param->idleTimeoutMs == 0 ? defaults.idleTimeout : std::chrono::milliseconds(param->idleTimeoutMs);
  gOptions.maxUnsentBytes = param->maxSendBytes == 0 ? defaults.maxUnsentBytes : param->maxSendBytes;
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

int SockHub_SetStaticFiles(const SockHubStaticFile* files, size_t count, const char* rootRedirect) {
  if (files == nullptr && count != 0) return SOCKHUB_ERR_INVALID_ARG;
  try {
    auto site = std::make_shared<sockhub::StaticSite>();
    for (size_t i = 0; i < count; ++i) {
      const SockHubStaticFile& f = files[i];
      if (f.path == nullptr || f.path[0] != '/' || f.contentType == nullptr || (f.data == nullptr && f.size != 0))
        return SOCKHUB_ERR_INVALID_ARG;
      site->add(f.path, f.contentType, std::string(reinterpret_cast<const char*>(f.data), f.size));
    }
    if (rootRedirect != nullptr) site->setRootRedirect(rootRedirect);
    std::lock_guard lock(gParamMutex);
    gSite = site->empty() ? nullptr : std::move(site);
    return SOCKHUB_OK;
  } catch (...) {
    return SOCKHUB_ERR_RESOURCES;
  }
}

int SockHub_Start() {
  try {
    int32_t port = 0;
    sockhub::ServerOptions options;
    std::vector<std::string> origins;
    std::shared_ptr<const sockhub::StaticSite> site;
    {
      std::lock_guard lock(gParamMutex);
      port = gPort;
      options = gOptions;
      origins = gAllowedOrigins;
      site = gSite;
    }
    if (const int result = server().configure(options); result != SOCKHUB_OK) return result;
    return server().start(static_cast<uint16_t>(port), sockhub::HandshakePolicy(std::move(origins)), std::move(site));
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

int SockHub_AskOriginIf(const SockHubAskOriginParam* param) {
  if (param == nullptr) return SOCKHUB_ERR_INVALID_ARG;
  server().setOriginJudge(param->onAskOrigin);
  return SOCKHUB_OK;
}

int SockHub_AnswerOrigin(int32_t questionId, int allow) { return server().answerOrigin(questionId, allow != 0); }

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
