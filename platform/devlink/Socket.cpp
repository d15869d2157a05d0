#include "platform/devlink/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/devlink/DevLinkSdk.h"

namespace devlink {
namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until the deadline (never negative); -1 for no deadline.
int remainingMs(bool hasDeadline, Clock::time_point deadline) {
  if (!hasDeadline) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

Socket::~Socket() { close(); }

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void Socket::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

void Socket::shutdownBoth() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void Socket::setNonBlocking() {
  if (fd_ >= 0) fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

int Socket::connectTo(const std::string& host, uint16_t port, int timeoutMs, int receiveBuffer,
                      int sendBuffer, Socket& out) {
  if (host.empty() || port == 0) return DLSDK_ERR_INVALID_PARAMETER;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || !list) return DLSDK_ERR_CONNECT;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int result = DLSDK_ERR_CONNECT;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    Socket s(::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol));
    if (!s.valid()) continue;
    // Buffer sizes must be set before connecting to affect the TCP window.
    if (receiveBuffer > 0) setsockopt(s.fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (sendBuffer > 0) setsockopt(s.fd_, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    const int one = 1;
    setsockopt(s.fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const int flags = fcntl(s.fd_, F_GETFL);
    fcntl(s.fd_, F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(s.fd_, ai->ai_addr, ai->ai_addrlen);
    if (rc != 0 && errno == EINPROGRESS) {
      pollfd p{s.fd_, POLLOUT, 0};
      int n;
      do {
        n = ::poll(&p, 1, remainingMs(true, deadline));
      } while (n < 0 && errno == EINTR);
      if (n == 0) {
        result = DLSDK_ERR_TIMEOUT;
        continue;
      }
      int err = 0;
      socklen_t len = sizeof err;
      getsockopt(s.fd_, SOL_SOCKET, SO_ERROR, &err, &len);
      rc = (n > 0 && err == 0) ? 0 : -1;
    }
    if (rc != 0) continue;
    fcntl(s.fd_, F_SETFL, flags);
    out = std::move(s);
    result = DLSDK_OK;
    break;
  }
  freeaddrinfo(list);
  return result;
}

bool Socket::listenOn(const std::string& address, uint16_t port, Socket& out, uint16_t& boundPort) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) return false;
  Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!s.valid()) return false;
  const int one = 1;
  setsockopt(s.fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(s.fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
  if (::listen(s.fd_, 64) != 0) return false;
  socklen_t len = sizeof addr;
  getsockname(s.fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  boundPort = ntohs(addr.sin_port);
  out = std::move(s);
  return true;
}

Socket Socket::accept() {
  for (;;) {
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      const int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return Socket(fd);
    }
    // A client that gave up before it was accepted is not the listener's end.
    if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) continue;
    if (errno == EMFILE || errno == ENFILE) {
      usleep(10000);
      continue;
    }
    return Socket();
  }
}

int Socket::sendAll(const uint8_t* data, size_t size, int timeoutMs) {
  const bool hasDeadline = timeoutMs >= 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(hasDeadline ? timeoutMs : 0);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::send(fd_, data + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd_, POLLOUT, 0};
      const int r = ::poll(&p, 1, remainingMs(hasDeadline, deadline));
      if (r == 0) return DLSDK_ERR_TIMEOUT;
      if (r < 0 && errno != EINTR) return DLSDK_ERR_CONNECT;
      continue;
    }
    return DLSDK_ERR_CONNECT;
  }
  return DLSDK_OK;
}

int Socket::sendMessage(uint16_t type, uint16_t result, uint32_t requestId, std::span<const uint8_t> body,
                        int timeoutMs) {
  const std::vector<uint8_t> m = wire::buildMessage(type, result, requestId, body);
  return sendAll(m.data(), m.size(), timeoutMs);
}

int Socket::readMessage(wire::MessageReader& reader, wire::Message& out, int timeoutMs) {
  const bool hasDeadline = timeoutMs >= 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(hasDeadline ? timeoutMs : 0);
  uint8_t chunk[64 * 1024];
  for (;;) {
    const wire::ParseStatus s = reader.next(out);
    if (s == wire::ParseStatus::kOk) return DLSDK_OK;
    if (s == wire::ParseStatus::kBad) return DLSDK_ERR_PROTOCOL;
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, remainingMs(hasDeadline, deadline));
    if (r == 0) return DLSDK_ERR_TIMEOUT;
    if (r < 0) {
      if (errno == EINTR) continue;
      return DLSDK_ERR_CONNECT;
    }
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n == 0) return DLSDK_ERR_CONNECT;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return DLSDK_ERR_CONNECT;
    }
    if (!reader.feed(std::span<const uint8_t>(chunk, static_cast<size_t>(n)))) return DLSDK_ERR_PROTOCOL;
  }
}

}  // namespace devlink
