#include "platform/webframework/Listener.h"

#include <fcntl.h>

#include <boost/asio/socket_base.hpp>
#include <boost/asio/strand.hpp>

#include "platform/webframework/HttpSession.h"

namespace webframework {
namespace net = boost::asio;
using tcp = net::ip::tcp;

Listener::Listener(net::io_context& ioc, const HandlerTable& table, size_t maxConnections,
                   std::chrono::milliseconds idleTimeout)
    : ioc_(ioc),
      table_(table),
      maxConnections_(maxConnections),
      idleTimeout_(idleTimeout),
      acceptor_(ioc),
      retryTimer_(ioc) {}

boost::system::error_code Listener::open(const tcp::endpoint& endpoint) {
  boost::system::error_code ec;
  acceptor_.open(endpoint.protocol(), ec);
  if (ec) return ec;
  // Asio (1.74) opens and accepts sockets without close-on-exec; a program
  // we start must never inherit the listening port or a connection.
  ::fcntl(acceptor_.native_handle(), F_SETFD, FD_CLOEXEC);
  // No SO_REUSEADDR: a port that another socket holds must fail to bind, so
  // that the caller picks another one instead of sharing it.
  acceptor_.bind(endpoint, ec);
  if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    boost::system::error_code ignored;
    acceptor_.close(ignored);
  }
  return ec;
}

uint16_t Listener::port() const {
  boost::system::error_code ec;
  const tcp::endpoint local = acceptor_.local_endpoint(ec);
  return ec ? 0 : local.port();
}

void Listener::run() { doAccept(); }

void Listener::close() {
  boost::system::error_code ignored;
  acceptor_.close(ignored);
  retryTimer_.cancel();
}

void Listener::doAccept() {
  acceptor_.async_accept(net::make_strand(ioc_),
                         [self = shared_from_this()](boost::system::error_code ec, tcp::socket socket) {
                           self->onAccept(ec, std::move(socket));
                         });
}

void Listener::onAccept(boost::system::error_code ec, tcp::socket socket) {
  if (ec == net::error::operation_aborted || !acceptor_.is_open()) return;
  if (!ec) ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC);
  if (ec) {
    // Out of descriptors or a similar passing shortage: try again shortly
    // instead of spinning on the same failure.
    retryTimer_.expires_after(std::chrono::milliseconds(100));
    retryTimer_.async_wait([self = shared_from_this()](boost::system::error_code waitError) {
      if (!waitError) self->doAccept();
    });
    return;
  }
  if (active_->load() >= maxConnections_) {
    boost::system::error_code ignored;
    socket.close(ignored);
  } else {
    active_->fetch_add(1);
    std::shared_ptr<void> slot(nullptr, [active = active_](void*) { active->fetch_sub(1); });
    std::make_shared<HttpSession>(std::move(socket), table_, std::move(slot), idleTimeout_)->run();
  }
  doAccept();
}

}  // namespace webframework
