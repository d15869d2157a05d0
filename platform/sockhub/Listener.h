#pragma once
// Accepts TCP connections on 127.0.0.1 and gives each an HttpSession on a
// strand of its own, as long as the connection bound allows; beyond it a
// connection is closed as soon as it is accepted.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core/error.hpp>
#include <cstdint>
#include <memory>

namespace sockhub {

class HandshakePolicy;
class SharedState;

class Listener : public std::enable_shared_from_this<Listener> {
 public:
  Listener(boost::asio::io_context& ioc, SharedState& state, std::shared_ptr<const HandshakePolicy> policy);

  // Binds 127.0.0.1:port (0: any free port) and listens. Before run().
  boost::beast::error_code open(uint16_t port);
  uint16_t port() const;

  void run();
  // Any thread: stops accepting.
  void close();

 private:
  void doAccept();
  void onAccept(boost::beast::error_code ec, boost::asio::ip::tcp::socket socket);

  boost::asio::io_context& ioc_;
  // The acceptor and its retry timer live on a strand of their own: the
  // I/O context runs on more than one thread.
  boost::asio::strand<boost::asio::io_context::executor_type> strand_;
  SharedState& state_;
  const std::shared_ptr<const HandshakePolicy> policy_;
  boost::asio::ip::tcp::acceptor acceptor_;  // strand_ only, after open()
  boost::asio::steady_timer retryTimer_;     // strand_ only
};

}  // namespace sockhub
