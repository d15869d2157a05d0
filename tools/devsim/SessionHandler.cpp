#include "tools/devsim/SessionHandler.h"

namespace devsim {

namespace wire = devlink::wire;

SessionHandler::~SessionHandler() {
  if (sessionId_) device_.sessions().close(*sessionId_);
}

bool SessionHandler::login(RequestReply& reply, const wire::Message& request) {
  wire::LoginRequest login;
  if (!wire::decode(request.body, login)) {
    reply.send(DLSDK_ERR_INVALID_PARAMETER);
    return false;
  }
  const DevSimOptions& options = device_.options();
  const Account* account = nullptr;
  for (const Account& a : options.accounts) {
    if (a.user == login.user) account = &a;
  }
  if (!account) {
    reply.send(DLSDK_ERR_UNKNOWN_USER);
    return false;
  }
  if (account->password != login.password) {
    reply.send(DLSDK_ERR_BAD_PASSWORD);
    return false;
  }
  const auto token = device_.sessions().open(login.user, account->liveOnly);
  if (!token) {
    reply.send(DLSDK_ERR_CONNECTION_LIMIT);
    return false;
  }
  sessionId_ = token->sessionId;
  liveOnly_ = account->liveOnly;
  wire::LoginReply answer;
  answer.token = *token;
  answer.channelCount = static_cast<uint16_t>(options.channels);
  device_.log("login " + login.user + " session " + std::to_string(token->sessionId));
  return reply.send(DLSDK_OK, wire::encode(answer));
}

void SessionHandler::logout(RequestReply& reply) { reply.send(DLSDK_OK); }

}  // namespace devsim
