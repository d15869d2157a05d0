#include "tools/devsim/KeyFrameHandler.h"

namespace devsim {

namespace wire = devlink::wire;

bool KeyFrameHandler::handle(RequestReply& reply, const wire::Message& request) {
  wire::ForceKeyFrameRequest r;
  if (!wire::decode(request.body, r)) {
    reply.send(DLSDK_ERR_INVALID_PARAMETER);
    return false;
  }
  if (r.channel >= device_.options().channels) return reply.send(DLSDK_ERR_INVALID_PARAMETER);
  device_.requestKeyFrame(r.channel);
  return reply.send(DLSDK_OK);
}

}  // namespace devsim
