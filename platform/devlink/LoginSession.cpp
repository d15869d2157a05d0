#include "platform/devlink/LoginSession.h"

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/LoginProof.h"
#include "platform/devlink/SdkContext.h"

namespace devlink {

int LoginSession::open(const std::string& host, uint16_t port, const std::string& user,
                       const std::string& password, std::shared_ptr<LoginSession>& out) {
  const SdkContext& sdk = SdkContext::instance();
  Socket socket;
  const int rc = Socket::connectTo(host, port, sdk.commandTimeoutMs(), sdk.receiveBuffer(), sdk.sendBuffer(), socket);
  if (rc != DLSDK_OK) return rc;
  std::shared_ptr<LoginSession> session(new LoginSession(host, port, std::move(socket)));
  const int result = session->authenticate(user, password);
  if (result != DLSDK_OK) {
    session->close();
    return result;
  }
  out = std::move(session);
  return DLSDK_OK;
}

int LoginSession::authenticate(const std::string& user, const std::string& password) {
  // A name that does not fit its field would be cut: no account has it.
  if (user.empty() || user.size() >= wire::kNameFieldSize) return DLSDK_ERR_UNKNOWN_USER;
  wire::LoginChallengeRequest hello;
  hello.user = user;
  if (!randomBytes(hello.clientNonce)) return DLSDK_ERR_FAILED;
  wire::Message reply;
  if (const int rc = request(wire::kLoginChallenge, wire::encode(hello), &reply); rc != DLSDK_OK) return rc;
  wire::LoginChallenge challenge;
  if (!wire::decode(reply.body, challenge)) return DLSDK_ERR_PROTOCOL;
  LoginKey key;
  if (!LoginKey::derive(password, challenge.salt, challenge.iterations, key)) return DLSDK_ERR_NO_MEMORY;
  const wire::LoginRequest proof{key.proof(challenge.serverNonce, hello.clientNonce, user)};
  if (const int rc = request(wire::kLogin, wire::encode(proof), &reply); rc != DLSDK_OK) return rc;
  wire::LoginReply answer;
  if (!wire::decode(reply.body, answer)) return DLSDK_ERR_PROTOCOL;
  token_ = answer.token;
  channelCount_ = answer.channelCount;
  return DLSDK_OK;
}

int LoginSession::request(uint16_t type, std::span<const uint8_t> body, wire::Message* reply) {
  std::lock_guard lock(mutex_);
  if (broken_) return DLSDK_ERR_CONNECT;
  const int rc = requestLocked(type, body, reply);
  // Transport failures leave the stream in an unknown state: close it so that
  // a late reply can never be taken for the answer to a later request.
  if (rc == DLSDK_ERR_TIMEOUT || rc == DLSDK_ERR_CONNECT || rc == DLSDK_ERR_PROTOCOL) {
    broken_ = true;
    socket_.shutdownBoth();
  }
  return rc;
}

int LoginSession::requestLocked(uint16_t type, std::span<const uint8_t> body, wire::Message* reply) {
  const int timeout = SdkContext::instance().commandTimeoutMs();
  const uint32_t id = nextRequestId_++;
  if (const int rc = socket_.sendMessage(type, 0, id, body, timeout); rc != DLSDK_OK) return rc;
  wire::Message m;
  if (const int rc = socket_.readMessage(reader_, m, timeout); rc != DLSDK_OK) return rc;
  if (m.header.type != type || m.header.requestId != id) return DLSDK_ERR_PROTOCOL;
  const int result = m.header.result;
  if (reply) *reply = std::move(m);
  return result;
}

int LoginSession::logout() {
  const int rc = request(wire::kLogout, {}, nullptr);
  close();
  return rc;
}

void LoginSession::close() {
  socket_.shutdownBoth();
}

}  // namespace devlink
