#include "platform/sockhub/Listener.h"

#include <fcntl.h>

#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <chrono>

#include "platform/sockhub/HttpSession.h"
#include "platform/sockhub/SharedState.h"

namespace sockhub {
namespace beast = boost::beast;
namespace net = boost::asio;
using tcp = net::ip::tcp;

Listener::Listener(net::io_context& ioc, SharedState& state, std::shared_ptr<const HandshakePolicy> policy)
    : ioc_(ioc),
      strand_(net::make_strand(ioc)),
      state_(state),
      policy_(std::move(policy)),
      acceptor_(strand_),
      retryTimer_(strand_) {}

beast::error_code Listener::open(uint16_t port) {
  const tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), port);
  beast::error_code ec;
  acceptor_.open(endpoint.protocol(), ec);
  if (ec) return ec;
  // Asio (1.74) opens and accepts sockets without close-on-exec; a program
  // we start must never inherit the listening port or a connection.
  ::fcntl(acceptor_.native_handle(), F_SETFD, FD_CLOEXEC);
  // A restart on the same port must not wait for old connections in
  // TIME_WAIT.
  acceptor_.set_option(net::socket_base::reuse_address(true), ec);
  if (ec) return ec;
  acceptor_.bind(endpoint, ec);
  if (ec) return ec;
  acceptor_.listen(net::socket_base::max_listen_connections, ec);
  return ec;
}

uint16_t Listener::port() const {
  beast::error_code ec;
  const tcp::endpoint endpoint = acceptor_.local_endpoint(ec);
  return ec ? 0 : endpoint.port();
}

void Listener::run() {
  net::post(strand_, [self = shared_from_this()] { self->doAccept(); });
}

void Listener::close() {
  net::post(strand_, [self = shared_from_this()] {
    beast::error_code ignored;
    self->acceptor_.close(ignored);
    self->retryTimer_.cancel();
  });
}

void Listener::doAccept() {
  if (!acceptor_.is_open()) return;
  acceptor_.async_accept(net::make_strand(ioc_), beast::bind_front_handler(&Listener::onAccept, shared_from_this()));
}

void Listener::onAccept(beast::error_code ec, tcp::socket socket) {
  if (ec == net::error::operation_aborted || !acceptor_.is_open()) return;
  if (!ec) ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC);
  if (ec) {
    // Out of descriptors or memory: try again shortly instead of spinning.
    retryTimer_.expires_after(std::chrono::milliseconds(50));
    retryTimer_.async_wait([self = shared_from_this()](beast::error_code waitError) {
      if (!waitError) self->doAccept();
    });
    return;
  }
  std::shared_ptr<void> slot = state_.stopping() ? nullptr : state_.tryTakeSlot();
  if (slot) {
    try {
      std::make_shared<HttpSession>(state_, policy_, std::move(socket), std::move(slot))->run();
    } catch (...) {
      // No memory for the session: the connection closes with the socket.
    }
  } else {
    beast::error_code ignored;
    socket.close(ignored);
  }
  doAccept();
}

}  // namespace sockhub
