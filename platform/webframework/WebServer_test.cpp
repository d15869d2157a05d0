#include "platform/webframework/WebServer.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <atomic>
#include <cstdio>
#include <random>
#include <thread>

#include "platform/webframework/testing/HttpTestClient.h"
#include "tests/support/Watchdog.h"

namespace webframework {
namespace {
using testing::httpRequest;
using namespace std::chrono_literals;

// A server on a free loopback port, served by its own thread for the test's life.
class ServedServer {
 public:
  explicit ServedServer(WebServer::Options options = {}) {
    boost::system::error_code ec;
    server_ = WebServer::open("127.0.0.1", 0, ec, options);
    if (!server_) ADD_FAILURE() << ec.message();
  }
  ~ServedServer() { stop(); }
  WebServer& operator*() { return *server_; }
  WebServer* operator->() { return server_.get(); }
  void start() {
    thread_ = std::thread([this] { server_->serve(); });
  }
  void stop() {
    if (server_) server_->stop();
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::unique_ptr<WebServer> server_;
  std::thread thread_;
};

std::string randomBytes(size_t size) {
  std::mt19937 generator(1234);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

// A file with `bytes` in it, removed at the end of the test.
class TempFile {
 public:
  explicit TempFile(const std::string& bytes) {
    char name[] = "/tmp/webframework_test_XXXXXX";
    const int fd = ::mkstemp(name);
    path_ = name;
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
  }
  ~TempFile() { ::unlink(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(WebServer, AnswersFromMemoryAndStreamsFilesByteForByte) {
  kstest::Watchdog watchdog(30s, "WebServer streaming");
  const std::string memory = std::string("bytes\0with\0zeros", 16);
  const std::string large = randomBytes(3 * 1024 * 1024 + 17);
  TempFile file(large);
  std::atomic<int> calls{0};

  ServedServer server;
  server->registerHandler("mem", [&](const Request& request) {
    ++calls;
    Response response;
    response.contentType = "text/plain";
    response.body = memory;
    return response;
  });
  server->registerHandler("file", [&](const Request& request) {
    ++calls;
    Response response;
    response.file = OpenFile(::open(file.path().c_str(), O_RDONLY | O_CLOEXEC));
    return response;
  });
  server.start();

  const auto fromMemory = httpRequest(server->port(), "GET", "/mem/x");
  ASSERT_TRUE(fromMemory.transferred) << fromMemory.error;
  EXPECT_EQ(fromMemory.status, 200u);
  EXPECT_EQ(fromMemory.contentType, "text/plain");
  EXPECT_EQ(fromMemory.body, memory);

  const auto streamed = httpRequest(server->port(), "GET", "/file/whatever");
  ASSERT_TRUE(streamed.transferred) << streamed.error;
  EXPECT_EQ(streamed.status, 200u);
  EXPECT_EQ(streamed.contentType, "application/octet-stream");
  ASSERT_EQ(streamed.body.size(), large.size());
  EXPECT_TRUE(streamed.body == large);
  EXPECT_EQ(calls.load(), 2);
}

TEST(WebServer, RefusalsAndHandlerFailuresCarryNoBody) {
  kstest::Watchdog watchdog(30s, "WebServer refusals");
  std::atomic<int> calls{0};
  ServedServer server;
  server->registerHandler("throws", [&](const Request&) -> Response {
    ++calls;
    throw std::runtime_error("handler failed");
  });
  server->registerHandler("status", [&](const Request& request) {
    ++calls;
    Response response = Response::withStatus(406);
    response.body = "must not be sent";
    return response;
  });
  server.start();
  const uint16_t port = server->port();

  const auto foreignHost = httpRequest(port, "GET", "/status/a", "rebound.example:" + std::to_string(port));
  ASSERT_TRUE(foreignHost.transferred) << foreignHost.error;
  EXPECT_EQ(foreignHost.status, 403u);
  const auto noHost = httpRequest(port, "GET", "/status/a", "");
  EXPECT_EQ(noHost.status, 400u);
  EXPECT_EQ(httpRequest(port, "GET", "/nothing/here").status, 404u);
  EXPECT_EQ(calls.load(), 0);

  const auto thrown = httpRequest(port, "GET", "/throws/a");
  EXPECT_EQ(thrown.status, 500u);
  EXPECT_TRUE(thrown.body.empty());
  const auto refused = httpRequest(port, "GET", "/status/a");
  EXPECT_EQ(refused.status, 406u);
  EXPECT_TRUE(refused.body.empty());
  EXPECT_EQ(calls.load(), 2);
}

TEST(WebServer, DropsHalfRequestsAfterTheIdleLimitAndBoundsConnections) {
  kstest::Watchdog watchdog(30s, "WebServer bounds");
  namespace net = boost::asio;
  WebServer::Options options;
  options.maxConnections = 1;
  options.idleTimeout = 300ms;
  ServedServer server(options);
  server->registerHandler("ok", [](const Request&) { return Response::withStatus(204); });
  server.start();

  net::io_context ioc;
  net::ip::tcp::socket idle(ioc);
  idle.connect({net::ip::make_address("127.0.0.1"), server->port()});
  net::write(idle, net::buffer(std::string("GET /ok/a HTTP/1.1\r\nHo")));
  // While the half request holds the only slot, a second connection is closed
  // unanswered.
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(httpRequest(server->port(), "GET", "/ok/a", std::nullopt, 5).transferred);

  // The idle limit ends the half request without an answer...
  char byte = 0;
  boost::system::error_code ec;
  EXPECT_EQ(net::read(idle, net::buffer(&byte, 1), ec), 0u);
  EXPECT_EQ(ec, net::error::eof);
  // ...and frees the slot.
  bool answered = false;
  for (int attempt = 0; attempt < 100 && !answered; ++attempt) {
    answered = httpRequest(server->port(), "GET", "/ok/a", std::nullopt, 5).status == 204;
    if (!answered) std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(answered);
}

TEST(WebServer, StopEndsServingFromAnyThreadAndAnOccupiedPortFails) {
  kstest::Watchdog watchdog(30s, "WebServer stop");
  boost::system::error_code ec;
  auto first = WebServer::open("127.0.0.1", 0, ec);
  ASSERT_TRUE(first) << ec.message();
  EXPECT_NE(first->port(), 0);
  auto second = WebServer::open("127.0.0.1", first->port(), ec);
  EXPECT_FALSE(second);
  EXPECT_TRUE(ec);
  EXPECT_FALSE(WebServer::open("not an address", 0, ec));

  // Stopped before it serves: serve() returns at once.
  first->stop();
  first->serve();

  ServedServer served;
  served.start();
  std::this_thread::sleep_for(20ms);
  served.stop();  // joins the serving thread
}

long peakResidentKiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST(WebServer, StreamingALargeFileKeepsMemoryFlat) {
  kstest::Watchdog watchdog(60s, "WebServer large file");
  namespace net = boost::asio;
  constexpr uint64_t kSize = 64ull * 1024 * 1024;
  TempFile file("");
  ASSERT_EQ(::truncate(file.path().c_str(), static_cast<off_t>(kSize)), 0);  // sparse: no disk used

  ServedServer server;
  server->registerHandler("big", [&](const Request&) {
    Response response;
    response.file = OpenFile(::open(file.path().c_str(), O_RDONLY | O_CLOEXEC));
    return response;
  });
  server.start();

  const long before = peakResidentKiB();
  net::io_context ioc;
  net::ip::tcp::socket socket(ioc);
  socket.connect({net::ip::make_address("127.0.0.1"), server->port()});
  net::write(socket, net::buffer(std::string("GET /big/x HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n")));
  // Read and drop everything until the server closes.
  std::string head;
  uint64_t total = 0;
  char chunk[64 * 1024];
  boost::system::error_code ec;
  while (true) {
    const size_t got = socket.read_some(net::buffer(chunk), ec);
    if (head.size() < 512) head.append(chunk, std::min<size_t>(got, 512));
    total += got;
    if (ec) break;
  }
  EXPECT_EQ(ec, net::error::eof);
  const size_t headerEnd = head.find("\r\n\r\n");
  ASSERT_NE(headerEnd, std::string::npos);
  EXPECT_NE(head.find("Content-Length: " + std::to_string(kSize)), std::string::npos);
  EXPECT_EQ(total - (headerEnd + 4), kSize);
  // A server holding the file in memory would have grown by 64 MiB. The
  // margin leaves room for the address sanitizer, whose quarantine keeps
  // the freed per-write state of the I/O layer for a while.
  EXPECT_LT(peakResidentKiB() - before, 40 * 1024);
}

}  // namespace
}  // namespace webframework
