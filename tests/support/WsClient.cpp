#include "tests/support/WsClient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/websocket.hpp>

#include <random>

#include <poll.h>
#include <sys/ioctl.h>

namespace kstest {
namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;

WsClient::WsClient() : ws_(ioc_) {
  // Large enough for every test message, including over-sized ones echoed.
  ws_.read_message_max(64u << 20);
}

WsClient::~WsClient() { abort(false); }

bool WsClient::runUntil(const std::function<bool()>& done, Duration timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  if (ioc_.stopped()) ioc_.restart();
  while (!done()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    if (ioc_.run_one_for(deadline - now) == 0 && ioc_.stopped()) ioc_.restart();
  }
  return true;
}

bool WsClient::connectTcp(uint16_t port, Duration timeout) {
  bool finished = false;
  beast::error_code result;
  const tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), port);
  beast::get_lowest_layer(ws_).async_connect(endpoint, [&](beast::error_code ec) {
    result = ec;
    finished = true;
  });
  if (!runUntil([&] { return finished; }, timeout)) {
    abort();
    return false;
  }
  return !result;
}

bool WsClient::connectRaw(uint16_t port, Duration timeout) { return connectTcp(port, timeout); }

bool WsClient::connect(uint16_t port, const Options& options) {
  handshakeStatus_ = 0;
  if (!connectTcp(port, options.timeout)) return false;
  const std::string origin = options.origin;
  ws_.set_option(websocket::stream_base::decorator([origin](websocket::request_type& request) {
    if (!origin.empty()) request.set(beast::http::field::origin, origin);
  }));
  const std::string host =
      options.hostHeader.empty() ? "127.0.0.1:" + std::to_string(port) : options.hostHeader;
  websocket::response_type response;
  bool finished = false;
  beast::error_code result;
  ws_.async_handshake(response, host, options.target, [&](beast::error_code ec) {
    result = ec;
    finished = true;
  });
  if (!runUntil([&] { return finished; }, options.timeout)) {
    abort();
    return false;
  }
  handshakeStatus_ = response.result_int();
  if (result) {
    abort();
    return false;
  }
  open_ = true;
  ended_ = false;
  startRead();
  return true;
}

uint16_t WsClient::localPort() const {
  beast::error_code ec;
  const auto endpoint = beast::get_lowest_layer(ws_).socket().local_endpoint(ec);
  return ec ? 0 : endpoint.port();
}

size_t WsClient::unreadKernelBytes() const {
  int pending = 0;
  auto& socket = const_cast<WsClient*>(this)->ws_.next_layer().socket();
  if (!socket.is_open() || ioctl(socket.native_handle(), FIONREAD, &pending) != 0) return 0;
  return static_cast<size_t>(pending);
}

bool WsClient::peerHasClosed() const {
  auto& socket = const_cast<WsClient*>(this)->ws_.next_layer().socket();
  if (!socket.is_open()) return true;
  pollfd entry{socket.native_handle(), POLLRDHUP, 0};
  if (::poll(&entry, 1, 0) < 0) return false;
  return (entry.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void WsClient::startRead() {
  // One read is always outstanding while the connection is open, so
  // messages are collected whenever the context runs, even during a send.
  readPending_ = true;
  ws_.async_read(readBuffer_, [this](beast::error_code ec, size_t) {
    readPending_ = false;
    if (ec) {
      open_ = false;
      ended_ = true;
      // The server's close code, when its close frame arrived before the end.
      closeCode_ = ws_.reason().code;
      return;
    }
    inbox_.push_back({beast::buffers_to_string(readBuffer_.data()), ws_.got_binary()});
    readBuffer_.consume(readBuffer_.size());
    startRead();
  });
}

bool WsClient::sendMessage(std::string_view bytes, bool binary, Duration timeout) {
  if (!open_) return false;
  ws_.binary(binary);
  bool finished = false;
  beast::error_code result;
  ws_.async_write(net::buffer(bytes.data(), bytes.size()), [&](beast::error_code ec, size_t) {
    result = ec;
    finished = true;
  });
  if (!runUntil([&] { return finished; }, timeout)) {
    abort();
    return false;
  }
  return !result;
}

bool WsClient::sendText(std::string_view text, Duration timeout) { return sendMessage(text, false, timeout); }

bool WsClient::sendBinary(std::string_view bytes, Duration timeout) { return sendMessage(bytes, true, timeout); }

std::optional<std::string> WsClient::receive(Duration timeout) {
  runUntil([&] { return !inbox_.empty() || ended_; }, timeout);
  if (inbox_.empty()) return std::nullopt;
  Message message = std::move(inbox_.front());
  inbox_.pop_front();
  lastBinary_ = message.binary;
  return std::move(message.data);
}

int WsClient::waitForClose(Duration timeout) {
  if (!runUntil([&] { return ended_; }, timeout)) return -1;
  inbox_.clear();
  return closeCode_;
}

bool WsClient::close(Duration timeout) {
  if (!open_) return false;
  bool finished = false;
  beast::error_code result;
  ws_.async_close(websocket::close_code::normal, [&](beast::error_code ec) {
    result = ec;
    finished = true;
  });
  // The pending read ends with the server's close frame as well.
  const bool inTime = runUntil([&] { return finished && !readPending_; }, timeout);
  open_ = false;
  if (!inTime) abort();
  return inTime && !result;
}

void WsClient::abort(bool reset) {
  auto& socket = beast::get_lowest_layer(ws_).socket();
  beast::error_code ignored;
  if (socket.is_open()) {
    if (reset) socket.set_option(net::socket_base::linger(true, 0), ignored);
    socket.close(ignored);
  }
  open_ = false;
  // Let cancelled handlers run so that nothing refers to this object later.
  ioc_.restart();
  ioc_.poll();
}

bool WsClient::sendRaw(std::string_view bytes, Duration timeout) {
  bool finished = false;
  beast::error_code result;
  net::async_write(beast::get_lowest_layer(ws_).socket(), net::buffer(bytes.data(), bytes.size()),
                   [&](beast::error_code ec, size_t) {
                     result = ec;
                     finished = true;
                   });
  if (!runUntil([&] { return finished; }, timeout)) {
    abort();
    return false;
  }
  return !result;
}

std::string WsClient::readRawUntilClose(Duration timeout, bool* closed) {
  std::string received;
  bool ended = false;
  bool pending = false;
  char chunk[4096];
  auto& socket = beast::get_lowest_layer(ws_).socket();
  std::function<void()> readMore = [&] {
    pending = true;
    socket.async_read_some(net::buffer(chunk), [&](beast::error_code ec, size_t n) {
      pending = false;
      received.append(chunk, n);
      if (ec) {
        ended = true;
        return;
      }
      readMore();
    });
  };
  readMore();
  runUntil([&] { return ended; }, timeout);
  if (pending) {
    beast::error_code ignored;
    socket.cancel(ignored);
    runUntil([&] { return !pending; }, Duration(1000));
  }
  if (closed != nullptr) *closed = ended;
  return received;
}

std::string WsClient::frame(uint8_t opcode, std::string_view payload, bool fin,
                            std::optional<uint64_t> declaredLength) {
  const uint64_t length = declaredLength.value_or(payload.size());
  std::string out;
  out.push_back(static_cast<char>((fin ? 0x80 : 0x00) | (opcode & 0x0F)));
  if (length < 126) {
    out.push_back(static_cast<char>(0x80 | length));
  } else if (length <= 0xFFFF) {
    out.push_back(static_cast<char>(0x80 | 126));
    out.push_back(static_cast<char>(length >> 8));
    out.push_back(static_cast<char>(length & 0xFF));
  } else {
    out.push_back(static_cast<char>(0x80 | 127));
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<char>((length >> shift) & 0xFF));
  }
  static thread_local std::mt19937 random{std::random_device{}()};
  char mask[4];
  for (char& byte : mask) byte = static_cast<char>(random() & 0xFF);
  out.append(mask, 4);
  for (size_t i = 0; i < payload.size(); ++i) out.push_back(static_cast<char>(payload[i] ^ mask[i % 4]));
  return out;
}

}  // namespace kstest
