#pragma once
// The encoded picture loops of every channel and stream kind, each encoded
// once, on first use, by the connection thread that first asks for it;
// others asking meanwhile wait for that one encoding.
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "tools/devsim/DevSimOptions.h"
#include "tools/devsim/EncodedLoop.h"

namespace devsim {

class LoopCache {
 public:
  struct PictureSize {
    int width;
    int height;
  };
  // The picture size of a stream kind (1 main, 4 sub, 5 third); nothing for
  // any other kind.
  static std::optional<PictureSize> sizeOf(int streamType);

  explicit LoopCache(const DevSimOptions& options) : options_(options) {}

  // The loop of a channel's stream kind; null (and why in *error, on the
  // thread that tried the encoding) when the channel or kind is unknown or
  // encoding fails. A failed encoding is not retried.
  std::shared_ptr<const EncodedLoop> loopFor(int channel, int streamType, std::string* error);

 private:
  using Pending = std::shared_future<std::shared_ptr<const EncodedLoop>>;

  const DevSimOptions& options_;
  std::mutex mutex_;
  std::map<std::pair<int, int>, Pending> loops_;  // by (channel, stream type); guarded by mutex_
};

}  // namespace devsim
