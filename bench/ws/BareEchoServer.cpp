#include "bench/ws/BareEchoServer.h"

#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <memory>

namespace wsbench {
namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

class EchoSession : public std::enable_shared_from_this<EchoSession> {
 public:
  explicit EchoSession(tcp::socket&& socket) : ws_(std::move(socket)) {}

  void run() {
    ws_.async_accept([self = shared_from_this()](beast::error_code ec) {
      if (!ec) self->read();
    });
  }

 private:
  void read() {
    ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code ec, size_t) {
      if (ec) return;
      self->ws_.text(self->ws_.got_text());
      self->ws_.async_write(self->buffer_.data(), [self](beast::error_code writeError, size_t) {
        if (writeError) return;
        self->buffer_.consume(self->buffer_.size());
        self->read();
      });
    });
  }

  websocket::stream<beast::tcp_stream> ws_;
  beast::flat_buffer buffer_;
};

}  // namespace

BareEchoServer::BareEchoServer() : acceptor_(ioc_, tcp::endpoint(net::ip::make_address_v4("127.0.0.1"), 0)) {
  port_ = acceptor_.local_endpoint().port();
  accept();
  thread_ = std::thread([this] { ioc_.run(); });
}

BareEchoServer::~BareEchoServer() {
  ioc_.stop();
  thread_.join();
}

void BareEchoServer::accept() {
  acceptor_.async_accept(net::make_strand(ioc_), [this](beast::error_code ec, tcp::socket socket) {
    if (ec) return;
    std::make_shared<EchoSession>(std::move(socket))->run();
    accept();
  });
}

}  // namespace wsbench
