#pragma once
// The system's TCP sockets and the processes behind them, read from /proc:
// /proc/net/tcp and /proc/net/tcp6 give each socket's ports and inode, the
// /proc/<pid>/fd links name the process that holds an inode, and
// /proc/<pid>/exe names its program. Dock placement uses these to go from
// the page's WebSocket port to the browser's windows.
//
// Everything here reads the file system afresh on each call and holds no
// state, so any thread may call it. Processes of other users may be
// invisible; they are then simply not found.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ksplugs {

class TcpTable {
 public:
  struct Row {
    bool ipv6 = false;
    std::string localAddress;  // as the kernel writes it (hex)
    uint16_t localPort = 0;
    uint16_t remotePort = 0;
    uint8_t state = 0;   // the kernel's TCP state: 1 established, 10 listening, ...
    uint64_t inode = 0;  // 0 when no socket object is left (time-wait)
  };

  // The IPv4 rows, then the IPv6 rows. A table that cannot be read adds none.
  static std::vector<Row> read();
  // Rows of one table's text; lines that do not parse are skipped.
  static std::vector<Row> parse(std::string_view text, bool ipv6);

  // The first socket (IPv4 before IPv6, in table order) whose local port is
  // `port` and that still has a socket object; none when there is no such row.
  static std::optional<Row> findLocalPort(uint16_t port);
  // The first process that holds the socket `inode` open; none when no
  // visible process does.
  static std::optional<uint32_t> ownerOfInode(uint64_t inode);

  // The program's file name without its folder (from /proc/<pid>/exe, else
  // /proc/<pid>/comm); empty when the process is gone or hidden.
  static std::string processImageName(uint32_t pid);
  // Every visible process whose image name equals `imageName`, without
  // regard to ASCII case, in ascending id order.
  static std::vector<uint32_t> processesNamed(std::string_view imageName);
};

}  // namespace ksplugs
