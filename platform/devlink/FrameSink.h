#pragma once
// Something attached to a media stream that takes every frame before the
// application's media callback: the place where a decoder and renderer plug
// in. Called on the stream's receive thread, in order.
#include "platform/devlink/DevLinkSdk.h"

namespace devlink {

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual void onFrame(const DLSDK_MediaFrame& frame) = 0;
  // The device closed the stream or sent something malformed; no frame follows.
  virtual void onStreamEnd() = 0;
};

}  // namespace devlink
