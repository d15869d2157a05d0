#pragma once
// A synchronous WebSocket test client with a time limit on every call.
//
// One object is one connection (connect once), used from one thread. It runs its own I/O
// context only while a call is in progress, so a test never hangs on it:
// every call returns by its deadline. Besides well-behaved use (text
// messages, a clean close) it offers what tests of a server need to misbehave
// on purpose: custom Host and Origin headers, binary messages, raw bytes on
// the TCP connection (half handshakes, truncated frames), and an abrupt drop.
#include <boost/asio/io_context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kstest {

class WsClient {
 public:
  using Duration = std::chrono::milliseconds;
  static constexpr Duration kDefaultTimeout{5000};

  struct Options {
    std::string hostHeader;  // empty: "127.0.0.1:<port>"
    std::string origin;      // empty: no Origin header
    std::string target = "/";
    Duration timeout = kDefaultTimeout;  // for connecting and the handshake
  };

  WsClient();
  ~WsClient();
  WsClient(const WsClient&) = delete;
  WsClient& operator=(const WsClient&) = delete;

  // Connects to 127.0.0.1:port and performs the WebSocket handshake. False
  // when either fails; handshakeStatus() then holds the HTTP status of a
  // refusal (0 when none arrived).
  bool connect(uint16_t port, const Options& options);
  bool connect(uint16_t port) { return connect(port, Options{}); }
  // Connects without a handshake, for raw bytes.
  bool connectRaw(uint16_t port, Duration timeout = kDefaultTimeout);

  unsigned handshakeStatus() const { return handshakeStatus_; }
  // This end's TCP port (what the server reports as the client port).
  uint16_t localPort() const;
  // Bytes the kernel holds for this end that nobody has read yet (FIONREAD).
  size_t unreadKernelBytes() const;
  // True while the WebSocket connection is usable.
  bool isOpen() const { return open_; }
  // Whether the server has ended the TCP connection (its FIN or reset came),
  // seen without reading: a client that stays silent, answering no ping,
  // can watch for it.
  bool peerHasClosed() const;

  bool sendText(std::string_view text, Duration timeout = kDefaultTimeout);
  bool sendBinary(std::string_view bytes, Duration timeout = kDefaultTimeout);

  // The next message received, or nothing on time-out, close or error.
  // A time-out leaves the connection usable.
  std::optional<std::string> receive(Duration timeout = kDefaultTimeout);
  // Whether the last message returned by receive() was binary.
  bool lastWasBinary() const { return lastBinary_; }

  // Waits until the server ends the connection, discarding messages. The
  // close code of its close frame, 0 when it ended without one, -1 on
  // time-out.
  int waitForClose(Duration timeout = kDefaultTimeout);
  // Clean closing handshake (code 1000). True when the server answered it.
  bool close(Duration timeout = kDefaultTimeout);
  // Ends the connection at once: with `reset`, a TCP reset, else a plain FIN,
  // in both cases without a close frame.
  void abort(bool reset = true);

  // Raw bytes on the TCP connection, bypassing the WebSocket layer.
  bool sendRaw(std::string_view bytes, Duration timeout = kDefaultTimeout);
  // Everything received until the server closes the connection or the time
  // limit passes; `closed` tells which.
  std::string readRawUntilClose(Duration timeout, bool* closed = nullptr);
  // A masked client frame (opcode 1 text, 2 binary, 8 close, ...). With
  // `declaredLength`, the header announces that length whatever the payload.
  static std::string frame(uint8_t opcode, std::string_view payload, bool fin = true,
                           std::optional<uint64_t> declaredLength = std::nullopt);

 private:
  // Runs the I/O context until `done` or the deadline; false on time-out.
  bool runUntil(const std::function<bool()>& done, Duration timeout);
  bool connectTcp(uint16_t port, Duration timeout);
  void startRead();
  bool sendMessage(std::string_view bytes, bool binary, Duration timeout);

  boost::asio::io_context ioc_;
  boost::beast::websocket::stream<boost::beast::tcp_stream> ws_;
  boost::beast::flat_buffer readBuffer_;
  bool readPending_ = false;
  struct Message {
    std::string data;
    bool binary = false;
  };
  std::deque<Message> inbox_;
  bool open_ = false;
  bool ended_ = false;       // the read side saw the end of the connection
  int closeCode_ = 0;        // the server's close code, when it sent one
  bool lastBinary_ = false;
  unsigned handshakeStatus_ = 0;
};

}  // namespace kstest
