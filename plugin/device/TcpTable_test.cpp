#include "plugin/device/TcpTable.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

namespace ksplugs {
namespace {

// A listening socket and a client connected to it, on one loopback family.
class LoopbackPair {
 public:
  explicit LoopbackPair(bool ipv6) {
    const int family = ipv6 ? AF_INET6 : AF_INET;
    listener_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    client_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage address{};
    socklen_t length = 0;
    if (ipv6) {
      auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
      in6->sin6_family = AF_INET6;
      in6->sin6_addr = in6addr_loopback;
      length = sizeof *in6;
    } else {
      auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
      in4->sin_family = AF_INET;
      in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      length = sizeof *in4;
    }
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0) return;
    if (::listen(listener_, 4) != 0) return;
    if (::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return;
    if (::connect(client_, reinterpret_cast<sockaddr*>(&address), length) != 0) return;
    serverPort_ = portOf(listener_);
    clientPort_ = portOf(client_);
  }
  ~LoopbackPair() {
    ::close(client_);
    ::close(listener_);
  }
  bool ready() const { return clientPort_ != 0; }
  uint16_t serverPort() const { return serverPort_; }
  uint16_t clientPort() const { return clientPort_; }

 private:
  static uint16_t portOf(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  }

  int listener_ = -1;
  int client_ = -1;
  uint16_t serverPort_ = 0;
  uint16_t clientPort_ = 0;
};

TEST(TcpTable, ParsesBothTableFormatsAndSkipsJunk) {
  const std::string v4 =
      "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
      "   0: 0100007F:805A 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 4242 1 0 100 0\n"
      "   1: 0100007F:C350 0100007F:805A 01 00000000:00000000 00:00000000 00000000  1000        0 0 1\n"
      "   2: 0100007F:ZZZZ 0100007F:805A 01 00000000:00000000 00:00000000 00000000  1000        0 7 1\n"
      "   3: 0100007F\n"
      "   4: 0100007F:10000 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 8 1\n";
  const std::vector<TcpTable::Row> rows = TcpTable::parse(v4, false);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].localPort, 0x805A);
  EXPECT_EQ(rows[0].state, 10);
  EXPECT_EQ(rows[0].inode, 4242u);
  EXPECT_EQ(rows[0].localAddress, "0100007F");
  EXPECT_EQ(rows[1].remotePort, 0x805A);
  EXPECT_EQ(rows[1].inode, 0u);

  const std::string v6 =
      "  sl  local_address                         remote_address                        st ...\n"
      "   0: 00000000000000000000000001000000:1F90 00000000000000000000000000000000:0000 0A 00000000:00000000 "
      "00:00000000 00000000  1000        0 99 1\n"
      "   1: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 98 1\n";
  const std::vector<TcpTable::Row> rows6 = TcpTable::parse(v6, true);
  ASSERT_EQ(rows6.size(), 1u);  // an IPv4-sized address is not an IPv6 row
  EXPECT_TRUE(rows6[0].ipv6);
  EXPECT_EQ(rows6[0].localPort, 8080);
  EXPECT_EQ(rows6[0].inode, 99u);
  EXPECT_TRUE(TcpTable::parse("", false).empty());
}

TEST(TcpTable, FindsThisProcessBehindItsOwnSockets) {
  for (const bool ipv6 : {false, true}) {
    LoopbackPair pair(ipv6);
    if (!pair.ready()) {
      ASSERT_TRUE(ipv6) << "no IPv4 loopback";
      GTEST_SKIP() << "no IPv6 loopback here";
    }
    for (const uint16_t port : {pair.clientPort(), pair.serverPort()}) {
      const std::optional<TcpTable::Row> row = TcpTable::findLocalPort(port);
      ASSERT_TRUE(row.has_value()) << "port " << port << (ipv6 ? " v6" : " v4");
      EXPECT_EQ(row->ipv6, ipv6);
      EXPECT_EQ(row->state, port == pair.serverPort() ? 10 : 1);
      EXPECT_EQ(TcpTable::ownerOfInode(row->inode), static_cast<uint32_t>(::getpid()));
    }
  }
}

TEST(TcpTable, UnknownPortsAndInodesHaveNoOwner) {
  // A port bound and released again: no socket holds it any more.
  uint16_t freed = 0;
  {
    LoopbackPair probe(false);
    freed = probe.serverPort();
  }
  const std::optional<TcpTable::Row> row = TcpTable::findLocalPort(freed);
  // Only the client side's time-wait row may remain, and that has no socket.
  EXPECT_FALSE(row.has_value());
  EXPECT_FALSE(TcpTable::ownerOfInode(0).has_value());
  EXPECT_FALSE(TcpTable::ownerOfInode(UINT64_MAX).has_value());
}

TEST(TcpTable, NamesProcessesLikeTheirProgramFile) {
  char self[4096] = {};
  ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
  std::string name(self);
  name = name.substr(name.rfind('/') + 1);
  const uint32_t pid = static_cast<uint32_t>(::getpid());
  EXPECT_EQ(TcpTable::processImageName(pid), name);

  std::string shouted = name;
  std::transform(shouted.begin(), shouted.end(), shouted.begin(), [](unsigned char c) { return std::toupper(c); });
  const std::vector<uint32_t> same = TcpTable::processesNamed(shouted);
  EXPECT_NE(std::find(same.begin(), same.end(), pid), same.end());
  EXPECT_TRUE(std::is_sorted(same.begin(), same.end()));

  EXPECT_EQ(TcpTable::processImageName(0x7FFFFFF0u), "");
  EXPECT_TRUE(TcpTable::processesNamed("").empty());
  EXPECT_TRUE(TcpTable::processesNamed(name + ".not-running").empty());
}

}  // namespace
}  // namespace ksplugs
