#include "tools/devsim/CommandConnection.h"

#include "tools/devsim/KeyFrameHandler.h"
#include "tools/devsim/RecordQueryHandler.h"
#include "tools/devsim/RequestReply.h"
#include "tools/devsim/SessionHandler.h"
#include "tools/devsim/TalkHandler.h"

namespace devsim {

namespace wire = devlink::wire;

namespace {

// Holds the connection without answering until the client gives up or the
// device stops.
void waitForClose(devlink::Socket& socket, wire::MessageReader& reader) {
  wire::Message ignored;
  while (socket.readMessage(reader, ignored, -1) == DLSDK_OK) {
  }
}

}  // namespace

void CommandConnection::serve(devlink::Socket& socket) {
  const HostileMode hostile = device_.options().hostile;
  wire::MessageReader reader;
  wire::Message m;
  if (socket.readMessage(reader, m, DeviceState::kHelloTimeoutMs) != DLSDK_OK) return;
  switch (m.header.type) {
    case wire::kTalkOpen:
      TalkHandler(device_).serve(socket, reader, m);
      return;
    case wire::kLoginChallenge:
      break;
    case wire::kLogin:
      // A proof without a challenge before it.
      RequestReply(socket, m).send(DLSDK_ERR_INVALID_PARAMETER);
      return;
    default:
      RequestReply(socket, m).send(DLSDK_ERR_NOT_AVAILABLE);
      return;
  }
  if (hostile == HostileMode::kStallLogin) return waitForClose(socket, reader);
  if (hostile == HostileMode::kCloseLogin) return;
  SessionHandler session(device_);
  {
    RequestReply reply(socket, m, hostile);
    if (!session.challenge(reply, m)) return;
  }
  if (socket.readMessage(reader, m, DeviceState::kHelloTimeoutMs) != DLSDK_OK) return;
  {
    RequestReply reply(socket, m, hostile);
    if (m.header.type != wire::kLogin) {
      reply.send(DLSDK_ERR_INVALID_PARAMETER);
      return;
    }
    if (!session.login(reply, m)) return;
  }
  KeyFrameHandler keyFrames(device_);
  RecordQueryHandler records(device_, session.liveOnly());
  for (;;) {
    if (socket.readMessage(reader, m, -1) != DLSDK_OK) return;
    RequestReply reply(socket, m, hostile);
    switch (m.header.type) {
      case wire::kLogout:
        session.logout(reply);
        return;
      case wire::kForceKeyFrame:
        if (!keyFrames.handle(reply, m)) return;
        break;
      case wire::kRecordQuery:
        if (!records.handle(reply, m)) return;
        break;
      default:
        // A well-framed request this port does not serve.
        if (!reply.send(DLSDK_ERR_NOT_SUPPORTED)) return;
        break;
    }
  }
}

}  // namespace devsim
