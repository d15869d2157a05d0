// The server's limits, reached quickly with small options.
#include "platform/sockhub/Server.h"
#include "platform/sockhub/StaticSite.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "platform/sockhub/testing/CallbackRecorder.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WsClient.h"

namespace sockhub {
namespace {
using namespace std::chrono_literals;
using kstest::Watchdog;
using kstest::WsClient;
using testing::CallbackRecorder;

class ServerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    CallbackRecorder::instance().release();
    if (server_) server_->stop();
    CallbackRecorder::instance().reset({});
  }

  void startServer(const ServerOptions& options, std::shared_ptr<const StaticSite> site = nullptr) {
    server_ = std::make_unique<Server>(options);
    Server* server = server_.get();
    CallbackRecorder::instance().reset(
        [server](int32_t id, const char* data, size_t length) { return server->send(id, data, length); });
    server_->setReceiver(&CallbackRecorder::onReceive);
    server_->setClientAction(&CallbackRecorder::onClientAction);
    ASSERT_EQ(server_->start(0, HandshakePolicy(), std::move(site)), SOCKHUB_OK);
    port_ = server_->boundPort();
  }

  static CallbackRecorder& recorder() { return CallbackRecorder::instance(); }

  std::unique_ptr<Server> server_;
  uint16_t port_ = 0;
};

// An asked origin that gets no answer is refused at the question's deadline.
TEST_F(ServerTest, AnUnansweredOriginIsRefusedAtItsDeadline) {
  Watchdog watchdog(20s, "origin deadline");
  ServerOptions options;
  options.originQuestionTimeout = 300ms;
  startServer(options);
  static std::atomic<int32_t> asked{0};
  server_->setOriginJudge([](int32_t id, const char*) { asked = id; });
  WsClient client;
  WsClient::Options connect;
  connect.origin = "http://elsewhere.example";
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.connect(port_, connect));
  EXPECT_EQ(client.handshakeStatus(), 403u);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);
  ASSERT_NE(asked.load(), 0);
  EXPECT_EQ(server_->answerOrigin(asked.load(), true), SOCKHUB_ERR_NO_CONNECTION);
}

// The same port serves the static files over plain HTTP and upgrades.
TEST_F(ServerTest, PlainRequestsGetTheFilesAndUpgradesStillWork) {
  Watchdog watchdog(20s, "static files");
  auto site = std::make_shared<StaticSite>();
  site->add("/demo/index.html", "text/html; charset=utf-8", "<h1>demo</h1>");
  site->setRootRedirect("/demo/index.html");
  startServer(ServerOptions{}, site);
  const auto get = [&](const std::string& request) {
    WsClient raw;
    EXPECT_TRUE(raw.connectRaw(port_));
    EXPECT_TRUE(raw.sendRaw(request));
    bool closed = false;
    std::string reply = raw.readRawUntilClose(5s, &closed);
    EXPECT_TRUE(closed);
    return reply;
  };
  const std::string page = get("GET /demo/index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(page.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << page;
  EXPECT_NE(page.find("\r\n\r\n<h1>demo</h1>"), std::string::npos) << page;
  EXPECT_EQ(get("GET / HTTP/1.1\r\nHost: localhost\r\n\r\n").rfind("HTTP/1.1 302", 0), 0u);
  EXPECT_EQ(get("GET /demo/x HTTP/1.1\r\nHost: localhost\r\n\r\n").rfind("HTTP/1.1 404", 0), 0u);
  EXPECT_EQ(get("DELETE / HTTP/1.1\r\nHost: localhost\r\n\r\n").rfind("HTTP/1.1 405", 0), 0u);
  EXPECT_EQ(get("GET / HTTP/1.1\r\nHost: rebound.example\r\n\r\n").rfind("HTTP/1.1 403", 0), 0u);
  WsClient client;
  ASSERT_TRUE(client.connect(port_));
  ASSERT_TRUE(client.sendText("hello"));
  EXPECT_EQ(client.receive(), "hello");
}

TEST_F(ServerTest, IncompleteHandshakesTimeOut) {
  Watchdog watchdog(20s, "handshake time-out");
  ServerOptions options;
  options.handshakeTimeout = 300ms;
  startServer(options);

  WsClient silent;
  ASSERT_TRUE(silent.connectRaw(port_));
  WsClient dribbling;
  ASSERT_TRUE(dribbling.connectRaw(port_));
  ASSERT_TRUE(dribbling.sendRaw("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n"));
  for (WsClient* client : {&silent, &dribbling}) {
    bool closed = false;
    client->readRawUntilClose(5s, &closed);
    EXPECT_TRUE(closed);
  }
}

TEST_F(ServerTest, ConnectionsBeyondTheBoundAreRefusedUntilOneEnds) {
  Watchdog watchdog(20s, "connection bound");
  ServerOptions options;
  options.maxConnections = 3;
  startServer(options);

  std::vector<std::unique_ptr<WsClient>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<WsClient>());
    ASSERT_TRUE(clients.back()->connect(port_));
  }
  WsClient refused;
  EXPECT_FALSE(refused.connect(port_));
  // A connection in its handshake counts as well.
  ASSERT_TRUE(clients[0]->sendText("first"));
  EXPECT_EQ(clients[0]->receive(), "first");
  const int32_t id = recorder().waitForConnectionOf("first", 5s);
  ASSERT_TRUE(clients[0]->close());
  ASSERT_TRUE(recorder().waitForEnd(id, 5s));

  // The slot comes free once the connection's thread is done.
  bool admitted = false;
  for (int attempt = 0; attempt < 50 && !admitted; ++attempt) {
    WsClient later;
    admitted = later.connect(port_);
    if (!admitted) std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(admitted);
}

TEST_F(ServerTest, MessageSizeBoundIsExact) {
  Watchdog watchdog(20s, "message size");
  ServerOptions options;
  options.maxMessageBytes = 1000;
  startServer(options);
  WsClient client;
  ASSERT_TRUE(client.connect(port_));
  ASSERT_TRUE(client.sendText(std::string(1000, 'a')));
  EXPECT_EQ(client.receive(), std::string(1000, 'a'));
  ASSERT_TRUE(client.sendText(std::string(1001, 'a')));
  EXPECT_EQ(client.waitForClose(), 1009);
}

TEST_F(ServerTest, APeerThatNeverReadsIsDropped) {
  Watchdog watchdog(30s, "unsent output");
  ServerOptions options;
  options.maxUnsentBytes = 256 * 1024;
  startServer(options);
  WsClient reader;
  ASSERT_TRUE(reader.connect(port_));
  ASSERT_TRUE(reader.sendText("hello"));
  ASSERT_EQ(reader.receive(), "hello");
  const int32_t id = recorder().waitForConnectionOf("hello", 5s);

  WsClient stubborn;
  ASSERT_TRUE(stubborn.connect(port_));
  ASSERT_TRUE(stubborn.sendText("mute"));
  const int32_t muteId = recorder().waitForConnectionOf("mute", 5s);
  ASSERT_NE(muteId, 0);

  // The stubborn client never reads again. While its kernel buffer still
  // takes bytes, each send waits until they arrive there, however slowly the
  // server's I/O thread runs; once it stops growing, paced sends fill the
  // server's side until its own queue passes the bound and it drops the peer.
  const std::string chunk(16 * 1024, 'z');
  int sent = 0;
  int result = SOCKHUB_OK;
  bool clientBufferGrowing = true;
  while (result == SOCKHUB_OK && sent < 20000) {
    const size_t before = stubborn.unreadKernelBytes();
    result = server_->send(muteId, chunk.data(), chunk.size());
    if (result != SOCKHUB_OK) break;
    ++sent;
    if (!clientBufferGrowing) {
      std::this_thread::sleep_for(200us);
      continue;
    }
    const auto deadline = std::chrono::steady_clock::now() + 200ms;
    while (stubborn.unreadKernelBytes() == before && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(100us);
    clientBufferGrowing = stubborn.unreadKernelBytes() != before;
  }
  EXPECT_EQ(result, SOCKHUB_ERR_NO_CONNECTION);
  EXPECT_GT(sent * chunk.size(), options.maxUnsentBytes) << "dropped before the socket was full";
  EXPECT_TRUE(recorder().waitForEnd(muteId, 10s));
  EXPECT_EQ(server_->send(muteId, "x", 1), SOCKHUB_ERR_NO_CONNECTION);
  // A single message over the bound is refused without dropping anyone.
  const std::string tooLarge(options.maxUnsentBytes + 1, 'q');
  EXPECT_EQ(server_->send(id, tooLarge.data(), tooLarge.size()), SOCKHUB_ERR_TOO_LARGE);
  ASSERT_TRUE(reader.sendText("still here"));
  EXPECT_EQ(reader.receive(), "still here");
}

TEST_F(ServerTest, ReadingPausesWhileTheHandlerQueueIsFull) {
  Watchdog watchdog(30s, "back-pressure");
  ServerOptions options;
  options.maxQueuedMessages = 4;
  options.maxMessageBytes = 512 * 1024;
  startServer(options);
  {
    // A paused connection resumes: every message comes through, in order.
    WsClient client;
    ASSERT_TRUE(client.connect(port_));
    ASSERT_TRUE(client.sendText("block-resume"));
    ASSERT_TRUE(recorder().waitForBlocked(1, 5s));
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(client.sendText("m" + std::to_string(i)));
    std::this_thread::sleep_for(100ms);
    recorder().release();
    EXPECT_EQ(client.receive(), "block-resume");
    for (int i = 0; i < 40; ++i) ASSERT_EQ(client.receive(), "m" + std::to_string(i));
  }
  WsClient client;
  ASSERT_TRUE(client.connect(port_));
  ASSERT_TRUE(client.sendText("block-queue"));
  ASSERT_TRUE(recorder().waitForBlocked(2, 5s));

  // Without back-pressure the server would take all 64 MiB into memory;
  // with it, the socket buffers fill and the sender has to wait.
  const std::string payload(512 * 1024, 'p');
  int sent = 0;
  while (sent < 128 && client.sendText(payload, 1s)) ++sent;
  EXPECT_LT(sent, 128);
  const int32_t id = recorder().waitForConnectionOf("block-queue", 1s);
  recorder().release();
  ASSERT_TRUE(recorder().waitForEnd(id, 10s));
  EXPECT_LE(recorder().received(id).size(), static_cast<size_t>(sent) + 1);
}

// A connection that stays silent through the pings is cut and gives its
// place back (a pinged one staying is the shell's end-to-end story). However
// a connection ends, the messages still waiting for its handler are dropped.
TEST_F(ServerTest, SilentConnectionsAreCutAndEndedOnesLeaveNoWorkBehind) {
  Watchdog watchdog(30s, "keep-alive");
  ServerOptions options;
  options.maxConnections = 1;
  options.pingInterval = 50ms;
  options.idleTimeout = 300ms;
  startServer(options);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  const auto pollUntil = [&](const std::function<bool()>& done) {
    while (std::chrono::steady_clock::now() < deadline) {
      if (done()) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  };

  WsClient silent;
  ASSERT_TRUE(silent.connect(port_));
  ASSERT_TRUE(pollUntil([&] { return silent.peerHasClosed(); }));
  // The only place is free again (a client object connects once).
  std::unique_ptr<WsClient> attempt;
  ASSERT_TRUE(pollUntil([&] {
    attempt = std::make_unique<WsClient>();
    return attempt->connect(port_);
  }));
  WsClient& later = *attempt;
  ASSERT_TRUE(later.sendText("block-then-close"));
  ASSERT_TRUE(recorder().waitForBlocked(1, 5s));
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(later.sendText("queued" + std::to_string(i)));
  ASSERT_TRUE(later.close());
  const int32_t id = recorder().waitForConnectionOf("block-then-close", 1s);
  ASSERT_TRUE(pollUntil([&] { return server_->send(id, "x", 1) == SOCKHUB_ERR_NO_CONNECTION; }));
  recorder().release();
  ASSERT_TRUE(recorder().waitForEnd(id, 5s));
  EXPECT_EQ(recorder().received(id), std::vector<std::string>{"block-then-close"});
}

TEST_F(ServerTest, AStoppedServerAnswersNothingAndStartsAgain) {
  Watchdog watchdog(20s, "restart");
  startServer(ServerOptions{});
  EXPECT_TRUE(server_->running());
  EXPECT_EQ(server_->stop(), SOCKHUB_OK);
  EXPECT_FALSE(server_->running());
  EXPECT_EQ(server_->send(1, "x", 1), SOCKHUB_ERR_NOT_STARTED);
  WsClient refused;
  EXPECT_FALSE(refused.connect(port_));
  ASSERT_EQ(server_->start(0), SOCKHUB_OK);
  WsClient client;
  ASSERT_TRUE(client.connect(server_->boundPort()));
  ASSERT_TRUE(client.sendText("back"));
  EXPECT_EQ(client.receive(), "back");
}

}  // namespace
}  // namespace sockhub
