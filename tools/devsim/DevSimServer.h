#pragma once
// The simulated device: a command port (login, logout, key-frame requests,
// record queries, talk; CommandConnection) and a media port (live and
// history streams; MediaConnection), both speaking the DevLink protocol.
//
// Threads: one accept thread per port and one thread per connection, which
// serves that connection to its end. What connections share lives in
// DeviceState. stop() shuts every socket down, which wakes every thread,
// and joins them.
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/devlink/Socket.h"
#include "tools/devsim/DevSimOptions.h"
#include "tools/devsim/DeviceState.h"
#include "tools/devsim/EncodedLoop.h"

namespace devsim {

class DevSimServer {
 public:
  explicit DevSimServer(DevSimOptions options);
  ~DevSimServer();
  DevSimServer(const DevSimServer&) = delete;
  DevSimServer& operator=(const DevSimServer&) = delete;

  // Binds both ports and starts accepting. False (and why) when a port
  // cannot be bound.
  bool start(std::string* error);
  // Closes every connection at once, as a device that loses power would,
  // and waits for all threads. Safe to call twice.
  void stop();

  uint16_t commandPort() const { return commandPort_; }
  uint16_t mediaPort() const { return mediaPort_; }

  // Observations for tests and the benchmark.
  uint64_t talkBytes() const { return device_.talkBytes(); }
  // The latest talk bytes received (DeviceState::kKeptTalkBytes at most)
  // and the DLSDK_TALK_* codec they came in.
  std::vector<uint8_t> keptTalk(uint32_t* codec = nullptr) const { return device_.keptTalk(codec); }
  uint64_t framesSent() const { return device_.framesSent(); }
  // The video frames among framesSent (live and recorded pictures, no sound).
  uint64_t picturesSent() const { return device_.picturesSent(); }
  uint64_t keyFrameRequests() const { return device_.keyFrameRequests(); }
  int sessionCount() const { return device_.sessions().size(); }
  int streamCount() const { return device_.streamCount(); }

  // The encoded loop of a channel's stream kind (1 main, 4 sub, 5 third),
  // encoded on first use; null when encoding fails.
  std::shared_ptr<const EncodedLoop> loopFor(int channel, int streamType) {
    return device_.loopFor(channel, streamType);
  }

 private:
  struct Connection {
    devlink::Socket socket;
    std::thread thread;
    std::atomic<bool> done{false};
  };
  enum class Port { kCommand, kMedia };

  void acceptLoop(devlink::Socket* listener, Port port);
  void reapFinished();

  DeviceState device_;
  uint16_t commandPort_ = 0;
  uint16_t mediaPort_ = 0;
  devlink::Socket commandListener_;
  devlink::Socket mediaListener_;
  std::thread commandAcceptThread_;
  std::thread mediaAcceptThread_;
  std::atomic<bool> stopping_{false};

  std::mutex connectionsMutex_;
  std::list<std::unique_ptr<Connection>> connections_;  // guarded by connectionsMutex_
};

}  // namespace devsim
