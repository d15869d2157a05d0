#include "tests/support/TestHttpServer.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>

namespace kstest {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;

struct TestHttpServer::State {
  asio::io_context io;
  tcp::acceptor acceptor{io};
  std::vector<tcp::socket> held;  // silent connections, owned by the server thread
};

TestHttpServer::TestHttpServer(Handler handler) : handler_(std::move(handler)), state_(std::make_unique<State>()) {
  const tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), 0);
  state_->acceptor.open(endpoint.protocol());
  state_->acceptor.bind(endpoint);
  state_->acceptor.listen();
  port_ = state_->acceptor.local_endpoint().port();
  thread_ = std::thread([this] { serve(); });
}

TestHttpServer::~TestHttpServer() {
  stopping_.store(true);
  // Wake the blocking accept with one connection of our own.
  try {
    asio::io_context io;
    tcp::socket socket(io);
    boost::system::error_code ec;
    socket.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port_), ec);
    thread_.join();
  } catch (...) {
    if (thread_.joinable()) thread_.detach();
  }
}

std::vector<TestHttpServer::Request> TestHttpServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

TestHttpServer::Response TestHttpServer::reply(unsigned status, std::string body, const std::string& contentType) {
  Response response(static_cast<http::status>(status), 11);
  response.set(http::field::content_type, contentType);
  response.body() = std::move(body);
  response.prepare_payload();
  return response;
}

void TestHttpServer::serve() {
  while (true) {
    tcp::socket socket(state_->io);
    boost::system::error_code ec;
    state_->acceptor.accept(socket, ec);
    if (stopping_.load()) return;
    if (ec) continue;
    connections_.fetch_add(1);
    if (!handler_) {
      state_->held.push_back(std::move(socket));
      continue;
    }
    boost::beast::flat_buffer buffer;
    http::request_parser<http::string_body> parser;
    parser.body_limit(64u << 20);
    http::read(socket, buffer, parser, ec);
    if (ec) continue;
    Request request = parser.release();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    Response response = handler_(request);
    response.keep_alive(false);
    http::write(socket, response, ec);
    socket.shutdown(tcp::socket::shutdown_both, ec);
  }
}

}  // namespace kstest
