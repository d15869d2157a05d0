#pragma once
// Limits of the WebSocket server. The defaults are what the shell runs with;
// tests shrink them to reach each limit quickly.
#include <chrono>
#include <cstddef>

namespace sockhub {

struct ServerOptions {
  // From the accepted TCP connection to a complete upgrade request, and for
  // the WebSocket opening and closing handshakes.
  std::chrono::milliseconds handshakeTimeout{10000};
  // How long Stop lets closing handshakes run before it cuts connections.
  std::chrono::milliseconds stopGrace{1000};
  // Open TCP connections, handshaking ones included. Further ones are
  // accepted and closed at once.
  size_t maxConnections = 256;
  // Largest received message; a larger one ends the connection (close 1009).
  size_t maxMessageBytes = size_t{1} << 20;
  // Output queued for one connection and not yet written to its socket; a
  // peer that stops reading is dropped when this would be passed.
  size_t maxUnsentBytes = size_t{8} << 20;
  // Received messages waiting for the connection's handler thread. Reading
  // pauses while either bound is reached (at least one message always fits).
  size_t maxQueuedMessages = 16;
  size_t maxQueuedBytes = size_t{2} << 20;
  // How long an upgrade request whose origin nobody listed waits for the
  // judge's answer; then it is refused.
  std::chrono::milliseconds originQuestionTimeout{60000};
  // Size of the upgrade request's header block.
  size_t maxRequestHeaderBytes = 8192;
  // Keep-alive: every open connection is pinged at this interval, and one
  // from which nothing (no message, no pong, no other frame) has arrived for
  // idleTimeout is cut, so silent connections cannot hold the connection
  // bound for ever. Time spent with reading paused for a full handler queue
  // does not count as silence.
  std::chrono::milliseconds pingInterval{30000};
  std::chrono::milliseconds idleTimeout{60000};
};

}  // namespace sockhub
