#pragma once
// A live or history stream: its media connection and the thread that
// receives frames and hands them on in order, first to an attached
// FrameSink, then to the application's media callback.
//
// Threads: the receive thread reads the connection (only it touches
// reader_); callers send control requests under sendMutex_ and wait for the
// reply, which the receive thread posts under stateMutex_.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/FrameSink.h"
#include "platform/devlink/HandleObject.h"
#include "platform/devlink/Socket.h"
#include "platform/devlink/WireFormat.h"

namespace devlink {

class MediaStream : public HandleObject, public std::enable_shared_from_this<MediaStream> {
 public:
  enum class Kind { kLive, kHistory };

  // Connects to the media port, sends the open request (kLiveOpen or
  // kHistoryOpen with its body) and waits for the device's answer. The
  // receive thread starts with start(); answers a DLSDK_ code.
  static int open(Kind kind, const std::string& host, uint16_t port, uint16_t openType,
                  std::span<const uint8_t> openBody, std::shared_ptr<MediaStream>& out);
  // Starts the receive thread; frames carry `handle`.
  void start(int32_t handle);

  Kind kind() const { return kind_; }
  const wire::StreamInfo& info() const { return info_; }

  // Registers or (with null) unregisters the application's callback. Unregistering
  // waits for a callback in progress unless called from inside it.
  void setCallback(DLSDK_MediaCallback callback, void* context);
  void attachSink(std::shared_ptr<FrameSink> sink);
  // Registers or (with null) unregisters the callback told when the stream
  // ends by itself; unregistering waits like setCallback. False, and nothing
  // kept, when the stream has ended already.
  bool setEndCallback(DLSDK_StreamEndCallback callback, void* context);

  // Sends a control request and waits for the device's answer (up to the
  // command time-out). From the receive thread itself it does not wait.
  int control(uint16_t op, uint16_t arg, const wire::WireTime& time = {});

  int64_t lastTime() const { return lastTime_.load(); }
  bool ended() const;
  uint64_t framesReceived() const { return framesReceived_.load(); }
  uint64_t framesDelivered() const { return framesDelivered_.load(); }

  // Stops the stream: no callback runs after it returns (except, when called
  // from a callback, the one in progress).
  void close() override;

 private:
  MediaStream(Kind kind, Socket socket) : kind_(kind), socket_(std::move(socket)) {}
  void receiveLoop();
  void deliver(const wire::Message& message, const wire::FrameHeader& header);
  // Ends the stream after the receive loop stopped; `reason` is the
  // DLSDK_ code the end callback hears.
  void finish(int reason);

  const Kind kind_;
  wire::StreamInfo info_;  // set once at open
  Socket socket_;          // reads: receive thread; writes: under sendMutex_
  wire::MessageReader reader_;  // receive thread only
  int32_t handle_ = -1;         // set before the thread starts
  std::thread thread_;          // started once; joined or detached by close()
  std::atomic<bool> closing_{false};

  std::mutex sendMutex_;
  uint32_t nextRequestId_ = 1;  // guarded by sendMutex_

  mutable std::mutex stateMutex_;
  std::condition_variable stateCv_;
  DLSDK_MediaCallback callback_ = nullptr;  // guarded by stateMutex_
  void* context_ = nullptr;                 // guarded by stateMutex_
  DLSDK_StreamEndCallback endCallback_ = nullptr;  // guarded by stateMutex_
  void* endContext_ = nullptr;                     // guarded by stateMutex_
  bool sawEndOfData_ = false;                      // receive thread only
  std::shared_ptr<FrameSink> sink_;         // guarded by stateMutex_
  bool inCallback_ = false;                 // guarded by stateMutex_
  std::thread::id receiveThreadId_;         // guarded by stateMutex_
  std::map<uint32_t, int> replies_;         // guarded by stateMutex_: awaited request id -> result (-1 pending)
  bool ended_ = false;                      // guarded by stateMutex_

  std::atomic<int64_t> lastTime_{0};
  std::atomic<uint64_t> framesReceived_{0};
  std::atomic<uint64_t> framesDelivered_{0};
};

}  // namespace devlink
