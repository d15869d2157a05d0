#pragma once
// A scripted stand-in for a device, for tests that need the SDK to meet
// answers no well-behaved device gives: each accepted connection is handed
// to the script, one after another, on the device's own thread.
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/devlink/Socket.h"
#include "platform/devlink/WireFormat.h"

namespace devlink::testing {

class FakeDevice {
 public:
  using Script = std::function<void(devlink::Socket&)>;

  explicit FakeDevice(Script script) : script_(std::move(script)) {
    EXPECT_TRUE(devlink::Socket::listenOn("127.0.0.1", 0, listener_, port_));
    thread_ = std::thread([this] {
      for (;;) {
        devlink::Socket s = listener_.accept();
        if (!s.valid()) return;
        script_(s);
      }
    });
  }
  // Shutting the listener down ends accept() and so the thread.
  ~FakeDevice() {
    listener_.shutdownBoth();
    thread_.join();
  }
  FakeDevice(const FakeDevice&) = delete;
  FakeDevice& operator=(const FakeDevice&) = delete;

  uint16_t port() const { return port_; }

  // A script that reads one request and answers it with raw bytes.
  static Script answerWith(std::vector<uint8_t> bytes) {
    return [bytes = std::move(bytes)](devlink::Socket& s) {
      wire::MessageReader reader;
      wire::Message m;
      if (s.readMessage(reader, m, 2000) != 0) return;
      s.sendAll(bytes.data(), bytes.size(), 2000);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    };
  }

  // A message header alone, with whatever fields a test wants to lie about.
  static std::vector<uint8_t> header(uint16_t type, uint16_t result, uint32_t id, uint32_t length) {
    std::vector<uint8_t> h(wire::kMessageHeaderSize);
    wire::encodeHeader(h.data(), wire::MessageHeader{type, result, id, length});
    return h;
  }

 private:
  Script script_;  // used by the device thread only
  devlink::Socket listener_;
  uint16_t port_ = 0;
  std::thread thread_;
};

}  // namespace devlink::testing
