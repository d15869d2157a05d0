#pragma once
// A small HTTP/1.1 server for handing local files to the page: it listens on
// one loopback address, routes "/<name>/..." to the handler registered under
// <name> (see RequestRouter), and answers GET-style downloads from memory or
// by streaming an open file in small pieces.
//
// Threads: open() and registerHandler() run before serve(); serve() runs the
// whole server (accepting, reading, handlers, writing) on the calling thread
// until stop(). stop() may be called from any thread, before or during
// serve(); the server object must outlive the serving thread.
//
// Bounds: at most `maxConnections` connections at a time (more are closed at
// once), request headers of 8 KiB, request bodies of 64 KiB, and an idle time
// limit on every read and every piece written.
#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/webframework/Response.h"

namespace webframework {

class Listener;
struct HandlerTable;

class WebServer {
 public:
  struct Options {
    size_t maxConnections = 64;
    std::chrono::milliseconds idleTimeout{30000};
  };

  // Binds `address` (a numeric IPv4 or IPv6 address) at `port` (0: a free
  // port the system picks) and listens. Null, with `error` set, when that
  // fails.
  static std::unique_ptr<WebServer> open(std::string_view address, uint16_t port, boost::system::error_code& error,
                                         Options options);
  static std::unique_ptr<WebServer> open(std::string_view address, uint16_t port, boost::system::error_code& error) {
    return open(address, port, error, Options{});
  }
  ~WebServer();
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  // Before serve(): requests for "/<name>/<rest>" go to `handler`, with the
  // decoded <rest> as the parameter `pathParameter`.
  void registerHandler(std::string name, Handler handler, std::string pathParameter = "file");

  // Serves until stop(); returns at once when stop() came first.
  void serve();
  void stop();

  // The port actually bound.
  uint16_t port() const { return port_; }

 private:
  explicit WebServer(Options options);

  const Options options_;
  boost::asio::io_context ioc_{1};
  std::unique_ptr<HandlerTable> table_;  // changed only before serve()
  std::shared_ptr<Listener> listener_;   // serving thread once serve() runs
  uint16_t port_ = 0;                    // set once by open()
  std::atomic<bool> stopped_{false};
};

}  // namespace webframework
