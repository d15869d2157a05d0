// WebSocket round trips through SockHub into the shell's own command path
// (its server boundary and Dispatcher, reading the request, running the
// "recordQuery" handler, which asks the plug-in library and answers its
// code 1001, and writing the styled reply), against a bare Boost.Beast echo
// server in the same run. Each connection has one message in flight (send,
// wait for the answer). SockHub with a plain echo callback is measured too,
// to show how much of the difference is the server and how much the
// command's work.
//
// With one message in flight a round trip costs what the two ends' meeting
// costs: about 7 us when the scheduler keeps client and server on one core
// and hands over directly, about 60 us when they wake each other across two.
// Left to the scheduler, each run draws one of the two, and not alike for
// the two servers, so the figures come from runs with the same placement
// for both: the clients on one core, the server's threads on another (the
// browser and the shell are two processes). The same rounds left to the
// scheduler are shown after them.
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

#include <dirent.h>
#include <sched.h>

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

// The core the clients run on when placed (-1: anywhere).
std::atomic<int> gClientCore{-1};

// Puts every thread of this process on `core`, or lets them run anywhere
// (-1). Threads started later inherit their starter's placement.
void placeProcess(int core) {
  cpu_set_t set;
  CPU_ZERO(&set);
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  for (int c = 0; c < cores; ++c)
    if (core < 0 || c == core) CPU_SET(c, &set);
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return;
  while (dirent* entry = readdir(tasks)) {
    const int tid = std::atoi(entry->d_name);
    if (tid > 0) sched_setaffinity(tid, sizeof set, &set);
  }
  closedir(tasks);
}

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
      if (const int core = gClientCore.load(); core >= 0) {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(core, &set);
        sched_setaffinity(0, sizeof set, &set);
      }
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
  constexpr int kRounds = 5;
  struct Ratios {
    std::vector<double> rate, p50;
    std::vector<double> transportRate, transportP50;  // SockHub with the echo callback
  };
  bool ok = true;
  // SockHub with the plain echo callback: the server's own share.
  const auto runTransport = [&](int connections, int perConnection) {
    SockHub_ReceiveDataIf(&echoReceive);
    Result r = runLoad(SockHub_BoundPort(), connections, perConnection);
    SockHub_ReceiveDataIf(&receive);
    return r;
  };
  const auto measurePair = [&](int connections, int perConnection, bool hubFirst, Ratios& into) {
    Result hub, echoResult, transport;
    if (hubFirst) {
      hub = runLoad(SockHub_BoundPort(), connections, perConnection);
      echoResult = runLoad(echo.port(), connections, perConnection);
      transport = runTransport(connections, perConnection);
    } else {
      transport = runTransport(connections, perConnection);
      echoResult = runLoad(echo.port(), connections, perConnection);
      hub = runLoad(SockHub_BoundPort(), connections, perConnection);
    }
    print("sockhub + shell dispatcher", connections, hub);
    print("bare beast echo", connections, echoResult);
    print("sockhub + echo callback", connections, transport);
    ok = ok && hub.ok && echoResult.ok && transport.ok;
    if (!hub.ok || !echoResult.ok || !transport.ok) return;
    into.rate.push_back(hub.messagesPerSecond / echoResult.messagesPerSecond);
    into.p50.push_back(hub.p50Micros / echoResult.p50Micros);
    into.transportRate.push_back(transport.messagesPerSecond / echoResult.messagesPerSecond);
    into.transportP50.push_back(transport.p50Micros / echoResult.p50Micros);
  };
  // Rounds alternate the two servers (and which of them goes first), so a
  // slow spell of the machine falls on both; a figure is the median of the
  // rounds' ratios.
  const auto rounds = [&](Ratios& one, Ratios& twenty) {
    for (int round = 0; round < kRounds; ++round) {
      measurePair(1, std::max(100, single / kRounds), round % 2 == 0, one);
      measurePair(20, std::max(20, perConnectionOf20 / kRounds), round % 2 == 0, twenty);
    }
  };
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
  };
  const auto list = [](const std::vector<double>& v) {
    std::string text;
    for (double x : v) {
      char item[16];
      std::snprintf(item, sizeof item, "%s%.2f", text.empty() ? "" : " ", x);
      text += item;
    }
    return text;
  };
  const auto summary = [&](const char* label, const Ratios& r) {
    std::printf("ratio sockhub/echo, %s: throughput %.2f (rounds %s), p50 latency %.2fx (rounds %s)\n", label,
                median(r.rate), list(r.rate).c_str(), median(r.p50), list(r.p50).c_str());
    std::printf("  of which the server alone (echo callback): throughput %.2f (rounds %s), p50 latency %.2fx\n",
                median(r.transportRate), list(r.transportRate).c_str(), median(r.transportP50));
  };

  const bool place = std::thread::hardware_concurrency() >= 2;
  Ratios placedOne, placedTwenty, freeOne, freeTwenty;
  if (place) {
    std::printf("clients on core 0, the server's threads on core 1:\n");
    placeProcess(1);
    gClientCore = 0;
    rounds(placedOne, placedTwenty);
    placeProcess(-1);
    gClientCore = -1;
    std::printf("\nleft to the scheduler:\n");
  }
  rounds(freeOne, freeTwenty);
  SockHub_Stop();
  kestrova::installDispatcher(nullptr);
  if (!ok) return 1;

  std::printf("\n");
  if (place) {
    summary(" 1 connection,  placed", placedOne);
    summary("20 connections, placed", placedTwenty);
  }
  summary(" 1 connection,  left to the scheduler", freeOne);
  summary("20 connections, left to the scheduler", freeTwenty);
  const Ratios& one = place ? placedOne : freeOne;
  const Ratios& twenty = place ? placedTwenty : freeTwenty;
  benchsupport::figure("command channel: message rate, 1 connection, x bare echo", median(one.rate), "ratio",
                       ">= 0.8");
  benchsupport::figure("command channel: message rate, 20 connections, x bare echo", median(twenty.rate), "ratio",
                       ">= 0.8");
  benchsupport::figure("command channel: p50 latency, 1 connection, x bare echo", median(one.p50), "ratio", "<= 1.3");
  benchsupport::figure("command channel: p50 latency, 20 connections, x bare echo", median(twenty.p50), "ratio",
                       "<= 1.3");
  return 0;
}
