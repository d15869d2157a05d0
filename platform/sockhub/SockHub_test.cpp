// The server through its C functions, as the shell uses it, with real
// WebSocket clients on loopback.
#include "platform/sockhub/SockHub.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <future>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/sockhub/testing/CallbackRecorder.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WsClient.h"

namespace {
using namespace std::chrono_literals;
using kstest::Watchdog;
using kstest::WsClient;
using sockhub::testing::CallbackRecorder;

size_t threadCount() {
  size_t count = 0;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (const dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] != '.') ++count;
    }
    ::closedir(dir);
  }
  return count;
}

// The questions the judge was asked, in order.
std::mutex gQuestionsMutex;
std::condition_variable gQuestionAsked;
std::deque<std::pair<int32_t, std::string>> gQuestions;  // guarded by gQuestionsMutex

void recordQuestion(int32_t id, const char* origin) {
  std::lock_guard lock(gQuestionsMutex);
  gQuestions.emplace_back(id, origin);
  gQuestionAsked.notify_all();
}

std::optional<std::pair<int32_t, std::string>> waitForQuestion(std::chrono::milliseconds timeout) {
  std::unique_lock lock(gQuestionsMutex);
  if (!gQuestionAsked.wait_for(lock, timeout, [] { return !gQuestions.empty(); })) return std::nullopt;
  auto question = gQuestions.front();
  gQuestions.pop_front();
  return question;
}

class SockHubTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(SockHub_SetAllowedOrigins(nullptr, 0), SOCKHUB_OK);
    recorder().reset(&SockHub_SendData, &SockHub_Stop);
    registerCallbacks();
    start();
  }
  void TearDown() override {
    recorder().release();
    SockHub_Stop();
    recorder().reset({});
    SockHub_SetAllowedOrigins(nullptr, 0);
  }

  static CallbackRecorder& recorder() { return CallbackRecorder::instance(); }
  static void registerCallbacks() {
    SockHubReceiveDataParam receive{&CallbackRecorder::onReceive};
    SockHubClientActionParam action{&CallbackRecorder::onClientAction};
    ASSERT_EQ(SockHub_ReceiveDataIf(&receive), SOCKHUB_OK);
    ASSERT_EQ(SockHub_ClientActiontIf(&action), SOCKHUB_OK);
  }
  void start() {
    SockHubGlobalParam param{};
    param.port = 0;
    ASSERT_EQ(SockHub_SetGlobalParam(&param), SOCKHUB_OK);
    ASSERT_EQ(SockHub_Start(), SOCKHUB_OK);
    port_ = SockHub_BoundPort();
    ASSERT_NE(port_, 0);
  }
  // Connects and learns the server's id for the connection.
  int32_t connectAndIdentify(WsClient& client, const std::string& hello) {
    if (!client.connect(port_)) return 0;
    if (!client.sendText(hello) || client.receive() != hello) return 0;
    return recorder().waitForConnectionOf(hello, 5s);
  }
  // A connection that still answers proves the server kept serving.
  static void expectEcho(WsClient& client, const std::string& text) {
    ASSERT_TRUE(client.sendText(text));
    EXPECT_EQ(client.receive(), text);
  }

  uint16_t port_ = 0;
};

TEST_F(SockHubTest, TwentyConnectionsGetAThousandRepliesEachInOrder) {
  Watchdog watchdog(90s, "twenty connections");
  constexpr int kConnections = 20;
  constexpr int kMessages = 1000;
  constexpr int kWindow = 32;  // messages in flight per connection
  std::vector<uint16_t> localPorts(kConnections);
  std::vector<int> mismatches(kConnections, 0);
  std::vector<std::thread> threads;
  for (int c = 0; c < kConnections; ++c) {
    threads.emplace_back([&, c] {
      WsClient client;
      if (!client.connect(port_)) {
        mismatches[c] = -1;
        return;
      }
      localPorts[c] = client.localPort();
      int answered = 0;
      const auto expectNext = [&] {
        const auto reply = client.receive(20s);
        if (reply != "c" + std::to_string(c) + "-" + std::to_string(answered)) ++mismatches[c];
        ++answered;
      };
      for (int n = 0; n < kMessages; ++n) {
        if (!client.sendText("c" + std::to_string(c) + "-" + std::to_string(n))) {
          mismatches[c] = -2;
          return;
        }
        if (n - answered >= kWindow) expectNext();
      }
      while (answered < kMessages) expectNext();
      client.close();
    });
  }
  for (auto& t : threads) t.join();
  for (int c = 0; c < kConnections; ++c) EXPECT_EQ(mismatches[c], 0) << "connection " << c;

  // Every connection kept one id, and the client port reported with its
  // messages is the client's own TCP port.
  const auto ports = recorder().clientPorts();
  ASSERT_EQ(ports.size(), static_cast<size_t>(kConnections));
  std::set<int32_t> reported;
  for (const auto& [id, port] : ports) {
    EXPECT_GE(id, 1);
    reported.insert(port);
    EXPECT_EQ(recorder().received(id).size(), static_cast<size_t>(kMessages));
  }
  EXPECT_EQ(reported, std::set<int32_t>(localPorts.begin(), localPorts.end()));
}

TEST_F(SockHubTest, ABlockingHandlerStallsOnlyItsOwnConnection) {
  Watchdog watchdog(30s, "blocking handler");
  WsClient blocked;
  WsClient other;
  ASSERT_TRUE(blocked.connect(port_));
  ASSERT_TRUE(other.connect(port_));
  ASSERT_TRUE(blocked.sendText("block-1"));
  ASSERT_TRUE(blocked.sendText("after-block"));
  ASSERT_TRUE(recorder().waitForBlocked(1, 5s));

  const auto begin = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i) expectEcho(other, "free-" + std::to_string(i));
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 3s);
  EXPECT_EQ(blocked.receive(200ms), std::nullopt);

  recorder().release();
  EXPECT_EQ(blocked.receive(), "block-1");
  EXPECT_EQ(blocked.receive(), "after-block");
}

TEST_F(SockHubTest, RefusedInputEndsOnlyTheOffendingConnection) {
  Watchdog watchdog(60s, "garbage");
  WsClient witness;
  ASSERT_TRUE(witness.connect(port_));
  expectEcho(witness, "before");

  {  // A binary message: close 1003.
    WsClient client;
    ASSERT_TRUE(client.connect(port_));
    ASSERT_TRUE(client.sendBinary(std::string("\x00\x01\x02", 3)));
    EXPECT_EQ(client.waitForClose(), 1003);
  }
  {  // A message of exactly 1 MiB passes; one byte more is refused with 1009.
    WsClient client;
    ASSERT_TRUE(client.connect(port_));
    const std::string largest(size_t{1} << 20, 'x');
    ASSERT_TRUE(client.sendText(largest));
    const auto echoed = client.receive(10s);
    ASSERT_TRUE(echoed.has_value());
    EXPECT_EQ(echoed->size(), largest.size());
    ASSERT_TRUE(client.sendText(largest + "y"));
    EXPECT_EQ(client.waitForClose(), 1009);
  }
  {  // Text that is not UTF-8: close 1007.
    WsClient client;
    ASSERT_TRUE(client.connect(port_));
    ASSERT_TRUE(client.sendRaw(WsClient::frame(1, "\xC3\x28 bad")));
    EXPECT_EQ(client.waitForClose(), 1007);
  }
  {  // An unmasked client frame breaks the protocol: close 1002.
    WsClient client;
    ASSERT_TRUE(client.connect(port_));
    std::string unmasked = WsClient::frame(1, "");
    unmasked[1] = 0;  // length 0, mask bit cleared
    unmasked.resize(2);
    ASSERT_TRUE(client.sendRaw(unmasked));
    EXPECT_EQ(client.waitForClose(), 1002);
  }
  {  // A plain HTTP request is told to upgrade.
    WsClient client;
    ASSERT_TRUE(client.connectRaw(port_));
    ASSERT_TRUE(client.sendRaw("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    bool closed = false;
    const std::string answer = client.readRawUntilClose(5s, &closed);
    EXPECT_EQ(answer.rfind("HTTP/1.1 426", 0), 0u) << answer;
    EXPECT_TRUE(closed);
  }
  {  // Bytes that are no HTTP at all: closed without an answer.
    WsClient client;
    ASSERT_TRUE(client.connectRaw(port_));
    ASSERT_TRUE(client.sendRaw(std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", 15)));
    bool closed = false;
    EXPECT_EQ(client.readRawUntilClose(5s, &closed), "");
    EXPECT_TRUE(closed);
  }
  {  // A header block over the bound: closed.
    WsClient client;
    ASSERT_TRUE(client.connectRaw(port_));
    const std::string huge = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: " + std::string(64 * 1024, 'a');
    client.sendRaw(huge);
    bool closed = false;
    client.readRawUntilClose(5s, &closed);
    EXPECT_TRUE(closed);
  }
  // A half handshake stays open meanwhile, and a connection is dropped in the
  // middle of a frame.
  WsClient half;
  ASSERT_TRUE(half.connectRaw(port_));
  ASSERT_TRUE(half.sendRaw("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"));
  {
    WsClient client;
    const int32_t id = connectAndIdentify(client, "mid-frame");
    ASSERT_NE(id, 0);
    ASSERT_TRUE(client.sendRaw(WsClient::frame(1, "only part", true, 5000)));
    client.abort();
    ASSERT_TRUE(recorder().waitForEnd(id, 5s));
    EXPECT_EQ(recorder().received(id), std::vector<std::string>{"mid-frame"});
  }

  expectEcho(witness, "after");
  WsClient newcomer;
  ASSERT_TRUE(newcomer.connect(port_));
  expectEcho(newcomer, "still serving");
}

TEST_F(SockHubTest, HandshakesNeedALoopbackHostAndAnAllowedOrigin) {
  Watchdog watchdog(30s, "host and origin");
  const std::string port = std::to_string(port_);
  for (const std::string& host : std::vector<std::string>{"localhost:" + port, "127.0.0.1", "[::1]:" + port}) {
    WsClient client;
    WsClient::Options options;
    options.hostHeader = host;
    EXPECT_TRUE(client.connect(port_, options)) << host;
  }
  for (const std::string& host : std::vector<std::string>{"evil.example:" + port, "localhost.evil.example"}) {
    WsClient client;
    WsClient::Options options;
    options.hostHeader = host;
    EXPECT_FALSE(client.connect(port_, options)) << host;
    EXPECT_EQ(client.handshakeStatus(), 403u) << host;
  }
  const auto attempt = [&](const std::string& origin) {
    WsClient client;
    WsClient::Options options;
    options.origin = origin;  // empty: no Origin header
    const bool accepted = client.connect(port_, options);
    return accepted ? 101u : client.handshakeStatus();
  };
  // No list, no judge: local programs (no origin) and the server's own
  // pages come in, every other origin is refused.
  EXPECT_EQ(attempt(""), 101u);
  EXPECT_EQ(attempt("http://127.0.0.1:" + port), 101u);
  EXPECT_EQ(attempt("http://localhost:" + port), 101u);
  EXPECT_EQ(attempt("http://some-device.example"), 403u);
  EXPECT_EQ(attempt("http://127.0.0.1:1"), 403u);

  ASSERT_EQ(SockHub_Stop(), SOCKHUB_OK);
  const char* const origins[] = {"http://192.168.1.64", "http://nvr.example:8080/", "  "};
  ASSERT_EQ(SockHub_SetAllowedOrigins(origins, 3), SOCKHUB_OK);
  start();
  EXPECT_EQ(attempt("http://192.168.1.64"), 101u);
  EXPECT_EQ(attempt("http://NVR.example:8080"), 101u);
  EXPECT_EQ(attempt("http://192.168.1.65"), 403u);
  EXPECT_EQ(attempt(""), 101u);

  // With a judge, an unlisted origin waits for its answer.
  SockHubAskOriginParam ask{&recordQuestion};
  ASSERT_EQ(SockHub_AskOriginIf(&ask), SOCKHUB_OK);
  for (const bool allow : {true, false}) {
    auto pending = std::async(std::launch::async, [&] { return attempt("http://camera-portal.example"); });
    const auto question = waitForQuestion(5s);
    ASSERT_TRUE(question.has_value());
    EXPECT_EQ(question->second, "http://camera-portal.example");
    EXPECT_EQ(SockHub_AnswerOrigin(question->first, allow), SOCKHUB_OK);
    EXPECT_EQ(pending.get(), allow ? 101u : 403u);
    // One answer per question.
    EXPECT_EQ(SockHub_AnswerOrigin(question->first, true), SOCKHUB_ERR_NO_CONNECTION);
  }
  // Listed origins are not asked about.
  EXPECT_EQ(attempt("http://192.168.1.64"), 101u);
  EXPECT_FALSE(waitForQuestion(0ms).has_value());
  SockHubAskOriginParam none{nullptr};
  ASSERT_EQ(SockHub_AskOriginIf(&none), SOCKHUB_OK);
  EXPECT_EQ(SockHub_AnswerOrigin(12345, true), SOCKHUB_ERR_NO_CONNECTION);
}

TEST_F(SockHubTest, AConnectionsEndIsReportedOnceAfterItsMessages) {
  Watchdog watchdog(30s, "connection end");
  constexpr int kMessages = 40;
  const auto sendSlowBurst = [&](WsClient& client, const std::string& tag) {
    for (int i = 0; i < kMessages; ++i) ASSERT_TRUE(client.sendText("slow-" + tag + std::to_string(i)));
  };
  struct Case {
    const char* name;
    std::function<void(WsClient&)> end;
  };
  const std::vector<Case> cases = {
      {"reset", [](WsClient& c) { c.abort(true); }},
      {"fin", [](WsClient& c) { c.abort(false); }},
      {"close", [](WsClient& c) { c.close(); }},
  };
  for (const Case& c : cases) {
    WsClient client;
    const int32_t id = connectAndIdentify(client, std::string("hello-") + c.name);
    ASSERT_NE(id, 0) << c.name;
    sendSlowBurst(client, c.name);
    // Give the server time to receive the burst; the slow handler is still
    // working through it when the connection goes.
    ASSERT_TRUE(recorder().waitFor([&] { return recorder().receivedCountLocked(id) >= 3; }, 5s));
    c.end(client);
    ASSERT_TRUE(recorder().waitForEnd(id, 10s)) << c.name;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder().ends(id), 1) << c.name;
    // No message is handed over after the end; those still waiting were
    // dropped with the connection.
    EXPECT_EQ(recorder().handledAtEnd(id), recorder().received(id).size()) << c.name;
    EXPECT_LT(recorder().received(id).size(), static_cast<size_t>(kMessages) + 1) << c.name;
    EXPECT_EQ(SockHub_SendData(id, "x", 1), SOCKHUB_ERR_NO_CONNECTION) << c.name;
  }
}

TEST_F(SockHubTest, StopClosesEveryConnectionAndJoinsEveryThread) {
  Watchdog watchdog(30s, "stop");
  ASSERT_EQ(SockHub_Stop(), SOCKHUB_OK);
  const size_t idle = threadCount();
  start();

  constexpr int kClients = 5;
  std::vector<std::unique_ptr<WsClient>> clients;
  int32_t highestId = 0;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(std::make_unique<WsClient>());
    highestId = std::max(highestId, connectAndIdentify(*clients.back(), "hello-" + std::to_string(i)));
    ASSERT_NE(highestId, 0);
  }
  // A handler still busy when Stop comes is waited for.
  ASSERT_TRUE(clients[0]->sendText("block-stop"));
  ASSERT_TRUE(recorder().waitForBlocked(1, 5s));
  std::thread releaser([] {
    std::this_thread::sleep_for(200ms);
    CallbackRecorder::instance().release();
  });
  EXPECT_GT(threadCount(), idle);
  ASSERT_EQ(SockHub_Stop(), SOCKHUB_OK);
  releaser.join();

  EXPECT_EQ(recorder().totalEnds(), static_cast<size_t>(kClients));
  for (auto& client : clients) EXPECT_EQ(client->waitForClose(), 1001);
  EXPECT_EQ(threadCount(), idle);
  EXPECT_EQ(SockHub_BoundPort(), 0);
  EXPECT_EQ(SockHub_SendData(highestId, "x", 1), SOCKHUB_ERR_NOT_STARTED);
  EXPECT_EQ(SockHub_Stop(), SOCKHUB_ERR_NOT_STARTED);

  // Started again, it serves with ids that were never used before.
  start();
  WsClient again;
  const int32_t id = connectAndIdentify(again, "again");
  EXPECT_GT(id, highestId);
}

TEST_F(SockHubTest, SendDataFromManyThreadsKeepsEachThreadsOrder) {
  Watchdog watchdog(60s, "concurrent sends");
  WsClient client;
  const int32_t id = connectAndIdentify(client, "hello");
  ASSERT_NE(id, 0);
  constexpr int kThreads = 8;
  constexpr int kEach = 500;
  std::vector<std::thread> senders;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&, t] {
      for (int n = 0; n < kEach; ++n) {
        const std::string text = std::to_string(t) + ":" + std::to_string(n);
        if (SockHub_SendData(id, text.data(), text.size()) != SOCKHUB_OK) ++failures;
      }
    });
  }
  std::vector<int> next(kThreads, 0);
  int received = 0;
  for (; received < kThreads * kEach; ++received) {
    const auto text = client.receive(10s);
    ASSERT_TRUE(text.has_value()) << "after " << received;
    const size_t colon = text->find(':');
    const int t = std::stoi(text->substr(0, colon));
    const int n = std::stoi(text->substr(colon + 1));
    ASSERT_EQ(n, next[t]) << "thread " << t;
    ++next[t];
  }
  for (auto& s : senders) s.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST_F(SockHubTest, ResultCodesAndArgumentChecks) {
  Watchdog watchdog(30s, "codes");
  EXPECT_EQ(SockHub_SendData(987654, "x", 1), SOCKHUB_ERR_NO_CONNECTION);
  EXPECT_EQ(SockHub_Start(), SOCKHUB_ERR_ALREADY_STARTED);
  EXPECT_EQ(SockHub_SetGlobalParam(nullptr), SOCKHUB_ERR_INVALID_ARG);
  SockHubGlobalParam param{};
  param.port = 70000;
  EXPECT_EQ(SockHub_SetGlobalParam(&param), SOCKHUB_ERR_INVALID_ARG);
  param.port = -1;
  EXPECT_EQ(SockHub_SetGlobalParam(&param), SOCKHUB_ERR_INVALID_ARG);
  param.port = 0;
  param.pingIntervalMs = -1;
  EXPECT_EQ(SockHub_SetGlobalParam(&param), SOCKHUB_ERR_INVALID_ARG);
  param.pingIntervalMs = 0;
  param.idleTimeoutMs = -1;
  EXPECT_EQ(SockHub_SetGlobalParam(&param), SOCKHUB_ERR_INVALID_ARG);
  param.idleTimeoutMs = 0;
  EXPECT_EQ(SockHub_ReceiveDataIf(nullptr), SOCKHUB_ERR_INVALID_ARG);
  EXPECT_EQ(SockHub_ClientActiontIf(nullptr), SOCKHUB_ERR_INVALID_ARG);

  WsClient client;
  const int32_t id = connectAndIdentify(client, "hello");
  ASSERT_NE(id, 0);
  EXPECT_EQ(SockHub_SendData(id, nullptr, 3), SOCKHUB_ERR_INVALID_ARG);
  EXPECT_EQ(SockHub_SendData(id, nullptr, 0), SOCKHUB_OK);
  EXPECT_EQ(client.receive(), "");
  // A message with an embedded NUL reaches the callback cut at the NUL.
  ASSERT_TRUE(client.sendText(std::string("ab\0cd", 5)));
  EXPECT_EQ(client.receive(), "ab");
  // Stop from inside a callback would join its own thread: refused.
  ASSERT_TRUE(client.sendText("stop"));
  EXPECT_EQ(client.receive(), "stop:" + std::to_string(SOCKHUB_ERR_BUSY));
  client.close();

  // Origin lists with a missing text are refused and leave the list alone.
  const char* const broken[] = {"http://a", nullptr};
  EXPECT_EQ(SockHub_SetAllowedOrigins(broken, 2), SOCKHUB_ERR_INVALID_ARG);
  EXPECT_EQ(SockHub_SetAllowedOrigins(nullptr, 1), SOCKHUB_ERR_INVALID_ARG);

  // The configured port is the one bound; the server reads no environment,
  // so a port variable left in it changes nothing.
  // The same holds for an origin variable, and the refused lists above left
  // the list empty: only the server's own pages and local programs come in.
  ASSERT_EQ(SockHub_Stop(), SOCKHUB_OK);
  param.port = port_;
  ASSERT_EQ(SockHub_SetGlobalParam(&param), SOCKHUB_OK);
  ::setenv("KESTROVA_WS_PORT", "not-a-port", 1);
  ::setenv("KESTROVA_ALLOWED_ORIGINS", "http://only.example", 1);
  EXPECT_EQ(SockHub_Start(), SOCKHUB_OK);
  ::unsetenv("KESTROVA_WS_PORT");
  ::unsetenv("KESTROVA_ALLOWED_ORIGINS");
  EXPECT_EQ(SockHub_BoundPort(), port_);
  {
    WsClient client;
    WsClient::Options options;
    options.origin = "http://only.example";
    EXPECT_FALSE(client.connect(port_, options));
    EXPECT_EQ(client.handshakeStatus(), 403u);
  }
  // A port that is taken fails to bind.
  ASSERT_EQ(SockHub_Stop(), SOCKHUB_OK);
  {
    boost::asio::io_context ioc;
    boost::asio::ip::tcp::acceptor holder(ioc, {boost::asio::ip::make_address_v4("127.0.0.1"), 0});
    param.port = holder.local_endpoint().port();
    ASSERT_EQ(SockHub_SetGlobalParam(&param), SOCKHUB_OK);
    EXPECT_EQ(SockHub_Start(), SOCKHUB_ERR_BIND);
  }
}

TEST_F(SockHubTest, MessagesBeforeARegisteredCallbackAreHeldUntilThen) {
  Watchdog watchdog(30s, "held messages");
  SockHubReceiveDataParam none{nullptr};
  ASSERT_EQ(SockHub_ReceiveDataIf(&none), SOCKHUB_OK);
  WsClient client;
  ASSERT_TRUE(client.connect(port_));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(client.sendText("early-" + std::to_string(i)));
  EXPECT_EQ(client.receive(200ms), std::nullopt);
  registerCallbacks();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(client.receive(), "early-" + std::to_string(i));
}

}  // namespace
