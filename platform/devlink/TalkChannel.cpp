#include "platform/devlink/TalkChannel.h"

#include <chrono>
#include <vector>

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/SdkContext.h"

namespace devlink {

int TalkChannel::open(const std::string& host, uint16_t port, const wire::SessionToken& token, int32_t codec,
                      std::shared_ptr<TalkChannel>& out) {
  const SdkContext& sdk = SdkContext::instance();
  const int timeout = sdk.commandTimeoutMs();
  Socket socket;
  if (const int rc = Socket::connectTo(host, port, timeout, sdk.receiveBuffer(), sdk.sendBuffer(), socket);
      rc != DLSDK_OK) {
    return rc;
  }
  const auto body = wire::encode(wire::TalkOpenRequest{token, static_cast<uint32_t>(codec)});
  if (const int rc = socket.sendMessage(wire::kTalkOpen, 0, 1, body, timeout); rc != DLSDK_OK) return rc;
  wire::MessageReader reader;
  wire::Message reply;
  if (const int rc = socket.readMessage(reader, reply, timeout); rc != DLSDK_OK) return rc;
  if (reply.header.type != wire::kTalkOpen || reply.header.requestId != 1) return DLSDK_ERR_PROTOCOL;
  if (reply.header.result != DLSDK_OK) return reply.header.result;
  // Silence in the chosen companding: A-law 0xD5, mu-law 0xFF.
  std::shared_ptr<TalkChannel> talk(new TalkChannel(std::move(socket), codec == DLSDK_TALK_G711A ? 0xD5 : 0xFF));
  talk->thread_ = std::thread([t = talk.get()] { t->sendLoop(); });
  out = std::move(talk);
  return DLSDK_OK;
}

TalkChannel::~TalkChannel() { close(); }

int TalkChannel::start() {
  std::lock_guard lock(mutex_);
  if (broken_ || closing_) return DLSDK_ERR_CONNECT;
  started_ = true;
  cv_.notify_all();
  return DLSDK_OK;
}

int TalkChannel::stop() {
  std::lock_guard lock(mutex_);
  started_ = false;
  queued_.clear();
  return DLSDK_OK;
}

int TalkChannel::queue(const uint8_t* data, size_t size) {
  std::lock_guard lock(mutex_);
  if (broken_ || closing_) return DLSDK_ERR_CONNECT;
  if (!started_) return DLSDK_ERR_NOT_AVAILABLE;
  if (queued_.size() + size > kMaxQueued) return DLSDK_ERR_NO_MEMORY;
  queued_.insert(queued_.end(), data, data + size);
  return DLSDK_OK;
}

void TalkChannel::sendLoop() {
  using Clock = std::chrono::steady_clock;
  auto due = Clock::now();
  std::vector<uint8_t> packet;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      cv_.wait(lock, [this] { return closing_ || started_; });
      if (closing_) return;
      // Pace at real time: 20 ms of audio each 20 ms.
      if (cv_.wait_until(lock, due, [this] { return closing_ || !started_; })) {
        if (closing_) return;
        due = Clock::now();
        continue;
      }
      const size_t n = std::min(kBytesPer20Ms, queued_.size());
      packet.assign(queued_.begin(), queued_.begin() + static_cast<std::ptrdiff_t>(n));
      queued_.erase(queued_.begin(), queued_.begin() + static_cast<std::ptrdiff_t>(n));
      if (n == 0) packet.assign(kBytesPer20Ms, silence_);
    }
    due += std::chrono::milliseconds(20);
    if (Clock::now() - due > std::chrono::seconds(1)) due = Clock::now();
    const int timeout = SdkContext::instance().commandTimeoutMs();
    if (socket_.sendMessage(wire::kTalkData, 0, 0, packet, timeout) != DLSDK_OK) {
      std::lock_guard lock(mutex_);
      broken_ = true;
      started_ = false;
      socket_.shutdownBoth();
    }
  }
}

void TalkChannel::close() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    cv_.notify_all();
  }
  socket_.shutdownBoth();
  if (thread_.joinable()) thread_.join();
}

}  // namespace devlink
