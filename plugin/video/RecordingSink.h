#pragma once
// Where live streams hand every received frame for local recording. This
// base sink records nothing; the recording queue takes its place when the
// library builds one.
//
// Threads: onFrame runs on the SDK's media threads of every live stream,
// start and stop on the cells' UI thread. An implementation guards its own
// state.
#include <cstdint>
#include <string>

#include "platform/devlink/DevLinkSdk.h"

namespace ksplugs {

class LiveStream;

class RecordingSink {
 public:
  RecordingSink() = default;
  virtual ~RecordingSink() = default;
  RecordingSink(const RecordingSink&) = delete;
  RecordingSink& operator=(const RecordingSink&) = delete;

  // Starts recording the stream (keyed by its handle) into one file of at
  // most durationSeconds. 0, or the library's code of why it cannot.
  virtual int start(int channel, LiveStream& stream, uint32_t durationSeconds);
  // Ends the stream's recording; with announce the finished file is offered
  // to the page. 0.
  virtual int stop(int32_t streamHandle, bool announce);
  // The same, answering in `path` where the recording went (empty when
  // nothing was recorded). The base forwards to stop() and answers "".
  virtual int stopAt(int32_t streamHandle, bool announce, std::string& path);
  // Every frame of every open live stream.
  virtual void onFrame(int32_t streamHandle, const DLSDK_MediaFrame& frame);
  // The same with the stream's picture size as last parsed (0 while
  // unknown); what live streams call. The base forwards to onFrame().
  virtual void onSizedFrame(int32_t streamHandle, const DLSDK_MediaFrame& frame, int width, int height);
};

}  // namespace ksplugs
