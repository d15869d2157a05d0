// The shell as a user meets it: a separate process serving WebSocket
// connections on loopback.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ShellProcess.h"
#include "tests/support/Watchdog.h"
#include "tests/support/WsClient.h"

namespace {

using namespace std::chrono_literals;
using kstest::ShellProcess;
using kstest::WsClient;

Json::Value parse(const std::string& text) {
  Json::Value value;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(text);
  if (!Json::parseFromStream(builder, in, &value, &errors)) return Json::Value();
  return value;
}

std::string query(uint32_t msgId) {
  return R"({"msgId": )" + std::to_string(msgId) + R"(, "Fountion": "recordQuery", "PlaybackQuery": {"type": 3}})";
}

// Sends one request and checks that the answer carries the same msgId.
void expectAnswered(WsClient& client, uint32_t msgId) {
  ASSERT_TRUE(client.sendText(query(msgId)));
  const auto reply = client.receive(10s);
  ASSERT_TRUE(reply.has_value());
  const Json::Value value = parse(*reply);
  EXPECT_EQ(value["msgId"].asUInt(), msgId);
  EXPECT_EQ(value["code"].asInt(), 1001);
}

TEST(ShellProcess, ManyConnectionsGetEveryReplyInOrder) {
  kstest::Watchdog watchdog(120s, "ManyConnectionsGetEveryReplyInOrder");
  ShellProcess shell;
  ASSERT_TRUE(shell.start());
  constexpr int kConnections = 20;
  constexpr int kMessages = 1000;
  constexpr int kWindow = 50;  // requests in flight per connection
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < kConnections; ++c) {
    threads.emplace_back([&, c] {
      WsClient client;
      if (!client.connect(shell.port())) {
        ++failures;
        return;
      }
      int sent = 0;
      for (int received = 0; received < kMessages; ++received) {
        while (sent < kMessages && sent - received < kWindow) {
          if (!client.sendText(query(static_cast<uint32_t>(c * kMessages + sent)))) {
            ++failures;
            return;
          }
          ++sent;
        }
        const auto reply = client.receive(20s);
        if (!reply || parse(*reply)["msgId"].asUInt() != static_cast<uint32_t>(c * kMessages + received)) {
          ++failures;
          return;
        }
      }
      client.close();
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  ASSERT_TRUE(shell.signal(SIGTERM));
  const auto status = shell.wait(20s);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

TEST(ShellProcess, GarbageNeverEndsIt) {
  kstest::Watchdog watchdog(120s, "GarbageNeverEndsIt");
  ShellProcess shell;
  ASSERT_TRUE(shell.start());

  {  // Texts that are not commands get a 1000 answer on the same connection.
    WsClient client;
    ASSERT_TRUE(client.connect(shell.port()));
    for (const std::string& text : {std::string("not json"), std::string("[1,2]"), std::string("{"),
                                   std::string("{\"msgId\": 1, \"Fountion\": \"live\", \"LiveCtrl\": 5}"),
                                   std::string(200000, '[')}) {
      ASSERT_TRUE(client.sendText(text));
      const auto reply = client.receive(10s);
      ASSERT_TRUE(reply.has_value());
      EXPECT_EQ(parse(*reply)["code"].asInt(), 1000);
    }
    expectAnswered(client, 77);
  }
  {  // A binary frame is refused: the connection ends.
    WsClient client;
    ASSERT_TRUE(client.connect(shell.port()));
    client.sendBinary("binary");
    EXPECT_NE(client.waitForClose(10s), -1);
  }
  {  // Text that is not UTF-8 breaks the protocol: the connection ends.
    WsClient client;
    ASSERT_TRUE(client.connect(shell.port()));
    client.sendText(std::string("\xff\xfe\x00", 3));
    EXPECT_NE(client.waitForClose(10s), -1);
  }
  {  // A message over 1 MiB is refused.
    WsClient client;
    ASSERT_TRUE(client.connect(shell.port()));
    client.sendText(std::string(1100 * 1024, 'x'));
    EXPECT_NE(client.waitForClose(10s), -1);
  }
  {  // A half handshake, then the connection dropped.
    WsClient client;
    ASSERT_TRUE(client.connectRaw(shell.port()));
    client.sendRaw("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n");
    client.abort();
  }
  {  // A frame cut off in the middle, then a reset.
    WsClient client;
    ASSERT_TRUE(client.connect(shell.port()));
    client.sendRaw(WsClient::frame(1, "{\"msgId\": 1", true, 5000));
    client.abort(true);
  }
  {  // A plain request, answered and closed.
    WsClient client;
    ASSERT_TRUE(client.connectRaw(shell.port()));
    client.sendRaw("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    client.readRawUntilClose(5s);
  }
  // The shell still serves.
  ASSERT_TRUE(shell.running());
  WsClient client;
  ASSERT_TRUE(client.connect(shell.port()));
  expectAnswered(client, 99);
}

// Who may drive the shell: its port (every ShellProcess passes a free one in
// KESTROVA_WS_PORT), the origins of KESTROVA_ALLOWED_ORIGINS and of the
// user's file, its own demo page, and local programs without an origin.
// Headless, nobody can be asked about any other origin: refused. The demo
// page is served on the same port.
TEST(ShellProcess, TrustedOriginsComeInAndTheDemoPageIsServed) {
  kstest::Watchdog watchdog(60s, "TrustedOrigins");
  char config[] = "/tmp/kestrova-config-XXXXXX";
  ASSERT_NE(::mkdtemp(config), nullptr);
  const std::string folder = std::string(config) + "/kestrova";
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  std::ofstream(folder + "/trusted-origins") << "# mine\nhttps://cams.example/\n";
  ShellProcess::Options options;
  options.extraEnv.push_back("KESTROVA_ALLOWED_ORIGINS=http://192.168.1.64, http://nvr.example:8080,,");
  options.extraEnv.push_back(std::string("XDG_CONFIG_HOME=") + config);
  ShellProcess shell(options);
  ASSERT_TRUE(shell.start());
  const auto attempt = [&](const std::string& origin) {
    WsClient client;
    WsClient::Options connect;
    connect.origin = origin;
    return client.connect(shell.port(), connect) ? 101u : client.handshakeStatus();
  };
  const std::string port = std::to_string(shell.port());
  struct Case {
    std::string origin;
    unsigned status;
  } cases[] = {
      {"http://192.168.1.64", 101},  {"HTTP://NVR.example:8080", 101}, {"https://cams.example", 101},
      {"http://127.0.0.1:" + port, 101}, {"http://localhost:" + port, 101}, {"", 101},
      {"http://192.168.1.65", 403},  {"https://cams.example.evil", 403}, {"http://127.0.0.1:1", 403},
      {"null", 403},
  };
  for (const Case& c : cases) EXPECT_EQ(attempt(c.origin), c.status) << c.origin;

  const auto get = [&](const std::string& target) {
    WsClient raw;
    EXPECT_TRUE(raw.connectRaw(shell.port()));
    raw.sendRaw("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + port + "\r\n\r\n");
    return raw.readRawUntilClose(5s);
  };
  const std::string page = get("/demo/");
  EXPECT_EQ(page.rfind("HTTP/1.1 200 OK", 0), 0u) << page.substr(0, 200);
  EXPECT_NE(page.find("Content-Type: text/html; charset=utf-8"), std::string::npos);
  EXPECT_NE(page.find("<!DOCTYPE html>"), std::string::npos);
  const std::string root = get("/");
  EXPECT_EQ(root.rfind("HTTP/1.1 302", 0), 0u);
  EXPECT_NE(root.find("Location: /demo/"), std::string::npos);
  EXPECT_EQ(get("/demo/nothing.js").rfind("HTTP/1.1 404", 0), 0u);
  std::system((std::string("rm -rf '") + config + "'").c_str());
}

TEST(ShellProcess, SecondInstanceLeavesAtOnceAndTheFirstKeepsServing) {
  kstest::Watchdog watchdog(60s, "SecondInstanceLeavesAtOnce");
  ShellProcess first;
  ASSERT_TRUE(first.start());
  ShellProcess::Options options;
  options.instanceName = first.instanceName();
  ShellProcess second(options);
  ASSERT_TRUE(second.spawn());
  const auto status = second.wait(15s);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);

  WsClient client;
  ASSERT_TRUE(client.connect(first.port()));
  expectAnswered(client, 5);
}

TEST(ShellProcess, TerminationClosesConnectionsAndExitsWithZero) {
  kstest::Watchdog watchdog(60s, "TerminationExitsWithZero");
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
    ShellProcess shell;
    ASSERT_TRUE(shell.start());
    WsClient client;
    ASSERT_TRUE(client.connect(shell.port()));
    expectAnswered(client, 1);
    ASSERT_TRUE(shell.signal(sig));
    EXPECT_NE(client.waitForClose(15s), -1);
    const auto status = shell.wait(20s);
    ASSERT_TRUE(status.has_value()) << "signal " << sig;
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "signal " << sig;
  }
}

}  // namespace
