#pragma once
// What the server's parts share: the callbacks, the connection bound, the
// registry of open WebSocket sessions by connection id, and the connection
// workers that still have to be joined.
//
// Lock order: registryMutex_ before a session's or a worker's own lock;
// callbackMutex_, workersMutex_, lifeMutex_ and questionsMutex_ are never
// held while taking another lock. A session's destructor takes only lifeMutex_, so a session
// may be released anywhere, even under registryMutex_.
#include <atomic>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sockhub/ServerOptions.h"
#include "platform/sockhub/SockHub.h"

namespace sockhub {

class ConnectionWorker;
class HttpSession;
class StaticSite;
class WebSocketSession;

class SharedState {
 public:
  explicit SharedState(const ServerOptions& options);
  ~SharedState();

  const ServerOptions& options() const { return options_; }
  // Only while the server is stopped: no thread of it runs then.
  void setOptions(const ServerOptions& options) { options_ = options; }

  // Callbacks (any thread).
  void setReceiver(SockHubReceiveFn fn);
  void setClientAction(SockHubClientActionFn fn);
  SockHubClientActionFn clientAction() const { return clientAction_.load(); }
  // The receive callback; while none is registered, waits until one is or
  // the server stops (then null).
  SockHubReceiveFn waitForReceiver();

  // Questions about origins: the judge is asked about an origin nobody
  // listed; its answer comes back by question id (any thread).
  void setOriginJudge(SockHubAskOriginFn fn) { originJudge_.store(fn); }
  SockHubAskOriginFn originJudge() const { return originJudge_.load(); }
  // A new question of a handshaking session; 0 once the id range is spent.
  int32_t addQuestion(const std::shared_ptr<HttpSession>& session);
  // The session waiting for the answer, taken out; null when the question
  // is unknown, answered, timed out or its connection is gone.
  std::shared_ptr<HttpSession> takeQuestion(int32_t id);

  // The files served over plain HTTP while serving (null: none).
  void setSite(std::shared_ptr<const StaticSite> site);
  std::shared_ptr<const StaticSite> site() const;

  // A place in the connection bound, held from accept until the connection's
  // last owner lets go; null when the bound is reached.
  std::shared_ptr<void> tryTakeSlot();

  // Connection ids start at 1 and are never reused in the process, across
  // every server; 0 once the 32-bit range is spent.
  static int32_t allocateConnectionId();

  // Run state. open() before serving; beginStop() releases held messages and
  // refuses new connections; closeRegistry() refuses every further send and
  // forgets the sessions.
  void open();
  void beginStop();
  bool stopping() const { return stopping_.load(std::memory_order_acquire); }
  void closeRegistry();

  // Registry of sessions whose handshake completed. A false result means the
  // server is stopping: the caller closes the connection.
  bool registerSession(int32_t id, const std::shared_ptr<WebSocketSession>& session);
  void unregisterSession(int32_t id);
  // Queues a message to a registered session (any thread).
  int send(int32_t id, std::string message);
  // A worker has room again: the session reads on.
  void resumeRead(int32_t id);
  // Starts a closing handshake on every registered session.
  void closeAllSessions();

  // Live WebSocket sessions (objects, not registry entries).
  void sessionCreated();
  void sessionDestroyed();
  // True when no session is left before the deadline.
  bool waitNoSessions(std::chrono::milliseconds timeout);

  // The I/O context the connections' callbacks run on; set by the server
  // before it accepts and cleared after its runners have stopped.
  void setIoContext(boost::asio::io_context* ioc) { ioc_.store(ioc); }
  boost::asio::io_context* ioContext() const { return ioc_.load(); }

  // Workers: kept until their last callback has run. adoptWorker also
  // forgets those that are done.
  void adoptWorker(std::shared_ptr<ConnectionWorker> worker);
  // Once the runners have stopped: ends every connection whose end was not
  // reported yet, running its client-action callback on this thread.
  void endAllWorkers();

 private:
  // Written by setOptions() while no thread of the server runs (the start
  // that follows orders it before them); read-only while serving.
  ServerOptions options_;

  std::atomic<SockHubReceiveFn> receiver_{nullptr};  // written under callbackMutex_
  std::atomic<SockHubClientActionFn> clientAction_{nullptr};
  std::mutex callbackMutex_;
  std::condition_variable callbackChanged_;  // receiver set or stop begun
  std::atomic<bool> stopping_{false};        // written under callbackMutex_

  std::atomic<size_t> slots_{0};  // connections holding a slot

  std::atomic<SockHubAskOriginFn> originJudge_{nullptr};
  mutable std::mutex questionsMutex_;
  std::map<int32_t, std::weak_ptr<HttpSession>> questions_;  // guarded by questionsMutex_
  int32_t nextQuestion_ = 1;                                 // guarded by questionsMutex_
  std::shared_ptr<const StaticSite> site_;                   // guarded by questionsMutex_

  std::mutex registryMutex_;
  bool open_ = false;  // guarded by registryMutex_
  // Owning: a session whose reading is paused has no pending operation that
  // would keep it alive. The entry goes when the session stops reading.
  std::map<int32_t, std::shared_ptr<WebSocketSession>> sessions_;  // guarded by registryMutex_

  std::mutex lifeMutex_;
  std::condition_variable lifeChanged_;
  size_t liveSessions_ = 0;  // guarded by lifeMutex_

  std::atomic<boost::asio::io_context*> ioc_{nullptr};

  std::mutex workersMutex_;
  std::vector<std::shared_ptr<ConnectionWorker>> workers_;  // guarded by workersMutex_
};

}  // namespace sockhub
