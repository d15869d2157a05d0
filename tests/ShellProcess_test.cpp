// The shell as a user meets it: a separate process serving WebSocket
// connections on loopback.
#include "tests/support/ShellProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <json/reader.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Settle.h"
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
    for (const std::string& text :
         {std::string("not json"), std::string("[1,2]"), std::string("{"),
          std::string("{\"msgId\": 1, \"Fountion\": \"live\", \"LiveCtrl\": 5}"), std::string(200000, '[')}) {
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
      {"http://192.168.1.64", 101},      {"HTTP://NVR.example:8080", 101},
      {"https://cams.example", 101},     {"http://127.0.0.1:" + port, 101},
      {"http://localhost:" + port, 101}, {"", 101},
      {"http://192.168.1.65", 403},      {"https://cams.example.evil", 403},
      {"http://127.0.0.1:1", 403},       {"null", 403},
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

TEST(ShellProcess, SecondInstanceLeavesAtOnceSayingWhyAndTheFirstKeepsServing) {
  kstest::Watchdog watchdog(60s, "SecondInstanceLeavesAtOnce");
  ShellProcess first;
  ASSERT_TRUE(first.start());
  ShellProcess::Options options;
  options.instanceName = first.instanceName();
  options.captureStderr = true;
  ShellProcess second(options);
  ASSERT_TRUE(second.spawn());
  const auto status = second.wait(15s);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 2) << *status;
  EXPECT_NE(second.stderrText().find("another instance is already running"), std::string::npos) << second.stderrText();

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

// A shell whose port another program holds is of no use to any page: it
// ends at once, non-zero, and says why.
TEST(ShellProcess, APortHeldByAnotherProgramEndsItWithTheReason) {
  kstest::Watchdog watchdog(60s, "PortHeldByAnotherProgram");
  const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(holder, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(holder, 4), 0);
  ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const uint16_t port = ntohs(address.sin_port);

  ShellProcess::Options options;
  options.port = port;
  options.captureStderr = true;
  ShellProcess shell(options);
  ASSERT_TRUE(shell.spawn());
  const auto status = shell.wait(20s);
  close(holder);
  ASSERT_TRUE(status.has_value()) << "the shell kept running without its server";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 3) << *status;
  EXPECT_NE(shell.stderrText().find("cannot listen on 127.0.0.1:" + std::to_string(port)), std::string::npos)
      << shell.stderrText();
}

// The guard's name lives in a namespace every user shares. A name that
// another user holds blocks nobody; our own instance still does.
TEST(ShellProcess, AnotherUsersGuardDoesNotBlockOurs) {
  if (geteuid() != 0) GTEST_SKIP() << "holding the guard as another user needs root";
  kstest::Watchdog watchdog(90s, "AnotherUsersGuard");
  ShellProcess::Options options;
  options.instanceName = "KestrovaForeign_" + std::to_string(getpid());
  const std::string taken = options.instanceName + std::to_string(getuid());
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, taken.data(), taken.size());
  const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + taken.size());
  int ready[2];
  ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
  const pid_t foreign = fork();
  ASSERT_GE(foreign, 0);
  if (foreign == 0) {
    // Only async-signal-safe calls here: another user takes our name first.
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || listen(fd, 4) != 0) _exit(1);
    if (write(ready[1], "r", 1) != 1) _exit(1);
    for (;;) pause();
  }
  close(ready[1]);
  char byte = 0;
  const bool holding = read(ready[0], &byte, 1) == 1;
  close(ready[0]);
  ASSERT_TRUE(holding) << "the other user could not take the name";

  ShellProcess first(options);
  EXPECT_TRUE(first.start()) << "another user's guard blocked the shell";
  options.captureStderr = true;
  ShellProcess second(options);
  ASSERT_TRUE(second.spawn());
  const auto status = second.wait(15s);
  kill(foreign, SIGKILL);
  waitpid(foreign, nullptr, 0);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 2) << *status;
  EXPECT_TRUE(first.running());
}

// Every socket of a serving shell (the guard, the WebSocket server and a
// connection of it, the download server) is close-on-exec, so that a
// program it starts (the installer) inherits none of them. libcurl's own
// socket pairs, which live only while a request (the start-up upgrade
// check) is under way, are not; the installer is started with every
// descriptor above 2 closed, so the scan waits for a moment without them.
TEST(ShellProcess, EverySocketOfTheShellIsCloseOnExec) {
  kstest::Watchdog watchdog(60s, "SocketsCloseOnExec");
  ShellProcess shell;
  ASSERT_TRUE(shell.start());
  WsClient client;
  ASSERT_TRUE(client.connect(shell.port()));
  expectAnswered(client, 7);
  const std::string proc = "/proc/" + std::to_string(shell.pid());
  int sockets = 0;
  std::vector<std::string> inherited;
  const auto scan = [&] {
    sockets = 0;
    inherited.clear();
    for (const auto& entry : std::filesystem::directory_iterator(proc + "/fd")) {
      std::error_code ec;
      const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
      if (ec || target.rfind("socket:", 0) != 0) continue;
      ++sockets;
      std::ifstream info(proc + "/fdinfo/" + entry.path().filename().string());
      std::string line;
      unsigned long flags = 0;
      while (std::getline(info, line)) {
        if (line.rfind("flags:", 0) == 0) flags = std::stoul(line.substr(6), nullptr, 8);
      }
      if ((flags & O_CLOEXEC) == 0) inherited.push_back(entry.path().filename().string() + " " + target);
    }
    return inherited.empty();
  };
  EXPECT_TRUE(kstest::eventually(scan, 10s)) << "not close-on-exec: " << ::testing::PrintToString(inherited);
  EXPECT_GE(sockets, 4);
}

}  // namespace
