#pragma once
// Two-way talk towards the device: a connection to the command port that
// carries G.711 audio. Once started, a sender thread sends 20 ms of audio
// every 20 ms: queued bytes when there are any, silence otherwise, as a
// microphone that hears nothing would.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/devlink/HandleObject.h"
#include "platform/devlink/Socket.h"
#include "platform/devlink/WireFormat.h"

namespace devlink {

class TalkChannel : public HandleObject {
 public:
  static constexpr size_t kMaxQueued = 1024 * 1024;
  static constexpr size_t kBytesPer20Ms = 160;

  static int open(const std::string& host, uint16_t port, const wire::SessionToken& token, int32_t codec,
                  std::shared_ptr<TalkChannel>& out);
  ~TalkChannel() override;

  int start();
  int stop();
  int queue(const uint8_t* data, size_t size);
  void close() override;

 private:
  TalkChannel(Socket socket, uint8_t silence) : socket_(std::move(socket)), silence_(silence) {}
  void sendLoop();

  Socket socket_;  // written by the sender thread only (shutdownBoth() by close())
  const uint8_t silence_;
  std::thread thread_;

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<uint8_t> queued_;  // guarded by mutex_
  bool started_ = false;        // guarded by mutex_
  bool closing_ = false;        // guarded by mutex_
  bool broken_ = false;         // guarded by mutex_
};

}  // namespace devlink
