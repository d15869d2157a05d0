#pragma once
// Where live streams hand every received frame for local recording, and the
// process-wide file counter that numbers recordings and snapshots. The
// built-in sink records nothing; the recording queue installs itself in its
// place when it starts.
//
// Threads: onFrame runs on the SDK's media threads of every live stream,
// start and stop on the command or UI thread. The installed sink is an
// atomic pointer; the counter is an atomic increment.
#include <atomic>
#include <cstdint>

#include "platform/devlink/DevLinkSdk.h"

namespace ksplugs {

class LiveStream;

class RecordingSink {
 public:
  RecordingSink() = default;
  virtual ~RecordingSink() = default;
  RecordingSink(const RecordingSink&) = delete;
  RecordingSink& operator=(const RecordingSink&) = delete;

  // Starts recording the stream (keyed by its handle) in segments of at most
  // durationSeconds. 0.
  virtual int start(int channel, LiveStream& stream, uint32_t durationSeconds);
  // Ends the stream's recording; with announce the finished file is offered
  // to the page. 0.
  virtual int stop(int32_t streamHandle, bool announce);
  // Every frame of every open live stream.
  virtual void onFrame(int32_t streamHandle, const DLSDK_MediaFrame& frame);

  // The next file number: 1 for the first file of the process.
  int32_t nextFileNumber() { return fileCounter_.fetch_add(1, std::memory_order_relaxed) + 1; }
  // Sets the counter so that the next number is value + 1.
  void setFileCounter(int32_t value) { fileCounter_.store(value, std::memory_order_relaxed); }

  // The installed sink (the built-in one until another is installed).
  static RecordingSink& current();
  // Installs a sink that outlives every stream; null restores the built-in
  // one.
  static void install(RecordingSink* sink);

 private:
  std::atomic<int32_t> fileCounter_{0};
};

}  // namespace ksplugs
