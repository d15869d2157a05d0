#pragma once
// One connection to the media port, and the one pump that serves every
// kind of stream on it. The first message opens a live or a history stream
// (LiveSource, HistorySource); once the client has the stream information,
// the pump alternates between asking the source for the frames that are
// due, sending what the socket takes, and waiting (for the source's next
// frame, for room in the socket, or for a control request, which it hands
// to the source and answers in line with the frames).
//
// Threads: everything here runs on the connection's own thread; the shared
// parts are in DeviceState. `stopping` is read between rounds.
#include <atomic>

#include "platform/devlink/Socket.h"
#include "platform/devlink/WireFormat.h"
#include "tools/devsim/DeviceState.h"
#include "tools/devsim/MediaSource.h"
#include "tools/devsim/StreamOutput.h"

namespace devsim {

class MediaConnection {
 public:
  MediaConnection(DeviceState& device, const std::atomic<bool>& stopping) : device_(device), stopping_(stopping) {}

  // Serves the connection to its end, on the calling thread.
  void serve(devlink::Socket& socket);

 private:
  void pump(devlink::Socket& socket, devlink::wire::MessageReader& reader, MediaSource& source, StreamOutput& out);
  // A stalled stream: reads and drops whatever the client sends, answers
  // nothing, until the client goes or the device stops.
  void stall(devlink::Socket& socket);

  DeviceState& device_;
  const std::atomic<bool>& stopping_;
};

}  // namespace devsim
