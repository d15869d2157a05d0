#pragma once
// A TCP socket with deadlines: connecting, sending whole buffers and reading
// whole DevLink messages, each bounded in time. Used by the SDK and by the
// device simulator. Answers are DLSDK_* codes.
#include <cstdint>
#include <string>

#include "platform/devlink/WireFormat.h"

namespace devlink {

class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket();
  Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // Connects within timeoutMs. Buffer sizes of 0 keep the system's. Answers
  // 0, DLSDK_ERR_CONNECT (refused, unreachable, unknown host),
  // DLSDK_ERR_TIMEOUT or DLSDK_ERR_INVALID_PARAMETER (empty host, port 0).
  static int connectTo(const std::string& host, uint16_t port, int timeoutMs, int receiveBuffer,
                       int sendBuffer, Socket& out);
  // Listens on address:port (port 0 picks a free one). False on failure.
  static bool listenOn(const std::string& address, uint16_t port, Socket& out, uint16_t& boundPort);
  // Waits for a connection; an invalid socket when the listener was shut down.
  Socket accept();

  // Sends every byte before the deadline: 0, DLSDK_ERR_TIMEOUT or
  // DLSDK_ERR_CONNECT. A timed-out send leaves the stream unusable.
  int sendAll(const uint8_t* data, size_t size, int timeoutMs);
  int sendMessage(uint16_t type, uint16_t result, uint32_t requestId, std::span<const uint8_t> body,
                  int timeoutMs);
  // Reads until `reader` yields a message or the time runs out: 0,
  // DLSDK_ERR_TIMEOUT, DLSDK_ERR_CONNECT (closed by the peer) or
  // DLSDK_ERR_PROTOCOL (malformed). timeoutMs < 0 waits for ever.
  int readMessage(wire::MessageReader& reader, wire::Message& out, int timeoutMs);

  // Wakes every thread blocked on this socket; they see the connection closed.
  void shutdownBoth();
  void close();
  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void setNonBlocking();

 private:
  int fd_ = -1;
};

}  // namespace devlink
