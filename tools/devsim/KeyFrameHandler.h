#pragma once
// Key-frame requests on a command connection, for the live streams of a
// channel: the next frame of each such stream becomes a forced key frame.
#include "platform/devlink/WireFormat.h"
#include "tools/devsim/DeviceState.h"
#include "tools/devsim/RequestReply.h"

namespace devsim {

class KeyFrameHandler {
 public:
  explicit KeyFrameHandler(DeviceState& device) : device_(device) {}

  // Answers one request. False when the connection must end.
  bool handle(RequestReply& reply, const devlink::wire::Message& request);

 private:
  DeviceState& device_;
};

}  // namespace devsim
