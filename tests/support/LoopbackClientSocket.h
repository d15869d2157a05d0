#pragma once
// A connected loopback TCP client socket of this process: the page's side of
// a connection, whose local port leads back to this process through the
// system's TCP table. Tests and benchmarks of the browser search use it.
// Header-only so unit tests beside the code can use it without a library.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace kstest {

class LoopbackClientSocket {
 public:
  LoopbackClientSocket() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    client_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(listener_, 1);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    ::connect(client_, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(client_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackClientSocket() {
    ::close(client_);
    ::close(listener_);
  }
  LoopbackClientSocket(const LoopbackClientSocket&) = delete;
  LoopbackClientSocket& operator=(const LoopbackClientSocket&) = delete;

  // The client's local port (what the server reports as the peer's port).
  uint16_t port() const { return port_; }

 private:
  int listener_ = -1;
  int client_ = -1;
  uint16_t port_ = 0;
};

}  // namespace kstest
