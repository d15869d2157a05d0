// The challenge-response login over real TCP: a raw client that follows the
// documented message layout and proof formula against the device simulator,
// and the SDK against a device that checks every byte the SDK sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/LoginProof.h"
#include "platform/devlink/Socket.h"
#include "platform/devlink/WireFormat.h"
#include "platform/devlink/testing/FakeDevice.h"
#include "tests/support/Watchdog.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using namespace std::chrono_literals;
namespace wire = devlink::wire;

// One login attempt by hand: the opening request, then whatever proof the
// test makes from the challenge.
struct HandLogin {
  devlink::Socket socket;
  wire::MessageReader reader;
  wire::LoginChallenge challenge;
  std::array<uint8_t, wire::kClientNonceSize> clientNonce{};

  // The challenge's result code (-1 when the transport failed).
  int open(uint16_t port, const std::string& user) {
    if (devlink::Socket::connectTo("127.0.0.1", port, 2000, 0, 0, socket) != DLSDK_OK) return -1;
    wire::LoginChallengeRequest opening;
    opening.user = user;
    devlink::randomBytes(opening.clientNonce);
    clientNonce = opening.clientNonce;
    wire::Message reply;
    if (socket.sendMessage(wire::kLoginChallenge, 0, 1, wire::encode(opening), 2000) != DLSDK_OK) return -1;
    if (socket.readMessage(reader, reply, 5000) != DLSDK_OK) return -1;
    if (reply.header.result == DLSDK_OK && !wire::decode(reply.body, challenge)) return -1;
    return reply.header.result;
  }
  int prove(std::span<const uint8_t> body) {
    wire::Message reply;
    if (socket.sendMessage(wire::kLogin, 0, 2, body, 2000) != DLSDK_OK) return -1;
    if (socket.readMessage(reader, reply, 5000) != DLSDK_OK) return -1;
    return reply.header.result;
  }
};

class DevLinkLoginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    devsim::DevSimOptions o;
    o.commandPort = 0;
    o.mediaPort = 0;
    o.channels = 1;
    o.accounts.push_back({"viewer", "an0ther-Secret", true});
    server_ = std::make_unique<devsim::DevSimServer>(o);
    std::string error;
    ASSERT_TRUE(server_->start(&error)) << error;
  }

  std::unique_ptr<devsim::DevSimServer> server_;
  kstest::Watchdog watchdog_{60s, "DevLinkLoginTest"};
};

TEST_F(DevLinkLoginTest, TheDeviceTakesOnlyAProofForThisChallengeNoncesUserAndPassword) {
  // A proof seen on an earlier connection, to replay.
  HandLogin earlier;
  ASSERT_EQ(earlier.open(server_->commandPort(), "admin"), DLSDK_OK);
  devlink::LoginKey admin;
  ASSERT_TRUE(devlink::LoginKey::derive("admin", earlier.challenge.salt, earlier.challenge.iterations, admin));
  const auto replayed = admin.proof(earlier.challenge.serverNonce, earlier.clientNonce, "admin");
  ASSERT_EQ(earlier.prove(replayed), DLSDK_OK);

  using MakeProof = std::function<std::vector<uint8_t>(HandLogin&)>;
  auto keyed = [](const std::string& password, const std::string& user, bool otherServerNonce,
                  bool otherClientNonce) -> MakeProof {
    return [=](HandLogin& l) {
      devlink::LoginKey key;
      EXPECT_TRUE(devlink::LoginKey::derive(password, l.challenge.salt, l.challenge.iterations, key));
      auto server = l.challenge.serverNonce;
      auto client = l.clientNonce;
      if (otherServerNonce) server[0] ^= 1;
      if (otherClientNonce) client[15] ^= 0x80;
      const auto p = key.proof(server, client, user);
      return std::vector<uint8_t>(p.begin(), p.end());
    };
  };
  struct Case {
    const char* name;
    std::string user;  // the account the opening names
    MakeProof proof;
    int expected;
  };
  const std::vector<Case> cases{
      {"the right proof", "admin", keyed("admin", "admin", false, false), DLSDK_OK},
      {"a second account", "viewer", keyed("an0ther-Secret", "viewer", false, false), DLSDK_OK},
      {"a wrong password", "admin", keyed("admin ", "admin", false, false), DLSDK_ERR_BAD_PASSWORD},
      {"another account's password", "viewer", keyed("admin", "viewer", false, false), DLSDK_ERR_BAD_PASSWORD},
      {"made for another user name", "admin", keyed("admin", "viewer", false, false), DLSDK_ERR_BAD_PASSWORD},
      {"made for another device nonce", "admin", keyed("admin", "admin", true, false), DLSDK_ERR_BAD_PASSWORD},
      {"made for another client nonce", "admin", keyed("admin", "admin", false, true), DLSDK_ERR_BAD_PASSWORD},
      {"replayed from another connection", "admin",
       [&](HandLogin&) { return std::vector<uint8_t>(replayed.begin(), replayed.end()); }, DLSDK_ERR_BAD_PASSWORD},
      {"a proof of the wrong size", "admin", [](HandLogin&) { return std::vector<uint8_t>(16, 0); },
       DLSDK_ERR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HandLogin l;
    ASSERT_EQ(l.open(server_->commandPort(), c.user), DLSDK_OK);
    EXPECT_GE(l.challenge.iterations, wire::kMinKeyIterations);
    EXPECT_EQ(l.prove(c.proof(l)), c.expected);
  }

  // Each connection gets a nonce of its own; an unknown user gets no challenge.
  HandLogin a, b, nobody;
  ASSERT_EQ(a.open(server_->commandPort(), "admin"), DLSDK_OK);
  ASSERT_EQ(b.open(server_->commandPort(), "admin"), DLSDK_OK);
  EXPECT_NE(a.challenge.serverNonce, b.challenge.serverNonce);
  EXPECT_EQ(a.challenge.salt, b.challenge.salt);
  EXPECT_EQ(nobody.open(server_->commandPort(), "nobody"), DLSDK_ERR_UNKNOWN_USER);

  // A proof without a challenge before it is refused and the connection closed.
  devlink::Socket raw;
  ASSERT_EQ(devlink::Socket::connectTo("127.0.0.1", server_->commandPort(), 2000, 0, 0, raw), DLSDK_OK);
  ASSERT_EQ(raw.sendMessage(wire::kLogin, 0, 1, std::vector<uint8_t>(wire::kProofSize), 2000), DLSDK_OK);
  wire::MessageReader reader;
  wire::Message reply;
  ASSERT_EQ(raw.readMessage(reader, reply, 5000), DLSDK_OK);
  EXPECT_EQ(reply.header.result, DLSDK_ERR_INVALID_PARAMETER);
  EXPECT_EQ(raw.readMessage(reader, reply, 5000), DLSDK_ERR_CONNECT);
}

TEST(DevLinkLoginSdk, TheSdkSendsAProofAndNeverThePassword) {
  kstest::Watchdog watchdog{60s, "DevLinkLoginSdk"};
  ASSERT_EQ(DLSDK_StartUp(), DLSDK_OK);
  ASSERT_EQ(DLSDK_SetAttribute(DLSDK_ATTR_COMMAND_TIMEOUT_MS, 2000), DLSDK_OK);
  const std::string password = "Pa55word-with-31-characters-xyz";
  ASSERT_EQ(password.size(), 31u);

  // A device that checks the proof by the documented formula and keeps
  // every byte the SDK sent.
  std::mutex mutex;
  std::vector<uint8_t> sent;  // guarded by mutex
  devlink::testing::FakeDevice device([&](devlink::Socket& s) {
    wire::MessageReader reader;
    wire::Message opening, login;
    auto keep = [&](const wire::Message& m) {
      std::lock_guard lock(mutex);
      std::vector<uint8_t> all = wire::buildMessage(m.header.type, 0, m.header.requestId, m.body);
      sent.insert(sent.end(), all.begin(), all.end());
    };
    if (s.readMessage(reader, opening, 3000) != DLSDK_OK) return;
    keep(opening);
    wire::LoginChallengeRequest hello;
    ASSERT_TRUE(wire::decode(opening.body, hello));
    wire::LoginChallenge challenge;
    devlink::randomBytes(challenge.serverNonce);
    challenge.salt.fill(0x5A);
    challenge.iterations = wire::kMinKeyIterations;
    s.sendMessage(wire::kLoginChallenge, 0, opening.header.requestId, wire::encode(challenge), 1000);
    if (s.readMessage(reader, login, 3000) != DLSDK_OK) return;
    keep(login);
    wire::LoginRequest proof;
    ASSERT_TRUE(wire::decode(login.body, proof));
    devlink::LoginKey key;
    ASSERT_TRUE(devlink::LoginKey::derive(password, challenge.salt, challenge.iterations, key));
    const auto expected = key.proof(challenge.serverNonce, hello.clientNonce, hello.user);
    const bool good = devlink::proofsEqual(expected, proof.proof) && hello.user == "operator";
    s.sendMessage(wire::kLogin, good ? DLSDK_OK : DLSDK_ERR_BAD_PASSWORD, login.header.requestId,
                  good ? wire::encode(wire::LoginReply{{3, 4}, 2}) : std::vector<uint8_t>{}, 1000);
    std::this_thread::sleep_for(50ms);
  });

  DLSDK_LoginInfo info{};
  std::strcpy(info.address, "127.0.0.1");
  info.commandPort = device.port();
  std::strcpy(info.user, "operator");
  std::strcpy(info.password, password.c_str());
  int32_t handle = -1;
  EXPECT_EQ(DLSDK_UserLogin(&handle, &info), DLSDK_OK);
  EXPECT_NE(handle, -1);
  info.password[0] = 'p';
  int32_t refused = 7;
  EXPECT_EQ(DLSDK_UserLogin(&refused, &info), DLSDK_ERR_BAD_PASSWORD);
  EXPECT_EQ(refused, -1);

  std::lock_guard lock(mutex);
  for (const std::string& secret : {password, std::string(info.password), password.substr(0, 12)}) {
    EXPECT_EQ(std::search(sent.begin(), sent.end(), secret.begin(), secret.end()), sent.end()) << secret;
  }
  EXPECT_EQ(sent.size(),
            2 * (2 * wire::kMessageHeaderSize + 4 + wire::kNameFieldSize + wire::kClientNonceSize + wire::kProofSize));
  DLSDK_CleanUp();
}

}  // namespace
