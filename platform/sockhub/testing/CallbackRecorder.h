#pragma once
// Test callbacks for the server: records what each connection delivered and
// when it ended, and answers like a simple command handler would.
//
// The callbacks are plain functions (the server takes C function pointers),
// so they reach one process-wide recorder. What the receive callback does
// with a message depends on its text:
//   "block..."  waits until release() (or the test's reset), then echoes;
//   "slow..."   sleeps 2 ms, then echoes;
//   "stop"      calls the configured stop function and answers its result;
//   anything else is echoed through the configured send function.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sockhub::testing {

class CallbackRecorder {
 public:
  using SendFn = std::function<int(int32_t, const char*, size_t)>;
  using StopFn = std::function<int()>;

  static CallbackRecorder& instance() {
    static CallbackRecorder recorder;
    return recorder;
  }

  // Clears everything and releases blocked handlers.
  void reset(SendFn send, StopFn stop = {}) {
    std::lock_guard lock(mutex_);
    send_ = std::move(send);
    stop_ = std::move(stop);
    received_.clear();
    clientPorts_.clear();
    ends_.clear();
    handledAtEnd_.clear();
    blocked_ = 0;
    ++releaseGeneration_;
    changed_.notify_all();
  }

  void release() {
    std::lock_guard lock(mutex_);
    ++releaseGeneration_;
    changed_.notify_all();
  }

  static int onReceive(int32_t connectionId, int32_t clientPort, const char* text) {
    return instance().receive(connectionId, clientPort, text);
  }
  static int onClientAction(int32_t connectionId) {
    CallbackRecorder& self = instance();
    std::lock_guard lock(self.mutex_);
    ++self.ends_[connectionId];
    self.handledAtEnd_[connectionId] = self.received_[connectionId].size();
    self.changed_.notify_all();
    return 0;
  }

  // Waits until `ready()` (evaluated under the recorder's lock) holds.
  bool waitFor(const std::function<bool()>& ready, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, ready);
  }
  bool waitForEnd(int32_t connectionId, std::chrono::milliseconds timeout) {
    return waitFor([&] { return ends_.count(connectionId) != 0; }, timeout);
  }
  bool waitForBlocked(int count, std::chrono::milliseconds timeout) {
    return waitFor([&] { return blocked_ >= count; }, timeout);
  }
  // The connection id of the first message with this text.
  int32_t waitForConnectionOf(const std::string& text, std::chrono::milliseconds timeout) {
    int32_t found = 0;
    waitFor(
        [&] {
          for (const auto& [id, messages] : received_) {
            for (const std::string& m : messages) {
              if (m == text) {
                found = id;
                return true;
              }
            }
          }
          return false;
        },
        timeout);
    return found;
  }

  // Snapshots (under the lock).
  std::vector<std::string> received(int32_t connectionId) {
    std::lock_guard lock(mutex_);
    return received_[connectionId];
  }
  std::map<int32_t, int32_t> clientPorts() {
    std::lock_guard lock(mutex_);
    return clientPorts_;
  }
  int ends(int32_t connectionId) {
    std::lock_guard lock(mutex_);
    const auto it = ends_.find(connectionId);
    return it == ends_.end() ? 0 : it->second;
  }
  size_t totalEnds() {
    std::lock_guard lock(mutex_);
    size_t total = 0;
    for (const auto& [id, count] : ends_) total += static_cast<size_t>(count);
    return total;
  }
  size_t handledAtEnd(int32_t connectionId) {
    std::lock_guard lock(mutex_);
    return handledAtEnd_[connectionId];
  }
  int lastStopResult() {
    std::lock_guard lock(mutex_);
    return lastStopResult_;
  }

  // Under the lock, for waitFor predicates.
  size_t receivedCountLocked(int32_t connectionId) { return received_[connectionId].size(); }
  size_t endsCountLocked() {
    size_t total = 0;
    for (const auto& [id, count] : ends_) total += static_cast<size_t>(count);
    return total;
  }

 private:
  int receive(int32_t connectionId, int32_t clientPort, const char* text) {
    const std::string message(text);
    SendFn send;
    StopFn stop;
    {
      std::unique_lock lock(mutex_);
      received_[connectionId].push_back(message);
      clientPorts_[connectionId] = clientPort;
      send = send_;
      stop = stop_;
      changed_.notify_all();
      if (message.rfind("block", 0) == 0) {
        ++blocked_;
        const uint64_t generation = releaseGeneration_;
        changed_.wait(lock, [&] { return releaseGeneration_ != generation; });
      }
    }
    std::string reply = message;
    if (message.rfind("slow", 0) == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } else if (message == "stop" && stop) {
      const int result = stop();
      std::lock_guard lock(mutex_);
      lastStopResult_ = result;
      reply = "stop:" + std::to_string(result);
    }
    if (send) send(connectionId, reply.data(), reply.size());
    return 0;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  SendFn send_;                                              // guarded by mutex_
  StopFn stop_;                                              // guarded by mutex_
  std::map<int32_t, std::vector<std::string>> received_;     // guarded by mutex_
  std::map<int32_t, int32_t> clientPorts_;                   // guarded by mutex_
  std::map<int32_t, int> ends_;                              // guarded by mutex_
  std::map<int32_t, size_t> handledAtEnd_;                   // guarded by mutex_
  int blocked_ = 0;                                          // guarded by mutex_
  uint64_t releaseGeneration_ = 0;                           // guarded by mutex_
  int lastStopResult_ = -1;                                  // guarded by mutex_
};

}  // namespace sockhub::testing
