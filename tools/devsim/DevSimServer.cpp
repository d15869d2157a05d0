#include "tools/devsim/DevSimServer.h"

#include "tools/devsim/CommandConnection.h"
#include "tools/devsim/MediaConnection.h"

namespace devsim {

namespace {

// More connections than this at once (logged in or not) are closed at once.
constexpr size_t kMaxConnections = 512;

}  // namespace

DevSimServer::DevSimServer(DevSimOptions options) : device_(std::move(options)) {}

DevSimServer::~DevSimServer() { stop(); }

bool DevSimServer::start(std::string* error) {
  const DevSimOptions& options = device_.options();
  if (!devlink::Socket::listenOn(options.bindAddress, options.commandPort, commandListener_, commandPort_)) {
    if (error) *error = "cannot listen on " + options.bindAddress + ":" + std::to_string(options.commandPort);
    return false;
  }
  if (!devlink::Socket::listenOn(options.bindAddress, options.mediaPort, mediaListener_, mediaPort_)) {
    commandListener_.close();
    if (error) *error = "cannot listen on " + options.bindAddress + ":" + std::to_string(options.mediaPort);
    return false;
  }
  commandAcceptThread_ = std::thread([this] { acceptLoop(&commandListener_, Port::kCommand); });
  mediaAcceptThread_ = std::thread([this] { acceptLoop(&mediaListener_, Port::kMedia); });
  return true;
}

void DevSimServer::stop() {
  if (stopping_.exchange(true)) return;
  commandListener_.shutdownBoth();
  mediaListener_.shutdownBoth();
  if (commandAcceptThread_.joinable()) commandAcceptThread_.join();
  if (mediaAcceptThread_.joinable()) mediaAcceptThread_.join();
  std::list<std::unique_ptr<Connection>> all;
  {
    std::lock_guard lock(connectionsMutex_);
    for (auto& c : connections_) c->socket.shutdownBoth();
    all.swap(connections_);
  }
  for (auto& c : all) {
    if (c->thread.joinable()) c->thread.join();
  }
  commandListener_.close();
  mediaListener_.close();
}

void DevSimServer::reapFinished() {
  std::list<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard lock(connectionsMutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->done) {
        finished.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished) c->thread.join();
}

void DevSimServer::acceptLoop(devlink::Socket* listener, Port port) {
  for (;;) {
    devlink::Socket client = listener->accept();
    if (!client.valid() || stopping_) return;
    reapFinished();
    std::lock_guard lock(connectionsMutex_);
    if (stopping_) return;
    if (connections_.size() >= kMaxConnections) continue;  // closes the client
    auto conn = std::make_unique<Connection>();
    conn->socket = std::move(client);
    Connection* raw = conn.get();
    connections_.push_back(std::move(conn));
    raw->thread = std::thread([this, raw, port] {
      // Nothing may escape a connection thread: a failure ends that
      // connection only.
      try {
        if (port == Port::kCommand) {
          CommandConnection(device_).serve(raw->socket);
        } else {
          MediaConnection(device_, stopping_).serve(raw->socket);
        }
      } catch (...) {
      }
      // The peer sees the end at once; the descriptor itself is closed when
      // the connection is reaped, so that stop() never shuts down a reused one.
      raw->socket.shutdownBoth();
      raw->done = true;
    });
  }
}

}  // namespace devsim
