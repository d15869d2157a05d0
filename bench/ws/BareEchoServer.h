#pragma once
// The baseline of the WebSocket benchmark: the smallest Boost.Beast server
// that answers each text message with itself, on 127.0.0.1 with one I/O
// thread, like the command server's own I/O.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <cstdint>
#include <thread>

namespace wsbench {

class BareEchoServer {
 public:
  BareEchoServer();
  ~BareEchoServer();
  uint16_t port() const { return port_; }

 private:
  void accept();

  boost::asio::io_context ioc_{1};
  boost::asio::ip::tcp::acceptor acceptor_;  // I/O thread only after construction
  uint16_t port_ = 0;
  std::thread thread_;
};

}  // namespace wsbench
