#pragma once
// Record queries on a command connection: which recordings of a channel
// lie in a time window, from the device's recording schedule.
#include "platform/devlink/WireFormat.h"
#include "tools/devsim/DeviceState.h"
#include "tools/devsim/RequestReply.h"

namespace devsim {

class RecordQueryHandler {
 public:
  // `liveOnly`: the session's account may not see recordings.
  RecordQueryHandler(DeviceState& device, bool liveOnly) : device_(device), liveOnly_(liveOnly) {}

  // Answers one query. False when the connection must end.
  bool handle(RequestReply& reply, const devlink::wire::Message& request);

 private:
  DeviceState& device_;
  const bool liveOnly_;
};

}  // namespace devsim
