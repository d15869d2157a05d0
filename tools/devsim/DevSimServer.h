#pragma once
// The simulated device: a command port (login, logout, key-frame requests,
// record queries, talk) and a media port (live and history streams), both
// speaking the DevLink protocol.
//
// Threads: one accept thread per port and one thread per connection. A media
// connection's thread owns its stream completely (pacing, control, output
// queue); the shared state is the session table, the counters and the cache
// of encoded picture loops, each guarded as noted below. stop() shuts every
// socket down, which wakes every thread, and joins them.
#include <atomic>
#include <cstdint>
#include <future>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/devlink/Socket.h"
#include "tools/devsim/DevSimOptions.h"
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
  uint64_t talkBytes() const { return talkBytes_.load(); }
  uint64_t framesSent() const { return framesSent_.load(); }
  uint64_t keyFrameRequests() const { return keyFrameRequests_.load(); }
  int sessionCount() const;
  int streamCount() const { return activeStreams_.load(); }

  // The encoded loop of a channel's stream kind (1 main, 4 sub, 5 third),
  // encoded on first use; null when encoding fails.
  std::shared_ptr<const EncodedLoop> loopFor(int channel, int streamType);

 private:
  struct Session {
    std::string user;
    bool liveOnly = false;
    uint64_t key = 0;
  };
  struct Connection {
    devlink::Socket socket;
    std::thread thread;
    std::atomic<bool> done{false};
  };
  enum class Port { kCommand, kMedia };

  void acceptLoop(devlink::Socket* listener, Port port);
  void reapFinished();
  void serveCommand(devlink::Socket& s);
  void serveTalk(devlink::Socket& s, devlink::wire::MessageReader& reader, const devlink::wire::Message& open);
  void serveMedia(devlink::Socket& s);
  // Checks a media or talk token; 0 when valid, else the code to answer.
  int checkToken(const devlink::wire::SessionToken& token, bool needsFullRights);
  bool reserveStream();
  void log(const std::string& text) const;

  const DevSimOptions options_;
  uint16_t commandPort_ = 0;
  uint16_t mediaPort_ = 0;
  devlink::Socket commandListener_;
  devlink::Socket mediaListener_;
  std::thread commandAcceptThread_;
  std::thread mediaAcceptThread_;
  std::atomic<bool> stopping_{false};

  std::mutex connectionsMutex_;
  std::list<std::unique_ptr<Connection>> connections_;  // guarded by connectionsMutex_

  mutable std::mutex sessionsMutex_;
  std::map<uint32_t, Session> sessions_;  // guarded by sessionsMutex_
  uint32_t nextSessionId_ = 1;            // guarded by sessionsMutex_

  std::mutex loopsMutex_;
  // Keyed by (channel, stream type); the future is shared so that requests
  // for a loop being encoded wait for that one encoding. Guarded by loopsMutex_.
  std::map<std::pair<int, int>, std::shared_future<std::shared_ptr<const EncodedLoop>>> loops_;

  // One counter per channel, bumped by each key-frame request; live streams
  // compare it with the value they last saw. Fixed size, so lock-free.
  std::unique_ptr<std::atomic<uint32_t>[]> forceCounters_;

  std::atomic<int> activeStreams_{0};
  std::atomic<uint64_t> talkBytes_{0};
  std::atomic<uint64_t> framesSent_{0};
  std::atomic<uint64_t> keyFrameRequests_{0};
  // One second of G.711 tone (40 ms frames), for live and history audio.
  std::vector<std::vector<uint8_t>> audioFrames_;
};

}  // namespace devsim
