#include "platform/sockhub/SharedState.h"

#include <cstdint>
#include <limits>

#include "platform/sockhub/ConnectionWorker.h"
#include "platform/sockhub/WebSocketSession.h"

namespace sockhub {

SharedState::SharedState(const ServerOptions& options) : options_(options) {}

SharedState::~SharedState() { endAllWorkers(); }

void SharedState::setReceiver(SockHubReceiveFn fn) {
  {
    std::lock_guard lock(callbackMutex_);
    receiver_.store(fn);
  }
  callbackChanged_.notify_all();
}

void SharedState::setClientAction(SockHubClientActionFn fn) { clientAction_.store(fn); }

SockHubReceiveFn SharedState::waitForReceiver() {
  if (SockHubReceiveFn fn = receiver_.load()) return fn;
  std::unique_lock lock(callbackMutex_);
  callbackChanged_.wait(lock, [&] { return receiver_.load() != nullptr || stopping_.load(); });
  return receiver_.load();
}

std::shared_ptr<void> SharedState::tryTakeSlot() {
  size_t taken = slots_.load();
  do {
    if (taken >= options_.maxConnections) return nullptr;
  } while (!slots_.compare_exchange_weak(taken, taken + 1));
  try {
    // The pointer only marks the slot as taken (a null one would test false).
    return std::shared_ptr<void>(static_cast<void*>(this), [this](void*) { slots_.fetch_sub(1); });
  } catch (...) {
    slots_.fetch_sub(1);
    return nullptr;
  }
}

int32_t SharedState::allocateConnectionId() {
  static std::atomic<int64_t> next{1};
  const int64_t id = next.fetch_add(1);
  return id > std::numeric_limits<int32_t>::max() ? 0 : static_cast<int32_t>(id);
}

void SharedState::open() {
  {
    std::lock_guard lock(callbackMutex_);
    stopping_.store(false, std::memory_order_release);
  }
  std::lock_guard lock(registryMutex_);
  open_ = true;
}

void SharedState::beginStop() {
  {
    std::lock_guard lock(callbackMutex_);
    stopping_.store(true, std::memory_order_release);
  }
  callbackChanged_.notify_all();
}

void SharedState::closeRegistry() {
  // Released after the lock: the last owner of a session may be this map.
  std::map<int32_t, std::shared_ptr<WebSocketSession>> forgotten;
  std::lock_guard lock(registryMutex_);
  open_ = false;
  sessions_.swap(forgotten);
}

bool SharedState::registerSession(int32_t id, const std::shared_ptr<WebSocketSession>& session) {
  std::lock_guard lock(registryMutex_);
  if (!open_ || stopping()) return false;
  sessions_[id] = session;
  return true;
}

void SharedState::unregisterSession(int32_t id) {
  std::shared_ptr<WebSocketSession> released;  // destroyed after the lock
  std::lock_guard lock(registryMutex_);
  const auto it = sessions_.find(id);
  if (it == sessions_.end()) return;
  released = std::move(it->second);
  sessions_.erase(it);
}

int SharedState::send(int32_t id, std::string message) {
  // The post happens under the lock: once closeRegistry() has run, nothing
  // reaches the I/O context that Stop is about to destroy.
  std::lock_guard lock(registryMutex_);
  if (!open_) return SOCKHUB_ERR_NOT_STARTED;
  const auto it = sessions_.find(id);
  if (it == sessions_.end()) return SOCKHUB_ERR_NO_CONNECTION;
  return it->second->send(std::move(message));
}

void SharedState::resumeRead(int32_t id) {
  std::lock_guard lock(registryMutex_);
  if (!open_) return;
  const auto it = sessions_.find(id);
  if (it == sessions_.end()) return;
  it->second->resumeRead();
}

void SharedState::closeAllSessions() {
  std::lock_guard lock(registryMutex_);
  for (const auto& [id, session] : sessions_) session->close();
}

void SharedState::sessionCreated() {
  std::lock_guard lock(lifeMutex_);
  ++liveSessions_;
}

void SharedState::sessionDestroyed() {
  {
    std::lock_guard lock(lifeMutex_);
    --liveSessions_;
  }
  lifeChanged_.notify_all();
}

bool SharedState::waitNoSessions(std::chrono::milliseconds timeout) {
  std::unique_lock lock(lifeMutex_);
  return lifeChanged_.wait_for(lock, timeout, [&] { return liveSessions_ == 0; });
}

void SharedState::adoptWorker(std::shared_ptr<ConnectionWorker> worker) {
  std::lock_guard lock(workersMutex_);
  std::erase_if(workers_, [](const auto& w) { return w->done(); });
  workers_.push_back(std::move(worker));
}

void SharedState::endAllWorkers() {
  std::vector<std::shared_ptr<ConnectionWorker>> all;
  {
    std::lock_guard lock(workersMutex_);
    all.swap(workers_);
  }
  for (const auto& worker : all) worker->endHere();
}

int32_t SharedState::addQuestion(const std::shared_ptr<HttpSession>& session) {
  std::lock_guard lock(questionsMutex_);
  // Forget the questions whose connections went away unanswered.
  std::erase_if(questions_, [](const auto& entry) { return entry.second.expired(); });
  if (nextQuestion_ <= 0) return 0;
  const int32_t id = nextQuestion_;
  nextQuestion_ = id == INT32_MAX ? 0 : id + 1;
  questions_[id] = session;
  return id;
}

std::shared_ptr<HttpSession> SharedState::takeQuestion(int32_t id) {
  std::lock_guard lock(questionsMutex_);
  const auto it = questions_.find(id);
  if (it == questions_.end()) return nullptr;
  std::shared_ptr<HttpSession> session = it->second.lock();
  questions_.erase(it);
  return session;
}

void SharedState::setSite(std::shared_ptr<const StaticSite> site) {
  std::lock_guard lock(questionsMutex_);
  site_ = std::move(site);
}

std::shared_ptr<const StaticSite> SharedState::site() const {
  std::lock_guard lock(questionsMutex_);
  return site_;
}

}  // namespace sockhub
