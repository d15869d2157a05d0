#pragma once
// What a media connection streams: live pictures or a recorded range. The
// connection's pump (MediaConnection) owns the socket, the output and the
// waiting; a source only decides which frames are due, how long the pump
// may sleep, and what a control request does.
//
// Threads: a source belongs to its connection's thread alone.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/devlink/WireFormat.h"
#include "tools/devsim/EncodedLoop.h"
#include "tools/devsim/StreamOutput.h"

namespace devsim {

class MediaSource {
 public:
  using Clock = std::chrono::steady_clock;

  virtual ~MediaSource() = default;

  // "live" or "history", for the log.
  virtual const char* name() const = 0;
  virtual int channel() const = 0;
  virtual int streamType() const = 0;

  // Called once, after the client has its stream information and before
  // the first produce(): the loop whose frames the source sends.
  virtual void start(std::shared_ptr<const EncodedLoop> loop) = 0;
  // Adds the frames due at `now` to `out`.
  virtual void produce(Clock::time_point now, StreamOutput& out) = 0;
  // How long the pump may wait for the client before produce() must run
  // again, given what is still queued: -1 for as long as it takes, else
  // milliseconds.
  virtual int pollTimeout(size_t queued) const = 0;
  // Applies one control request; the result code to answer.
  virtual int control(const devlink::wire::ControlRequest& request) = 0;

 protected:
  // Milliseconds from now until `t`, 0 when past, at most a second.
  static int msUntil(Clock::time_point t) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
    return ms <= 0 ? 0 : static_cast<int>(std::min<int64_t>(ms, 1000));
  }
};

}  // namespace devsim
