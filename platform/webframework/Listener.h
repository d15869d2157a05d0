#pragma once
// Accepts TCP connections and gives each an HttpSession, as long as the
// connection bound allows; beyond it a connection is closed as soon as it is
// accepted. Runs entirely on the serving thread.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/system/error_code.hpp>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace webframework {

struct HandlerTable;

class Listener : public std::enable_shared_from_this<Listener> {
 public:
  Listener(boost::asio::io_context& ioc, const HandlerTable& table, size_t maxConnections,
           std::chrono::milliseconds idleTimeout);

  // Binds and listens; before run().
  boost::system::error_code open(const boost::asio::ip::tcp::endpoint& endpoint);
  uint16_t port() const;

  void run();
  void close();

 private:
  void doAccept();
  void onAccept(boost::system::error_code ec, boost::asio::ip::tcp::socket socket);

  boost::asio::io_context& ioc_;
  const HandlerTable& table_;
  const size_t maxConnections_;
  const std::chrono::milliseconds idleTimeout_;
  boost::asio::ip::tcp::acceptor acceptor_;  // serving thread once run() was called
  boost::asio::steady_timer retryTimer_;     // serving thread
  // Open connections; each session holds a slot whose release counts down.
  std::shared_ptr<std::atomic<size_t>> active_ = std::make_shared<std::atomic<size_t>>(0);
};

}  // namespace webframework
