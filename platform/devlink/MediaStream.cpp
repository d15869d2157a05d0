#include "platform/devlink/MediaStream.h"

#include <chrono>
#include <ctime>

#include "platform/devlink/SdkContext.h"

namespace devlink {

int MediaStream::open(Kind kind, const std::string& host, uint16_t port, uint16_t openType,
                      std::span<const uint8_t> openBody, std::shared_ptr<MediaStream>& out) {
  const SdkContext& sdk = SdkContext::instance();
  const int timeout = sdk.commandTimeoutMs();
  Socket socket;
  if (const int rc = Socket::connectTo(host, port, timeout, sdk.receiveBuffer(), sdk.sendBuffer(), socket);
      rc != DLSDK_OK) {
    return rc;
  }
  std::shared_ptr<MediaStream> stream(new MediaStream(kind, std::move(socket)));
  if (const int rc = stream->socket_.sendMessage(openType, 0, 0, openBody, timeout); rc != DLSDK_OK) return rc;
  wire::Message reply;
  if (const int rc = stream->socket_.readMessage(stream->reader_, reply, timeout); rc != DLSDK_OK) return rc;
  if (reply.header.type != openType) return DLSDK_ERR_PROTOCOL;
  if (reply.header.result != DLSDK_OK) return reply.header.result;
  if (!wire::decode(reply.body, stream->info_)) return DLSDK_ERR_PROTOCOL;
  out = std::move(stream);
  return DLSDK_OK;
}

void MediaStream::start(int32_t handle) {
  handle_ = handle;
  std::lock_guard lock(stateMutex_);
  // The thread keeps the stream alive until it ends, so close() may detach it.
  thread_ = std::thread([self = shared_from_this()] { self->receiveLoop(); });
  receiveThreadId_ = thread_.get_id();
}

void MediaStream::setCallback(DLSDK_MediaCallback callback, void* context) {
  std::unique_lock lock(stateMutex_);
  callback_ = callback;
  context_ = context;
  if (!callback && std::this_thread::get_id() != receiveThreadId_) {
    stateCv_.wait(lock, [this] { return !inCallback_; });
  }
}

void MediaStream::attachSink(std::shared_ptr<FrameSink> sink) {
  std::lock_guard lock(stateMutex_);
  sink_ = std::move(sink);
}

bool MediaStream::setEndCallback(DLSDK_StreamEndCallback callback, void* context) {
  std::unique_lock lock(stateMutex_);
  if (callback && ended_) return false;
  endCallback_ = callback;
  endContext_ = context;
  if (!callback && std::this_thread::get_id() != receiveThreadId_) {
    stateCv_.wait(lock, [this] { return !inCallback_; });
  }
  return true;
}

bool MediaStream::ended() const {
  std::lock_guard lock(stateMutex_);
  return ended_;
}

int MediaStream::control(uint16_t op, uint16_t arg, const wire::WireTime& time) {
  const int timeout = SdkContext::instance().commandTimeoutMs();
  bool onReceiveThread = false;
  uint32_t id = 0;
  {
    std::lock_guard lock(stateMutex_);
    if (ended_) return DLSDK_ERR_CONNECT;
    onReceiveThread = std::this_thread::get_id() == receiveThreadId_;
  }
  {
    std::lock_guard sendLock(sendMutex_);
    id = nextRequestId_++;
    if (!onReceiveThread) {
      std::lock_guard lock(stateMutex_);
      replies_[id] = -1;
    }
    const int rc = socket_.sendMessage(wire::kControl, 0, id, wire::encode(wire::ControlRequest{op, arg, time}), timeout);
    if (rc != DLSDK_OK) {
      std::lock_guard lock(stateMutex_);
      replies_.erase(id);
      socket_.shutdownBoth();
      return rc;
    }
  }
  // The receive thread reads the reply; it cannot wait for itself.
  if (onReceiveThread) return DLSDK_OK;
  std::unique_lock lock(stateMutex_);
  const bool answered = stateCv_.wait_for(lock, std::chrono::milliseconds(timeout),
                                          [&] { return ended_ || replies_[id] != -1; });
  const int result = replies_[id];
  replies_.erase(id);
  if (result != -1) return result;
  return answered ? DLSDK_ERR_CONNECT : DLSDK_ERR_TIMEOUT;
}

void MediaStream::receiveLoop() {
  wire::Message m;
  int reason = DLSDK_ERR_CONNECT;
  for (;;) {
    if (closing_) break;
    if (const int rc = socket_.readMessage(reader_, m, -1); rc != DLSDK_OK) {
      reason = rc == DLSDK_ERR_PROTOCOL ? DLSDK_ERR_PROTOCOL : DLSDK_ERR_CONNECT;
      break;
    }
    if (m.header.type == wire::kControl) {
      std::lock_guard lock(stateMutex_);
      // Only replies somebody waits for are kept, so a device cannot grow
      // the table by sending replies nobody asked for.
      if (auto it = replies_.find(m.header.requestId); it != replies_.end()) it->second = m.header.result;
      stateCv_.notify_all();
      continue;
    }
    wire::FrameHeader header;
    if (m.header.type != wire::kFrame || !wire::parseFrame(m.body, header)) {
      reason = DLSDK_ERR_PROTOCOL;
      break;
    }
    framesReceived_.fetch_add(1);
    if (wire::isEndOfData(header)) {
      sawEndOfData_ = kind_ == Kind::kHistory;
    } else if (header.kind != wire::kAudioFrame) {
      lastTime_ = header.seconds;
    }
    deliver(m, header);
  }
  // A history stream that delivered its end of data has ended as it should,
  // whatever the connection does afterwards.
  finish(sawEndOfData_ ? DLSDK_OK : reason);
}

void MediaStream::deliver(const wire::Message& message, const wire::FrameHeader& header) {
  DLSDK_MediaFrame frame{};
  frame.streamHandle = handle_;
  frame.data = message.body.data();
  frame.length = static_cast<int32_t>(message.body.size());
  const time_t seconds = static_cast<time_t>(header.seconds);
  struct tm t {};
  gmtime_r(&seconds, &t);
  frame.year = static_cast<uint16_t>(t.tm_year);
  frame.month = static_cast<uint16_t>(t.tm_mon);
  frame.dayOfWeek = static_cast<uint16_t>(t.tm_wday);
  frame.day = static_cast<uint16_t>(t.tm_mday);
  frame.hour = static_cast<uint16_t>(t.tm_hour);
  frame.minute = static_cast<uint16_t>(t.tm_min);
  frame.second = static_cast<uint16_t>(t.tm_sec);
  frame.milliseconds = header.milliseconds;
  frame.frameType = header.kind;
  frame.formatCode = header.format;
  frame.channel = header.channel;
  frame.timeStamp = header.seconds;
  frame.width = header.width;
  frame.height = header.height;
  frame.flags = header.flags;
  frame.sequence = header.sequence;

  DLSDK_MediaCallback callback = nullptr;
  void* context = nullptr;
  std::shared_ptr<FrameSink> sink;
  {
    std::lock_guard lock(stateMutex_);
    callback = callback_;
    context = context_;
    sink = sink_;
    inCallback_ = callback != nullptr;
  }
  if (sink) sink->onFrame(frame);
  if (!callback) return;
  if (!closing_) {
    callback(handle_, &frame, context);
    framesDelivered_.fetch_add(1);
  }
  std::lock_guard lock(stateMutex_);
  inCallback_ = false;
  stateCv_.notify_all();
}

void MediaStream::finish(int reason) {
  socket_.shutdownBoth();
  std::shared_ptr<FrameSink> sink;
  DLSDK_StreamEndCallback endCallback = nullptr;
  void* endContext = nullptr;
  {
    std::lock_guard lock(stateMutex_);
    ended_ = true;
    sink = sink_;
    // A stream the application closes does not tell it so.
    if (!closing_) {
      endCallback = endCallback_;
      endContext = endContext_;
    }
    endCallback_ = nullptr;
    inCallback_ = endCallback != nullptr;
    stateCv_.notify_all();
  }
  if (sink) sink->onStreamEnd();
  if (!endCallback) return;
  endCallback(handle_, reason, endContext);
  std::lock_guard lock(stateMutex_);
  inCallback_ = false;
  stateCv_.notify_all();
}

void MediaStream::close() {
  closing_ = true;
  socket_.shutdownBoth();
  bool self = false;
  {
    std::lock_guard lock(stateMutex_);
    self = std::this_thread::get_id() == receiveThreadId_;
  }
  if (!thread_.joinable()) return;
  if (self) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

}  // namespace devlink
