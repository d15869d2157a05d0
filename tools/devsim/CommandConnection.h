#pragma once
// One connection to the command port. Its first message decides what it
// is: a talk connection (TalkHandler), or a login whose session then takes
// logout, key-frame requests and record queries, each kind answered by its
// own handler, until logout or the client goes away.
#include "platform/devlink/Socket.h"
#include "tools/devsim/DeviceState.h"

namespace devsim {

class CommandConnection {
 public:
  explicit CommandConnection(DeviceState& device) : device_(device) {}

  // Serves the connection to its end, on the calling thread.
  void serve(devlink::Socket& socket);

 private:
  DeviceState& device_;
};

}  // namespace devsim
