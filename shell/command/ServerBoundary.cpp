#include "shell/command/ServerBoundary.h"

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sockhub/SockHub.h"
#include "shell/command/DemoFiles.h"
#include "shell/command/Dispatcher.h"
#include "shell/services/ServiceConfig.h"

namespace kestrova {
namespace {

// Written by the application before the server delivers messages and after
// it has stopped; read by the server's threads.
std::atomic<Dispatcher*> installed{nullptr};

}  // namespace

int startServer(const ServiceConfig& config) {
  SockHubGlobalParam param{};
  param.port = config.wsPort;
  param.pingIntervalMs = config.wsPingIntervalMs;
  param.idleTimeoutMs = config.wsIdleTimeoutMs;
  param.maxSendBytes = config.wsSendLimit;
  if (const int result = SockHub_SetGlobalParam(&param); result != SOCKHUB_OK) return result;
  std::vector<const char*> origins;
  origins.reserve(config.allowedOrigins.size());
  for (const std::string& origin : config.allowedOrigins) origins.push_back(origin.c_str());
  if (const int result = SockHub_SetAllowedOrigins(origins.data(), origins.size()); result != SOCKHUB_OK) return result;
  // The demo page is served on the same port; "/" leads to it.
  const std::span<const SockHubStaticFile> files = demoFiles();
  if (const int result = SockHub_SetStaticFiles(files.data(), files.size(), files.empty() ? nullptr : "/demo/");
      result != SOCKHUB_OK)
    return result;
  return SockHub_Start();
}

void installDispatcher(Dispatcher* dispatcher) { installed.store(dispatcher); }

int onReceiveData(int32_t connectionId, int32_t clientPort, const char* text) {
  Dispatcher* dispatcher = installed.load();
  if (dispatcher == nullptr || text == nullptr) return 0;
  std::string reply;
  uint32_t msgId = 0;
  try {
    dispatcher->dispatch(text, std::strlen(text), connectionId, clientPort, reply, &msgId);
    if (reply.empty()) return 0;
    // A reply over the connection's output bound would never arrive: the
    // page gets the standard error reply for its request instead of silence.
    if (SockHub_SendData(connectionId, reply.data(), reply.size()) == SOCKHUB_ERR_TOO_LARGE) {
      reply = Dispatcher::unsendableReply(msgId);
      SockHub_SendData(connectionId, reply.data(), reply.size());
    }
  } catch (...) {
    // Nothing unwinds into the server's thread.
  }
  return 0;
}

int onClientAction(int32_t connectionId) {
  Dispatcher* dispatcher = installed.load();
  if (dispatcher == nullptr) return 0;
  std::string reply;
  try {
    dispatcher->dispatch(nullptr, 0, connectionId, 0, reply);
  } catch (...) {
  }
  return 0;
}

int sendToConnection(int32_t connectionId, const char* data, size_t length) {
  return SockHub_SendData(connectionId, data, length);
}

}  // namespace kestrova
