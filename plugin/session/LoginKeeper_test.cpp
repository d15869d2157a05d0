#include "plugin/session/LoginKeeper.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "platform/devlink/DevLinkSdk.h"
#include "plugin/api/ksplugs.h"

namespace WebPlug_NCL {
namespace {

// A device that takes the connection and never answers, with a short
// command time-out while it lives.
class HangingDevice {
 public:
  HangingDevice() {
    DLSDK_StartUp();
    DLSDK_SetAttribute(DLSDK_ATTR_COMMAND_TIMEOUT_MS, 300);
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd_, 16) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~HangingDevice() {
    ::close(fd_);
    DLSDK_SetAttribute(DLSDK_ATTR_COMMAND_TIMEOUT_MS, 5000);
  }
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

// The cells of a device that hangs all wait for the same login: one attempt
// answers all of them, and a later open tries again.
TEST(LoginKeeper, CallersWaitingForOneLoginShareItsFailure) {
  HangingDevice device;
  ASSERT_NE(device.port(), 0);
  LoginKeeper keeper({"127.0.0.1", device.port(), "admin", "admin"});
  const uint64_t seen = keeper.attempts();
  std::vector<int> results(6, KS_OK);
  std::vector<std::thread> cells;
  for (int& result : results) cells.emplace_back([&] { result = keeper.loginSince(seen); });
  for (std::thread& cell : cells) cell.join();
  EXPECT_EQ(keeper.attempts(), seen + 1);
  for (int result : results) {
    EXPECT_NE(result, KS_OK);
    EXPECT_EQ(result, results.front());
  }
  EXPECT_EQ(keeper.handle(), -1);

  // One who queued before the failure hears it; one who comes after tries.
  EXPECT_EQ(keeper.loginSince(seen), results.front());
  EXPECT_EQ(keeper.attempts(), seen + 1);
  EXPECT_NE(keeper.loginSince(keeper.attempts()), KS_OK);
  EXPECT_EQ(keeper.attempts(), seen + 2);
  // Renewing a login that is not there is a fresh login.
  EXPECT_NE(keeper.renew(-1), KS_OK);
  EXPECT_EQ(keeper.attempts(), seen + 3);
}

}  // namespace
}  // namespace WebPlug_NCL
