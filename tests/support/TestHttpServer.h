#pragma once
// A small HTTP server on 127.0.0.1 for the tests of the shell's services, of
// its command handlers and of the shell as a process: it listens on a free
// port, answers each request through a handler and records what it received.
// Without a handler it accepts connections and never answers, which is what
// time-out tests need.
//
// Threads: one server thread accepts and answers, one connection after
// another; the handler runs on it. The other members may be called from any
// thread.
#include <boost/beast/http.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kstest {

class TestHttpServer {
 public:
  using Request = boost::beast::http::request<boost::beast::http::string_body>;
  using Response = boost::beast::http::response<boost::beast::http::string_body>;
  using Handler = std::function<Response(const Request&)>;

  // Starts listening at once; an empty handler makes a silent server.
  explicit TestHttpServer(Handler handler);
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  uint16_t port() const { return port_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::vector<Request> requests() const;
  size_t connections() const { return connections_.load(); }

  static Response reply(unsigned status, std::string body, const std::string& contentType = "application/json");

 private:
  struct State;
  void serve();

  Handler handler_;                     // set before the server thread starts
  std::unique_ptr<State> state_;        // the server thread's, once started
  uint16_t port_ = 0;                   // set before the server thread starts
  std::atomic<bool> stopping_{false};
  std::atomic<size_t> connections_{0};
  mutable std::mutex mutex_;
  std::vector<Request> requests_;       // guarded by mutex_
  std::thread thread_;                  // the owning thread's
};

}  // namespace kstest
