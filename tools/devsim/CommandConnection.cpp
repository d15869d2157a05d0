#include "tools/devsim/CommandConnection.h"

#include "tools/devsim/KeyFrameHandler.h"
#include "tools/devsim/RecordQueryHandler.h"
#include "tools/devsim/RequestReply.h"
#include "tools/devsim/SessionHandler.h"
#include "tools/devsim/TalkHandler.h"

namespace devsim {

namespace wire = devlink::wire;

void CommandConnection::serve(devlink::Socket& socket) {
  wire::MessageReader reader;
  wire::Message m;
  if (socket.readMessage(reader, m, DeviceState::kHelloTimeoutMs) != DLSDK_OK) return;
  switch (m.header.type) {
    case wire::kTalkOpen:
      TalkHandler(device_).serve(socket, reader, m);
      return;
    case wire::kLogin:
      break;
    default:
      RequestReply(socket, m).send(DLSDK_ERR_NOT_AVAILABLE);
      return;
  }
  SessionHandler session(device_);
  {
    RequestReply reply(socket, m);
    if (!session.login(reply, m)) return;
  }
  KeyFrameHandler keyFrames(device_);
  RecordQueryHandler records(device_, session.liveOnly());
  for (;;) {
    if (socket.readMessage(reader, m, -1) != DLSDK_OK) return;
    RequestReply reply(socket, m);
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
