#include "tools/devsim/LoopCache.h"

#include "platform/devlink/DevLinkSdk.h"

namespace devsim {

std::optional<LoopCache::PictureSize> LoopCache::sizeOf(int streamType) {
  switch (streamType) {
    case DLSDK_STREAM_MAIN:
      return PictureSize{1280, 720};
    case DLSDK_STREAM_SUB:
      return PictureSize{704, 576};
    case DLSDK_STREAM_THIRD:
      return PictureSize{352, 288};
    default:
      return std::nullopt;
  }
}

std::shared_ptr<const EncodedLoop> LoopCache::loopFor(int channel, int streamType, std::string* error) {
  const auto size = sizeOf(streamType);
  if (!size || channel < 0 || channel >= options_.channels) return nullptr;
  std::promise<std::shared_ptr<const EncodedLoop>> promise;
  Pending future;
  bool encodeHere = false;
  {
    std::lock_guard lock(mutex_);
    auto it = loops_.find({channel, streamType});
    if (it == loops_.end()) {
      future = promise.get_future().share();
      loops_.emplace(std::make_pair(channel, streamType), future);
      encodeHere = true;
    } else {
      future = it->second;
    }
  }
  if (encodeHere) {
    promise.set_value(EncodedLoop::encode(size->width, size->height, channel, options_.isH265(channel),
                                          options_.loopSeconds, error, options_.content));
  }
  return future.get();
}

}  // namespace devsim
