#pragma once
// A talk connection: opened on the command port with a session token and a
// codec, then a run of talk data that the device counts, keeping the
// latest seconds of it for tests to listen to.
#include "platform/devlink/Socket.h"
#include "platform/devlink/WireFormat.h"
#include "tools/devsim/DeviceState.h"

namespace devsim {

class TalkHandler {
 public:
  explicit TalkHandler(DeviceState& device) : device_(device) {}

  // Answers the open request and, once open, takes talk data until the
  // client sends anything else or goes away.
  void serve(devlink::Socket& socket, devlink::wire::MessageReader& reader, const devlink::wire::Message& open);

 private:
  DeviceState& device_;
};

}  // namespace devsim
