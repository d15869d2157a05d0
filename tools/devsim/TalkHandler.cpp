#include "tools/devsim/TalkHandler.h"

#include "tools/devsim/RequestReply.h"

namespace devsim {

namespace wire = devlink::wire;

void TalkHandler::serve(devlink::Socket& socket, wire::MessageReader& reader, const wire::Message& open) {
  RequestReply reply(socket, open);
  wire::TalkOpenRequest r;
  if (!wire::decode(open.body, r)) {
    reply.send(DLSDK_ERR_INVALID_PARAMETER);
    return;
  }
  if (const int rc = device_.sessions().check(r.token, true); rc != DLSDK_OK) {
    reply.send(rc);
    return;
  }
  if (r.codec == DLSDK_TALK_G726 || r.codec == DLSDK_TALK_AAC) {
    reply.send(DLSDK_ERR_NOT_SUPPORTED);
    return;
  }
  if (r.codec != DLSDK_TALK_G711A && r.codec != DLSDK_TALK_G711U) {
    reply.send(DLSDK_ERR_INVALID_PARAMETER);
    return;
  }
  if (!reply.send(DLSDK_OK)) return;
  device_.log("talk open");
  wire::Message m;
  while (socket.readMessage(reader, m, -1) == DLSDK_OK) {
    if (m.header.type != wire::kTalkData) return;
    device_.takeTalk(r.codec, m.body);
  }
}

}  // namespace devsim
