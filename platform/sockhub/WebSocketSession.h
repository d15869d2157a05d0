#pragma once
// One WebSocket connection after its upgrade request was accepted.
//
// All socket work happens on the connection's strand. Public methods may be
// called from any thread and only post to the strand; the private on*/do*
// methods run there. Received text messages go to the connection's
// ConnectionWorker; outgoing messages wait in a single-writer queue.
//
// The connection ends when the peer closes or drops it, when it sends
// something refused (a binary message: close 1003; a message over the size
// bound: close 1009; invalid UTF-8: close 1007), when its unsent output
// passes the bound, when it stays silent past the idle timeout (pinged at
// every ping interval, it is cut when nothing came back), or when the server
// stops (close 1001). Whatever the cause, the worker is told once, so the
// client-action callback runs once, and output not yet written is dropped.
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

namespace sockhub {

class ConnectionWorker;
class SharedState;

class WebSocketSession : public std::enable_shared_from_this<WebSocketSession> {
 public:
  WebSocketSession(SharedState& state, boost::beast::tcp_stream&& stream, std::shared_ptr<void> slot,
                   int32_t clientPort);
  ~WebSocketSession();

  // Answers the upgrade request; reading starts once the handshake is done.
  void run(boost::beast::http::request<boost::beast::http::empty_body> request);

  // Any thread. Queues one text message; drops the connection when its
  // unsent output would pass the bound.
  int send(std::string message);
  // Any thread. Reading was paused for a full worker queue; go on.
  void resumeRead();
  // Any thread. Starts the closing handshake ("going away").
  void close();

 private:
  void onAccept(boost::beast::error_code ec);
  void doRead();
  void onRead(boost::beast::error_code ec, size_t bytes);
  void queueWrite(std::string message);
  void doWrite();
  void onWrite(boost::beast::error_code ec, size_t bytes);
  void doClose(boost::beast::websocket::close_code code);
  void drop();
  void endReading();
  void discardQueuedWrites();
  void armKeepAlive();
  void onKeepAlive(boost::beast::error_code ec);

  SharedState& state_;
  const int32_t clientPort_;
  int32_t connectionId_ = 0;  // set on the strand before the session is registered

  boost::beast::websocket::stream<boost::beast::tcp_stream> ws_;  // strand only
  boost::beast::flat_buffer buffer_;                              // strand only
  std::deque<std::string> writeQueue_;                            // strand only
  bool writing_ = false;      // strand only: an async_write is outstanding
  bool readPaused_ = false;   // strand only: waiting for the worker's room
  bool closing_ = false;      // strand only: close or drop begun, write nothing more
  bool ended_ = false;        // strand only: the worker was told

  // Keep-alive: the timer wakes for the next ping or the idle deadline,
  // whichever is first; lastHeard_ moves on with every frame received.
  boost::asio::steady_timer keepAlive_;              // strand only
  std::chrono::steady_clock::time_point lastHeard_;  // strand only
  std::chrono::steady_clock::time_point nextPing_;   // strand only
  bool pinging_ = false;                             // strand only: an async_ping is outstanding

  std::atomic<size_t> unsentBytes_{0};  // queued by send(), not yet written
  std::atomic<bool> dropped_{false};    // output bound passed; sends refused
  std::shared_ptr<void> slot_;
  std::shared_ptr<ConnectionWorker> worker_;  // set on the strand after the handshake
};

}  // namespace sockhub
