#pragma once
// The streams that were opened for display (DLSDK_StreamOpenEx), by stream
// handle. A stream's renderer leaves the table when its handle is closed.
//
// Threads: any; mutex_ guards the map. Renderers are shut down outside it.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/devlink/AudioSink.h"
#include "platform/devlink/StreamRenderer.h"

namespace devlink {

class DisplayTable {
 public:
  using SinkFactory = std::function<std::shared_ptr<AudioSink>()>;

  static DisplayTable& instance();

  // The renderer of a handle, or null.
  std::shared_ptr<StreamRenderer> find(int32_t handle) const;
  // Enters `renderer` unless the handle has one already; answers the one
  // in the table.
  std::shared_ptr<StreamRenderer> insert(int32_t handle, std::shared_ptr<StreamRenderer> renderer);
  // Takes the handle's renderer out (null when it has none).
  std::shared_ptr<StreamRenderer> remove(int32_t handle);
  std::vector<std::shared_ptr<StreamRenderer>> removeAll();

  // Makes the audio sink of every stream opened from now on. The default
  // makes a NullAudioSink. A null factory restores the default.
  void setSinkFactory(SinkFactory factory);
  std::shared_ptr<AudioSink> makeSink() const;

 private:
  mutable std::mutex mutex_;
  std::map<int32_t, std::shared_ptr<StreamRenderer>> renderers_;  // guarded by mutex_
  SinkFactory sinkFactory_;                                       // guarded by mutex_
};

}  // namespace devlink
