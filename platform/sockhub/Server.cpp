#include "platform/sockhub/Server.h"

#include <string>
#include <system_error>

#include "platform/sockhub/HttpSession.h"
#include "platform/sockhub/Listener.h"
#include "platform/sockhub/RunnerPool.h"

namespace sockhub {
namespace net = boost::asio;

Server::Server(const ServerOptions& options) : state_(options) {}

Server::~Server() { stop(); }

bool Server::running() const {
  std::lock_guard lock(lifecycleMutex_);
  return ioc_ != nullptr;
}

int Server::configure(const ServerOptions& options) {
  std::lock_guard lock(lifecycleMutex_);
  if (ioc_) return SOCKHUB_ERR_ALREADY_STARTED;
  state_.setOptions(options);
  return SOCKHUB_OK;
}

int Server::start(uint16_t port, HandshakePolicy policy, std::shared_ptr<const StaticSite> site) {
  std::lock_guard lock(lifecycleMutex_);
  if (ioc_) return SOCKHUB_ERR_ALREADY_STARTED;
  try {
    // More than one runner may serve the context (see RunnerPool).
    auto ioc = std::make_unique<net::io_context>();
    auto rules = std::make_shared<HandshakePolicy>(std::move(policy));
    auto listener = std::make_shared<Listener>(*ioc, state_, rules);
    if (listener->open(port)) return SOCKHUB_ERR_BIND;
    // Before the first connection: the server's own pages' origin.
    rules->setOwnPort(listener->port());
    state_.setSite(std::move(site));
    state_.setIoContext(ioc.get());
    state_.open();
    auto runners = std::make_unique<RunnerPool>(*ioc);
    ioc_ = std::move(ioc);
    listener_ = std::move(listener);
    listener_->run();
    if (!runners->start()) {
      runners->join();
      state_.beginStop();
      state_.closeRegistry();
      state_.setIoContext(nullptr);
      listener_.reset();
      ioc_.reset();
      return SOCKHUB_ERR_RESOURCES;
    }
    runners_ = std::move(runners);
    boundPort_.store(listener_->port());
    return SOCKHUB_OK;
  } catch (...) {
    return SOCKHUB_ERR_RESOURCES;
  }
}

int Server::stop() {
  // A callback runs on a runner that stop() would have to join.
  if (RunnerPool::inCallback()) return SOCKHUB_ERR_BUSY;
  std::lock_guard lock(lifecycleMutex_);
  if (!ioc_) return SOCKHUB_ERR_NOT_STARTED;
  // Held messages are dropped and no connection is admitted any more.
  state_.beginStop();
  listener_->close();
  state_.closeAllSessions();
  // Peers get a moment to answer the close frame; then the connections are
  // cut with the I/O context.
  state_.waitNoSessions(state_.options().stopGrace);
  state_.closeRegistry();
  ioc_->stop();
  // Callbacks still running (blocked on something) are waited for.
  runners_->join();
  runners_.reset();
  state_.setIoContext(nullptr);
  // Destroying the context destroys the handlers still pending and with them
  // the remaining sessions; their ends are reported here.
  listener_.reset();
  ioc_.reset();
  state_.endAllWorkers();
  boundPort_.store(0);
  return SOCKHUB_OK;
}

int Server::answerOrigin(int32_t questionId, bool allow) {
  std::shared_ptr<HttpSession> session = state_.takeQuestion(questionId);
  if (!session) return SOCKHUB_ERR_NO_CONNECTION;
  session->answer(allow);
  return SOCKHUB_OK;
}

int Server::send(int32_t connectionId, const char* data, size_t length) {
  if (data == nullptr && length != 0) return SOCKHUB_ERR_INVALID_ARG;
  try {
    return state_.send(connectionId, length == 0 ? std::string() : std::string(data, length));
  } catch (...) {
    return SOCKHUB_ERR_RESOURCES;
  }
}

}  // namespace sockhub
