#include "tools/devsim/SessionHandler.h"

#include "platform/devlink/LoginProof.h"

namespace devsim {

namespace wire = devlink::wire;

SessionHandler::~SessionHandler() {
  if (sessionId_) device_.sessions().close(*sessionId_);
}

bool SessionHandler::challenge(RequestReply& reply, const wire::Message& request) {
  wire::LoginChallengeRequest opening;
  if (!wire::decode(request.body, opening) || opening.version != wire::kLoginVersion) {
    reply.send(DLSDK_ERR_INVALID_PARAMETER);
    return false;
  }
  const std::vector<Account>& accounts = device_.options().accounts;
  size_t index = accounts.size();
  for (size_t i = 0; i < accounts.size(); ++i) {
    if (accounts[i].user == opening.user) index = i;
  }
  if (index == accounts.size()) {
    reply.send(DLSDK_ERR_UNKNOWN_USER);
    return false;
  }
  if (!devlink::randomBytes(challenge_.serverNonce)) {
    reply.send(DLSDK_ERR_FAILED);
    return false;
  }
  challenge_.salt = device_.accountKey(index).salt;
  challenge_.iterations = DeviceState::kKeyIterations;
  accountIndex_ = index;
  opening_ = opening;
  return reply.send(DLSDK_OK, wire::encode(challenge_));
}

bool SessionHandler::login(RequestReply& reply, const wire::Message& request) {
  wire::LoginRequest proof;
  if (!opening_ || !wire::decode(request.body, proof)) {
    reply.send(DLSDK_ERR_INVALID_PARAMETER);
    return false;
  }
  const wire::LoginChallengeRequest opening = *opening_;
  opening_.reset();  // one proof per challenge
  const auto expected =
      device_.accountKey(accountIndex_).key.proof(challenge_.serverNonce, opening.clientNonce, opening.user);
  if (!devlink::proofsEqual(expected, proof.proof)) {
    reply.send(DLSDK_ERR_BAD_PASSWORD);
    return false;
  }
  const Account& account = device_.options().accounts[accountIndex_];
  const auto token = device_.sessions().open(account.user, account.liveOnly);
  if (!token) {
    reply.send(DLSDK_ERR_CONNECTION_LIMIT);
    return false;
  }
  sessionId_ = token->sessionId;
  liveOnly_ = account.liveOnly;
  wire::LoginReply answer;
  answer.token = *token;
  answer.channelCount = static_cast<uint16_t>(device_.options().channels);
  device_.log("login " + account.user + " session " + std::to_string(token->sessionId));
  return reply.send(DLSDK_OK, wire::encode(answer));
}

void SessionHandler::logout(RequestReply& reply) { reply.send(DLSDK_OK); }

}  // namespace devsim
