// WebSocket round trips through SockHub into the shell's own command path
// (its server boundary and Dispatcher, reading the request, running the
// "recordQuery" handler, which asks the plug-in library and answers its
// code 1001, and writing the styled reply), against a bare Boost.Beast echo
// server in the same run. Each connection has one message in flight (send,
// wait for the answer). SockHub with a plain echo callback is measured too,
// to show how much of the difference is the server and how much the
// command's work.
//
//   bench_ws [messages-per-single-connection]   (default 20000; 20 connections
//                                                 share twice that number)

#include <algorithm>
#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/Figures.h"
#include "bench/ws/BareEchoServer.h"
#include "platform/sockhub/SockHub.h"
#include "shell/command/Dispatcher.h"
#include "shell/command/ServerBoundary.h"

namespace {
namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

// The same round trip through SockHub without JSON, to separate the server's
// cost (two thread hand-offs per message) from the dispatcher's.
int echoBack(int32_t connectionId, int32_t, const char* text) {
  SockHub_SendData(connectionId, text, std::strlen(text));
  return 0;
}

std::string requestText(uint32_t msgId) {
  return "{\"msgId\": " + std::to_string(msgId) +
         ", \"Fountion\": \"recordQuery\", \"PlaybackQuery\": {\"type\": 2, \"uniqueId\": 1, \"remote\": true, "
         "\"RecordByDay\": {\"dateStart\": \"2024-05-01 00:00:00\", \"dateEnd\": \"2024-05-01 23:59:59\"}}}";
}

// The reply to one request, to show what the measured path answers.
std::string oneReply(uint16_t port) {
  try {
    net::io_context ioc;
    websocket::stream<tcp::socket> ws(ioc);
    ws.next_layer().connect(tcp::endpoint(net::ip::make_address_v4("127.0.0.1"), port));
    ws.handshake("127.0.0.1:" + std::to_string(port), "/");
    ws.text(true);
    ws.write(net::buffer(requestText(7)));
    beast::flat_buffer buffer;
    ws.read(buffer);
    ws.close(websocket::close_code::normal);
    return beast::buffers_to_string(buffer.data());
  } catch (const std::exception& e) {
    return e.what();
  }
}

struct Result {
  double messagesPerSecond = 0;
  double p50Micros = 0;
  double p99Micros = 0;
  size_t messages = 0;
  bool ok = true;
};

// `connections` clients, each sending `perConnection` messages one at a time.
Result runLoad(uint16_t port, int connections, int perConnection) {
  constexpr int kWarmUp = 200;
  std::vector<std::vector<double>> latencies(connections);
  std::atomic<bool> failed{false};
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  Clock::time_point begin;
  for (int c = 0; c < connections; ++c) {
    threads.emplace_back([&, c] {
      try {
        net::io_context ioc;
        websocket::stream<tcp::socket> ws(ioc);
        ws.next_layer().connect(tcp::endpoint(net::ip::make_address_v4("127.0.0.1"), port));
        ws.next_layer().set_option(tcp::no_delay(true));
        ws.handshake("127.0.0.1:" + std::to_string(port), "/");
        ws.text(true);
        beast::flat_buffer buffer;
        const auto roundTrip = [&](uint32_t n) {
          ws.write(net::buffer(requestText(n)));
          ws.read(buffer);
          buffer.consume(buffer.size());
        };
        for (int i = 0; i < kWarmUp; ++i) roundTrip(static_cast<uint32_t>(i));
        ++ready;
        while (!go.load()) std::this_thread::yield();
        latencies[c].reserve(perConnection);
        for (int i = 0; i < perConnection; ++i) {
          const auto start = Clock::now();
          roundTrip(static_cast<uint32_t>(c * perConnection + i));
          latencies[c].push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
        ws.close(websocket::close_code::normal);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "connection %d: %s\n", c, e.what());
        failed = true;
        ++ready;
      }
    });
  }
  while (ready.load() < connections) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  begin = Clock::now();
  go = true;
  for (auto& t : threads) t.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();

  Result result;
  std::vector<double> all;
  for (const auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
  result.ok = !failed && !all.empty();
  if (!result.ok) return result;
  std::sort(all.begin(), all.end());
  result.messages = all.size();
  result.messagesPerSecond = static_cast<double>(all.size()) / seconds;
  result.p50Micros = all[all.size() / 2];
  result.p99Micros = all[std::min(all.size() - 1, all.size() * 99 / 100)];
  return result;
}

void print(const char* server, int connections, const Result& r) {
  std::printf("%-28s %5d %9zu %12.0f %10.1f %10.1f\n", server, connections, r.messages, r.messagesPerSecond,
              r.p50Micros, r.p99Micros);
}

}  // namespace

int main(int argc, char** argv) {
  const int single = argc > 1 ? std::max(100, std::atoi(argv[1])) : 20000;
  const int perConnectionOf20 = std::max(100, single * 2 / 20);

  // A free port of our own.
  SockHubGlobalParam param{};
  param.port = 0;
  // The shell's dispatcher behind the shell's own server callback.
  kestrova::Dispatcher dispatcher{kestrova::CommandEnv{}};
  kestrova::installDispatcher(&dispatcher);
  SockHubReceiveDataParam receive{&kestrova::onReceiveData};
  SockHubReceiveDataParam echoReceive{&echoBack};
  if (SockHub_SetGlobalParam(&param) != 0 || SockHub_Start() != 0 || SockHub_ReceiveDataIf(&receive) != 0) {
    std::fprintf(stderr, "SockHub did not start\n");
    return 1;
  }
  wsbench::BareEchoServer echo;

  std::string reply = oneReply(SockHub_BoundPort());
  for (char& c : reply)
    if (c == '\n') c = ' ';
  std::printf("the shell's reply to the request: %s\n\n", reply.c_str());
  std::printf("%-28s %5s %9s %12s %10s %10s\n", "server", "conns", "messages", "messages/s", "p50 us", "p99 us");
  const Result hub1 = runLoad(SockHub_BoundPort(), 1, single);
  print("sockhub + shell dispatcher", 1, hub1);
  const Result echo1 = runLoad(echo.port(), 1, single);
  print("bare beast echo", 1, echo1);
  const Result hub20 = runLoad(SockHub_BoundPort(), 20, perConnectionOf20);
  print("sockhub + shell dispatcher", 20, hub20);
  const Result echo20 = runLoad(echo.port(), 20, perConnectionOf20);
  print("bare beast echo", 20, echo20);
  SockHub_ReceiveDataIf(&echoReceive);
  print("sockhub + echo callback", 1, runLoad(SockHub_BoundPort(), 1, single));
  print("sockhub + echo callback", 20, runLoad(SockHub_BoundPort(), 20, perConnectionOf20));
  SockHub_Stop();
  kestrova::installDispatcher(nullptr);

  if (!hub1.ok || !echo1.ok || !hub20.ok || !echo20.ok) return 1;
  std::printf("\nratio sockhub/echo  1 connection:   throughput %.2f, p50 latency %.2fx, p99 latency %.2fx\n",
              hub1.messagesPerSecond / echo1.messagesPerSecond, hub1.p50Micros / echo1.p50Micros,
              hub1.p99Micros / echo1.p99Micros);
  std::printf("ratio sockhub/echo 20 connections: throughput %.2f, p50 latency %.2fx, p99 latency %.2fx\n",
              hub20.messagesPerSecond / echo20.messagesPerSecond, hub20.p50Micros / echo20.p50Micros,
              hub20.p99Micros / echo20.p99Micros);
  benchsupport::figure("command channel: message rate, 1 connection, x bare echo",
                       hub1.messagesPerSecond / echo1.messagesPerSecond, "ratio", ">= 0.8");
  benchsupport::figure("command channel: message rate, 20 connections, x bare echo",
                       hub20.messagesPerSecond / echo20.messagesPerSecond, "ratio", ">= 0.8");
  benchsupport::figure("command channel: p50 latency, 1 connection, x bare echo", hub1.p50Micros / echo1.p50Micros,
                       "ratio", "<= 1.3");
  benchsupport::figure("command channel: p50 latency, 20 connections, x bare echo", hub20.p50Micros / echo20.p50Micros,
                       "ratio", "<= 1.3");
  return 0;
}
