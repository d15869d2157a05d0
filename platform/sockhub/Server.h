#pragma once
// The WebSocket server behind the SockHub_* functions.
//
// Threads: the runners (RunnerPool) run every socket, each connection on its
// own strand, and the connections' callbacks, each connection's in order
// (ConnectionWorker); normally one runner does it all, and more are called in
// while callbacks block. start() and stop() are for one controlling thread; send() and
// the callback setters may be called from any thread, callbacks included.
// stop() closes every connection, waits for the callbacks in progress, runs
// the ends not yet reported and joins every thread; the server can be started again.
#include <atomic>
#include <boost/asio/io_context.hpp>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/sockhub/HandshakePolicy.h"
#include "platform/sockhub/ServerOptions.h"
#include "platform/sockhub/SharedState.h"

namespace sockhub {

class Listener;
class RunnerPool;
class StaticSite;

class Server {
 public:
  explicit Server(const ServerOptions& options = {});
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Replaces the limits for the next start(); SOCKHUB_ERR_ALREADY_STARTED
  // while serving.
  int configure(const ServerOptions& options);

  // Binds 127.0.0.1:port (0 = a free port). A SockHubResult code.
  // `site`: files served over plain HTTP (null: plain requests get 426).
  int start(uint16_t port, HandshakePolicy policy = HandshakePolicy(),
            std::shared_ptr<const StaticSite> site = nullptr);
  int stop();
  bool running() const;
  uint16_t boundPort() const { return boundPort_.load(); }

  int send(int32_t connectionId, const char* data, size_t length);
  void setReceiver(SockHubReceiveFn fn) { state_.setReceiver(fn); }
  void setClientAction(SockHubClientActionFn fn) { state_.setClientAction(fn); }
  void setOriginJudge(SockHubAskOriginFn fn) { state_.setOriginJudge(fn); }
  // SOCKHUB_OK, or SOCKHUB_ERR_NO_CONNECTION when nobody waits for it.
  int answerOrigin(int32_t questionId, bool allow);

 private:
  SharedState state_;
  mutable std::mutex lifecycleMutex_;             // serialises start() and stop()
  std::unique_ptr<boost::asio::io_context> ioc_;  // guarded by lifecycleMutex_
  std::shared_ptr<Listener> listener_;            // guarded by lifecycleMutex_
  std::unique_ptr<RunnerPool> runners_;           // guarded by lifecycleMutex_
  std::atomic<uint16_t> boundPort_{0};
};

}  // namespace sockhub
