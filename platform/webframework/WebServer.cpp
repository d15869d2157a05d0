#include "platform/webframework/WebServer.h"

#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>

#include <exception>

#include "platform/webframework/HandlerTable.h"
#include "platform/webframework/Listener.h"

namespace webframework {
namespace net = boost::asio;

WebServer::WebServer(Options options) : options_(options), table_(std::make_unique<HandlerTable>()) {}

WebServer::~WebServer() { stop(); }

std::unique_ptr<WebServer> WebServer::open(std::string_view address, uint16_t port, boost::system::error_code& error,
                                           Options options) {
  error = {};
  const net::ip::address ip = net::ip::make_address(std::string(address), error);
  if (error) return nullptr;
  std::unique_ptr<WebServer> server(new WebServer(options));
  server->listener_ =
      std::make_shared<Listener>(server->ioc_, *server->table_, options.maxConnections, options.idleTimeout);
  error = server->listener_->open(net::ip::tcp::endpoint(ip, port));
  if (error) return nullptr;
  server->port_ = server->listener_->port();
  return server;
}

void WebServer::registerHandler(std::string name, Handler handler, std::string pathParameter) {
  table_->router.add({std::move(name), std::move(pathParameter)});
  table_->handlers.push_back(std::move(handler));
}

void WebServer::serve() {
  if (stopped_.load()) return;
  listener_->run();
  while (!stopped_.load()) {
    try {
      ioc_.run();
      break;
    } catch (...) {
      // A handler of the I/O layer threw (say, out of memory while
      // accepting); the connection it served is lost, the server goes on.
    }
  }
}

void WebServer::stop() {
  if (stopped_.exchange(true)) return;
  net::post(ioc_, [listener = listener_] {
    if (listener) listener->close();
  });
  ioc_.stop();
}

}  // namespace webframework
