#include "platform/sockhub/WebSocketSession.h"

#include <algorithm>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/websocket.hpp>

#include "platform/sockhub/ConnectionWorker.h"
#include "platform/sockhub/SharedState.h"

namespace sockhub {
namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;

WebSocketSession::WebSocketSession(SharedState& state, beast::tcp_stream&& stream, std::shared_ptr<void> slot,
                                   int32_t clientPort)
    : state_(state),
      clientPort_(clientPort),
      ws_(std::move(stream)),
      keepAlive_(ws_.get_executor()),
      slot_(std::move(slot)) {
  state_.sessionCreated();
}

WebSocketSession::~WebSocketSession() {
  // The session may end without its read loop having reported it (Stop
  // destroys pending handlers); the worker still learns of the end.
  if (worker_) worker_->finish();
  state_.sessionDestroyed();
}

void WebSocketSession::run(beast::http::request<beast::http::empty_body> request) {
  const ServerOptions& limits = state_.options();
  // The WebSocket layer keeps its own timers from here on.
  beast::get_lowest_layer(ws_).expires_never();
  websocket::stream_base::timeout timeouts{};
  timeouts.handshake_timeout = limits.handshakeTimeout;
  timeouts.idle_timeout = websocket::stream_base::none();
  timeouts.keep_alive_pings = false;
  ws_.set_option(timeouts);
  ws_.read_message_max(limits.maxMessageBytes);
  // Pongs, pings and close frames count as signs of life as much as
  // messages do. The callback runs on the strand, inside a read.
  ws_.control_callback(
      [this](websocket::frame_type, beast::string_view) { lastHeard_ = std::chrono::steady_clock::now(); });
  ws_.async_accept(request, beast::bind_front_handler(&WebSocketSession::onAccept, shared_from_this()));
}

void WebSocketSession::onAccept(beast::error_code ec) {
  if (ec) return;  // a refused or broken handshake: the socket closes with the session
  connectionId_ = SharedState::allocateConnectionId();
  if (connectionId_ == 0) return;
  boost::asio::io_context* ioc = state_.ioContext();
  if (ioc == nullptr) return;  // the server is stopping
  try {
    worker_ = std::make_shared<ConnectionWorker>(state_, *ioc, connectionId_, clientPort_, slot_);
    state_.adoptWorker(worker_);
  } catch (...) {
    if (worker_) worker_->finish();
    return;
  }
  if (!state_.registerSession(connectionId_, shared_from_this())) {
    doClose(websocket::close_code::going_away);
    return;
  }
  ws_.text(true);
  lastHeard_ = std::chrono::steady_clock::now();
  nextPing_ = lastHeard_ + state_.options().pingInterval;
  armKeepAlive();
  doRead();
}

void WebSocketSession::armKeepAlive() {
  keepAlive_.expires_at(std::min(nextPing_, lastHeard_ + state_.options().idleTimeout));
  keepAlive_.async_wait(beast::bind_front_handler(&WebSocketSession::onKeepAlive, shared_from_this()));
}

void WebSocketSession::onKeepAlive(beast::error_code ec) {
  if (ec || closing_ || ended_) return;
  const auto now = std::chrono::steady_clock::now();
  // While reading is paused for a full handler queue the peer's frames wait
  // in the socket: that silence is ours, not the peer's.
  if (readPaused_) lastHeard_ = now;
  if (now - lastHeard_ >= state_.options().idleTimeout) {
    // A peer that answered no ping would not answer a close frame either:
    // the connection is cut, which frees its place at once.
    drop();
    return;
  }
  if (now >= nextPing_) {
    nextPing_ = now + state_.options().pingInterval;
    if (!pinging_) {
      pinging_ = true;
      ws_.async_ping({}, [self = shared_from_this()](beast::error_code) { self->pinging_ = false; });
    }
  }
  armKeepAlive();
}

void WebSocketSession::doRead() {
  ws_.async_read(buffer_, beast::bind_front_handler(&WebSocketSession::onRead, shared_from_this()));
}

void WebSocketSession::onRead(beast::error_code ec, size_t) {
  if (ec) {
    // The peer closed or dropped the connection, or broke the protocol;
    // Beast has already answered a protocol error with its close frame.
    // Nobody will read what is still queued.
    closing_ = true;
    discardQueuedWrites();
    endReading();
    return;
  }
  if (ws_.got_binary()) {
    buffer_.clear();
    doClose(websocket::close_code::unknown_data);
    return;
  }
  lastHeard_ = std::chrono::steady_clock::now();
  std::string text = beast::buffers_to_string(buffer_.data());
  buffer_.clear();
  // Keep the buffer from holding on to the largest message ever received.
  if (buffer_.capacity() > 64 * 1024) buffer_.shrink_to_fit();
  if (worker_->push(std::move(text))) {
    doRead();
  } else {
    readPaused_ = true;
  }
}

void WebSocketSession::resumeRead() {
  net::post(ws_.get_executor(), [self = shared_from_this()] {
    if (!self->readPaused_ || self->closing_ || self->ended_) return;
    self->readPaused_ = false;
    self->doRead();
  });
}

int WebSocketSession::send(std::string message) {
  const size_t size = message.size();
  const size_t bound = state_.options().maxUnsentBytes;
  if (size > bound) return SOCKHUB_ERR_TOO_LARGE;
  if (dropped_.load()) return SOCKHUB_ERR_NO_CONNECTION;
  if (unsentBytes_.fetch_add(size) + size > bound) {
    // A peer that does not read its messages would make us hold them
    // without end; it loses its connection instead.
    unsentBytes_.fetch_sub(size);
    if (!dropped_.exchange(true)) {
      net::post(ws_.get_executor(), [self = shared_from_this()] { self->drop(); });
    }
    return SOCKHUB_ERR_NO_CONNECTION;
  }
  net::post(ws_.get_executor(), [self = shared_from_this(), m = std::move(message)]() mutable {
    self->queueWrite(std::move(m));
  });
  return SOCKHUB_OK;
}

void WebSocketSession::queueWrite(std::string message) {
  if (closing_) {
    unsentBytes_.fetch_sub(message.size());
    return;
  }
  writeQueue_.push_back(std::move(message));
  if (!writing_) doWrite();
}

void WebSocketSession::doWrite() {
  writing_ = true;
  ws_.async_write(net::buffer(writeQueue_.front()),
                  beast::bind_front_handler(&WebSocketSession::onWrite, shared_from_this()));
}

void WebSocketSession::onWrite(beast::error_code ec, size_t) {
  writing_ = false;
  unsentBytes_.fetch_sub(writeQueue_.front().size());
  writeQueue_.pop_front();
  if (ec) {
    drop();
    return;
  }
  if (closing_) {
    // A close started while this write was in flight; it may go ahead now.
    return;
  }
  if (!writeQueue_.empty()) doWrite();
}

void WebSocketSession::close() {
  net::post(ws_.get_executor(),
            [self = shared_from_this()] { self->doClose(websocket::close_code::going_away); });
}

void WebSocketSession::doClose(websocket::close_code code) {
  if (closing_) return;
  closing_ = true;
  discardQueuedWrites();
  endReading();
  ws_.async_close(code, [self = shared_from_this()](beast::error_code) {
    // Closed cleanly or not: the socket goes with the session.
    beast::error_code ignored;
    beast::get_lowest_layer(self->ws_).socket().close(ignored);
  });
}

void WebSocketSession::discardQueuedWrites() {
  // Queued output is given up; a message being written stays until its
  // handler runs.
  const size_t keep = writing_ ? 1 : 0;
  for (size_t i = keep; i < writeQueue_.size(); ++i) unsentBytes_.fetch_sub(writeQueue_[i].size());
  writeQueue_.erase(writeQueue_.begin() + static_cast<std::ptrdiff_t>(std::min(keep, writeQueue_.size())),
                    writeQueue_.end());
}

void WebSocketSession::drop() {
  closing_ = true;
  discardQueuedWrites();
  endReading();
  beast::error_code ignored;
  beast::get_lowest_layer(ws_).socket().shutdown(net::ip::tcp::socket::shutdown_both, ignored);
  beast::get_lowest_layer(ws_).socket().close(ignored);
}

void WebSocketSession::endReading() {
  if (ended_) return;
  ended_ = true;
  keepAlive_.cancel();
  // The worker first: once the connection has left the registry its queued
  // messages are gone too.
  if (worker_) worker_->finish();
  if (connectionId_ != 0) state_.unregisterSession(connectionId_);
}

}  // namespace sockhub
