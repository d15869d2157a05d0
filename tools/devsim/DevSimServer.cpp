#include "tools/devsim/DevSimServer.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <random>

#include "platform/devlink/DevLinkSdk.h"
#include "platform/sys/G711.h"
#include "tools/devsim/HistoryPlayer.h"

namespace devsim {

namespace wire = devlink::wire;
using Clock = std::chrono::steady_clock;

namespace {

// A client must say what it wants this soon after connecting.
constexpr int kHelloTimeoutMs = 10000;
// Replies to a client that does not read are given up after this long.
constexpr int kReplyTimeoutMs = 5000;
// More connections than this at once (logged in or not) are closed at once.
constexpr size_t kMaxConnections = 512;
// Live frames are dropped while this much is waiting for a slow client.
constexpr size_t kLiveBacklog = 2 * 1024 * 1024;
// History frames are produced ahead of the client only this far.
constexpr size_t kHistoryAhead = 512 * 1024;
constexpr int kAudioBytesPerFrame = 320;  // 40 ms at 8 kHz

struct StreamSize {
  int width;
  int height;
};
std::optional<StreamSize> sizeOf(int streamType) {
  switch (streamType) {
    case DLSDK_STREAM_MAIN: return StreamSize{1280, 720};
    case DLSDK_STREAM_SUB: return StreamSize{704, 576};
    case DLSDK_STREAM_THIRD: return StreamSize{352, 288};
    default: return std::nullopt;
  }
}

// The device's local time as calendar seconds, and the milliseconds.
int64_t nowCalendarSeconds(uint16_t& milliseconds) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm local {};
  localtime_r(&ts.tv_sec, &local);
  milliseconds = static_cast<uint16_t>(ts.tv_nsec / 1000000);
  return static_cast<int64_t>(timegm(&local));
}

// The bytes a media connection has yet to send. Frames are built straight
// into it; the consumed front is dropped now and then.
class OutputQueue {
 public:
  size_t size() const { return buffer_.size() - offset_; }

  void appendMessage(uint16_t type, uint16_t result, uint32_t requestId, std::span<const uint8_t> body) {
    const std::vector<uint8_t> m = wire::buildMessage(type, result, requestId, body);
    buffer_.insert(buffer_.end(), m.begin(), m.end());
  }

  void appendFrame(const wire::FrameHeader& header, std::span<const uint8_t> payload) {
    const size_t at = buffer_.size();
    const size_t frameSize = wire::kFrameHeaderSize + payload.size();
    buffer_.resize(at + wire::kMessageHeaderSize + frameSize);
    wire::encodeHeader(&buffer_[at], wire::MessageHeader{wire::kFrame, 0, 0, static_cast<uint32_t>(frameSize)});
    wire::encodeFrameHeader(&buffer_[at + wire::kMessageHeaderSize], header);
    if (!payload.empty()) {
      std::memcpy(&buffer_[at + wire::kMessageHeaderSize + wire::kFrameHeaderSize], payload.data(), payload.size());
    }
  }

  // Sends what the socket takes now. False when the connection is gone.
  bool flush(int fd) {
    while (size() > 0) {
      const ssize_t n = ::send(fd, buffer_.data() + offset_, size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        offset_ += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      return false;
    }
    if (offset_ == buffer_.size()) {
      buffer_.clear();
      offset_ = 0;
    } else if (offset_ > 1024 * 1024) {
      buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(offset_));
      offset_ = 0;
    }
    return true;
  }

 private:
  std::vector<uint8_t> buffer_;
  size_t offset_ = 0;
};

int msUntil(Clock::time_point t) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
  return ms <= 0 ? 0 : static_cast<int>(std::min<int64_t>(ms, 1000));
}

}  // namespace

DevSimServer::DevSimServer(DevSimOptions options)
    : options_(std::move(options)), forceCounters_(new std::atomic<uint32_t>[options_.channels]) {
  for (int i = 0; i < options_.channels; ++i) forceCounters_[i] = 0;
  // A beep: 400 Hz for half a second, then half a second of silence.
  const bool alaw = options_.audioFormat == wire::kG711Alaw;
  for (int f = 0; f < EncodedLoop::kFrameRate; ++f) {
    std::vector<uint8_t> frame(kAudioBytesPerFrame);
    for (int i = 0; i < kAudioBytesPerFrame; ++i) {
      const double t = (f * kAudioBytesPerFrame + i) / 8000.0;
      const int16_t sample = f < 12 ? static_cast<int16_t>(8000 * std::sin(2 * M_PI * 400 * t)) : 0;
      frame[i] = alaw ? g711::encodeALaw(sample) : g711::encodeMuLawStandard(sample);
    }
    audioFrames_.push_back(std::move(frame));
  }
}

DevSimServer::~DevSimServer() { stop(); }

bool DevSimServer::start(std::string* error) {
  if (!devlink::Socket::listenOn(options_.bindAddress, options_.commandPort, commandListener_, commandPort_)) {
    if (error) *error = "cannot listen on " + options_.bindAddress + ":" + std::to_string(options_.commandPort);
    return false;
  }
  if (!devlink::Socket::listenOn(options_.bindAddress, options_.mediaPort, mediaListener_, mediaPort_)) {
    commandListener_.close();
    if (error) *error = "cannot listen on " + options_.bindAddress + ":" + std::to_string(options_.mediaPort);
    return false;
  }
  commandAcceptThread_ = std::thread([this] { acceptLoop(&commandListener_, Port::kCommand); });
  mediaAcceptThread_ = std::thread([this] { acceptLoop(&mediaListener_, Port::kMedia); });
  return true;
}

void DevSimServer::stop() {
  if (stopping_.exchange(true)) return;
  commandListener_.shutdownBoth();
  mediaListener_.shutdownBoth();
  if (commandAcceptThread_.joinable()) commandAcceptThread_.join();
  if (mediaAcceptThread_.joinable()) mediaAcceptThread_.join();
  std::list<std::unique_ptr<Connection>> all;
  {
    std::lock_guard lock(connectionsMutex_);
    for (auto& c : connections_) c->socket.shutdownBoth();
    all.swap(connections_);
  }
  for (auto& c : all) {
    if (c->thread.joinable()) c->thread.join();
  }
  commandListener_.close();
  mediaListener_.close();
}

int DevSimServer::sessionCount() const {
  std::lock_guard lock(sessionsMutex_);
  return static_cast<int>(sessions_.size());
}

void DevSimServer::log(const std::string& text) const {
  if (options_.verbose) std::cerr << "devsim: " << text << '\n';
}

void DevSimServer::reapFinished() {
  std::list<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard lock(connectionsMutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->done) {
        finished.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished) c->thread.join();
}

void DevSimServer::acceptLoop(devlink::Socket* listener, Port port) {
  for (;;) {
    devlink::Socket client = listener->accept();
    if (!client.valid() || stopping_) return;
    reapFinished();
    std::lock_guard lock(connectionsMutex_);
    if (stopping_) return;
    if (connections_.size() >= kMaxConnections) continue;  // closes the client
    auto conn = std::make_unique<Connection>();
    conn->socket = std::move(client);
    Connection* raw = conn.get();
    connections_.push_back(std::move(conn));
    raw->thread = std::thread([this, raw, port] {
      // Nothing may escape a connection thread: a failure ends that
      // connection only.
      try {
        if (port == Port::kCommand) {
          serveCommand(raw->socket);
        } else {
          serveMedia(raw->socket);
        }
      } catch (...) {
      }
      // The peer sees the end at once; the descriptor itself is closed when
      // the connection is reaped, so that stop() never shuts down a reused one.
      raw->socket.shutdownBoth();
      raw->done = true;
    });
  }
}

std::shared_ptr<const EncodedLoop> DevSimServer::loopFor(int channel, int streamType) {
  const auto size = sizeOf(streamType);
  if (!size || channel < 0 || channel >= options_.channels) return nullptr;
  std::promise<std::shared_ptr<const EncodedLoop>> promise;
  std::shared_future<std::shared_ptr<const EncodedLoop>> future;
  bool encodeHere = false;
  {
    std::lock_guard lock(loopsMutex_);
    auto it = loops_.find({channel, streamType});
    if (it == loops_.end()) {
      future = promise.get_future().share();
      loops_.emplace(std::make_pair(channel, streamType), future);
      encodeHere = true;
    } else {
      future = it->second;
    }
  }
  if (encodeHere) {
    std::string why;
    auto loop = EncodedLoop::encode(size->width, size->height, channel, options_.isH265(channel),
                                    options_.loopSeconds, &why);
    if (!loop) log("encoding failed: " + why);
    promise.set_value(loop);
  }
  return future.get();
}

int DevSimServer::checkToken(const wire::SessionToken& token, bool needsFullRights) {
  std::lock_guard lock(sessionsMutex_);
  const auto it = sessions_.find(token.sessionId);
  if (it == sessions_.end() || it->second.key != token.key) return DLSDK_ERR_SESSION;
  if (needsFullRights && it->second.liveOnly) return DLSDK_ERR_NO_PERMISSION;
  return DLSDK_OK;
}

bool DevSimServer::reserveStream() {
  int n = activeStreams_.load();
  while (n < options_.maxStreams) {
    if (activeStreams_.compare_exchange_weak(n, n + 1)) return true;
  }
  return false;
}

void DevSimServer::serveCommand(devlink::Socket& s) {
  wire::MessageReader reader;
  wire::Message m;
  if (s.readMessage(reader, m, kHelloTimeoutMs) != DLSDK_OK) return;
  const auto reply = [&](int result, std::span<const uint8_t> body = {}) {
    return s.sendMessage(m.header.type, static_cast<uint16_t>(result), m.header.requestId, body,
                         kReplyTimeoutMs) == DLSDK_OK;
  };
  if (m.header.type == wire::kTalkOpen) {
    serveTalk(s, reader, m);
    return;
  }
  if (m.header.type != wire::kLogin) {
    reply(DLSDK_ERR_NOT_AVAILABLE);
    return;
  }
  wire::LoginRequest login;
  if (!wire::decode(m.body, login)) {
    reply(DLSDK_ERR_INVALID_PARAMETER);
    return;
  }
  const Account* account = nullptr;
  for (const Account& a : options_.accounts) {
    if (a.user == login.user) account = &a;
  }
  if (!account) {
    reply(DLSDK_ERR_UNKNOWN_USER);
    return;
  }
  if (account->password != login.password) {
    reply(DLSDK_ERR_BAD_PASSWORD);
    return;
  }
  uint32_t sessionId = 0;
  wire::LoginReply answer;
  {
    std::lock_guard lock(sessionsMutex_);
    if (static_cast<int>(sessions_.size()) >= options_.maxSessions) {
      reply(DLSDK_ERR_CONNECTION_LIMIT);
      return;
    }
    static thread_local std::mt19937_64 random{std::random_device{}()};
    sessionId = nextSessionId_++;
    const uint64_t key = random();
    sessions_[sessionId] = Session{login.user, account->liveOnly, key};
    answer.token = wire::SessionToken{sessionId, key};
  }
  answer.channelCount = static_cast<uint16_t>(options_.channels);
  log("login " + login.user + " session " + std::to_string(sessionId));
  // The session lives as long as its command connection.
  struct SessionEnd {
    DevSimServer* server;
    uint32_t id;
    ~SessionEnd() {
      std::lock_guard lock(server->sessionsMutex_);
      server->sessions_.erase(id);
    }
  } sessionEnd{this, sessionId};
  if (!reply(DLSDK_OK, wire::encode(answer))) return;

  for (;;) {
    if (s.readMessage(reader, m, -1) != DLSDK_OK) return;
    switch (m.header.type) {
      case wire::kLogout:
        reply(DLSDK_OK);
        return;
      case wire::kForceKeyFrame: {
        wire::ForceKeyFrameRequest r;
        if (!wire::decode(m.body, r)) {
          reply(DLSDK_ERR_INVALID_PARAMETER);
          return;
        }
        if (r.channel >= options_.channels) {
          if (!reply(DLSDK_ERR_INVALID_PARAMETER)) return;
          break;
        }
        forceCounters_[r.channel].fetch_add(1);
        keyFrameRequests_.fetch_add(1);
        if (!reply(DLSDK_OK)) return;
        break;
      }
      case wire::kRecordQuery: {
        wire::RecordQueryRequest r;
        if (!wire::decode(m.body, r)) {
          reply(DLSDK_ERR_INVALID_PARAMETER);
          return;
        }
        if (account->liveOnly) {
          if (!reply(DLSDK_ERR_NO_PERMISSION)) return;
          break;
        }
        const int64_t from = *wire::calendarSeconds(r.begin);
        const int64_t to = *wire::calendarSeconds(r.end);
        if (r.channel >= options_.channels || from > to || r.typeMask == 0) {
          if (!reply(DLSDK_ERR_INVALID_PARAMETER)) return;
          break;
        }
        // The end second is part of the window.
        std::vector<wire::RecordItem> items;
        for (const RecordingSpan& span : options_.schedule.query(r.channel, from, to + 1, r.typeMask)) {
          items.push_back(wire::RecordItem{span.type, wire::timeFromCalendarSeconds(span.begin),
                                           wire::timeFromCalendarSeconds(span.end)});
        }
        if (!reply(DLSDK_OK, wire::encode(items))) return;
        break;
      }
      default:
        // A well-framed request this port does not serve.
        if (!reply(DLSDK_ERR_NOT_SUPPORTED)) return;
        break;
    }
  }
}

void DevSimServer::serveTalk(devlink::Socket& s, wire::MessageReader& reader, const wire::Message& open) {
  const auto reply = [&](int result) {
    return s.sendMessage(open.header.type, static_cast<uint16_t>(result), open.header.requestId, {},
                         kReplyTimeoutMs) == DLSDK_OK;
  };
  wire::TalkOpenRequest r;
  if (!wire::decode(open.body, r)) {
    reply(DLSDK_ERR_INVALID_PARAMETER);
    return;
  }
  if (const int rc = checkToken(r.token, true); rc != DLSDK_OK) {
    reply(rc);
    return;
  }
  if (r.codec == DLSDK_TALK_G726 || r.codec == DLSDK_TALK_AAC) {
    reply(DLSDK_ERR_NOT_SUPPORTED);
    return;
  }
  if (r.codec != DLSDK_TALK_G711A && r.codec != DLSDK_TALK_G711U) {
    reply(DLSDK_ERR_INVALID_PARAMETER);
    return;
  }
  if (!reply(DLSDK_OK)) return;
  log("talk open");
  wire::Message m;
  while (s.readMessage(reader, m, -1) == DLSDK_OK) {
    if (m.header.type != wire::kTalkData) return;
    talkBytes_.fetch_add(m.body.size());
  }
}

void DevSimServer::serveMedia(devlink::Socket& s) {
  wire::MessageReader reader;
  wire::Message m;
  if (s.readMessage(reader, m, kHelloTimeoutMs) != DLSDK_OK) return;
  const wire::Message open = m;
  const auto reply = [&](int result, std::span<const uint8_t> body = {}) {
    return s.sendMessage(open.header.type, static_cast<uint16_t>(result), open.header.requestId, body,
                         kReplyTimeoutMs) == DLSDK_OK;
  };

  const bool live = open.header.type == wire::kLiveOpen;
  if (!live && open.header.type != wire::kHistoryOpen) {
    reply(DLSDK_ERR_NOT_AVAILABLE);
    return;
  }
  int channel = 0;
  int streamType = 0;
  std::optional<HistoryPlayer> player;
  if (live) {
    wire::LiveOpenRequest r;
    if (!wire::decode(open.body, r)) {
      reply(DLSDK_ERR_INVALID_PARAMETER);
      return;
    }
    if (const int rc = checkToken(r.token, false); rc != DLSDK_OK) {
      reply(rc);
      return;
    }
    if (r.channel >= options_.channels || !sizeOf(r.streamType)) {
      reply(DLSDK_ERR_INVALID_PARAMETER);
      return;
    }
    channel = r.channel;
    streamType = r.streamType;
  } else {
    wire::HistoryOpenRequest r;
    if (!wire::decode(open.body, r)) {
      reply(DLSDK_ERR_INVALID_PARAMETER);
      return;
    }
    if (const int rc = checkToken(r.token, true); rc != DLSDK_OK) {
      reply(rc);
      return;
    }
    const int64_t from = *wire::calendarSeconds(r.begin);
    const int64_t to = *wire::calendarSeconds(r.end) + 1;  // the end second is included
    if (r.channel >= options_.channels || from >= to || to - from > 31 * 86400 || r.typeMask == 0) {
      reply(DLSDK_ERR_INVALID_PARAMETER);
      return;
    }
    channel = r.channel;
    streamType = r.subStream ? DLSDK_STREAM_SUB : DLSDK_STREAM_MAIN;
    player.emplace(options_.schedule.query(channel, from, to, r.typeMask), from, to);
  }
  if (!reserveStream()) {
    reply(DLSDK_ERR_CONNECTION_LIMIT);
    return;
  }
  struct StreamRelease {
    std::atomic<int>& count;
    ~StreamRelease() { count.fetch_sub(1); }
  } release{activeStreams_};
  const std::shared_ptr<const EncodedLoop> loop = loopFor(channel, streamType);
  if (!loop) {
    reply(DLSDK_ERR_FAILED);
    return;
  }
  const uint8_t audioFormat = options_.audioFormat;
  wire::StreamInfo info{static_cast<uint16_t>(loop->width), static_cast<uint16_t>(loop->height), loop->format,
                        audioFormat, EncodedLoop::kFrameRate};
  if (!reply(DLSDK_OK, wire::encode(info))) return;
  log(std::string(live ? "live" : "history") + " stream channel " + std::to_string(channel) + " type " +
      std::to_string(streamType));

  s.setNonBlocking();
  OutputQueue out;
  uint32_t sequence = 0;
  wire::FrameHeader base;
  base.streamType = static_cast<uint8_t>(streamType);
  base.channel = static_cast<uint16_t>(channel);
  base.frameRate = EncodedLoop::kFrameRate;

  const auto addAudio = [&](uint32_t seconds, uint16_t ms, int index) {
    if (audioFormat == 0) return;
    wire::FrameHeader h = base;
    h.kind = wire::kAudioFrame;
    h.format = audioFormat;
    h.seconds = seconds;
    h.milliseconds = ms;
    h.payloadLength = kAudioBytesPerFrame;
    h.sequence = sequence++;
    out.appendFrame(h, audioFrames_[index % audioFrames_.size()]);
    framesSent_.fetch_add(1);
  };
  const auto addVideo = [&](int loopIndex, uint8_t kind, uint32_t seconds, uint16_t ms, uint8_t flags) {
    const std::vector<uint8_t>& au = loop->frames[loopIndex];
    wire::FrameHeader h = base;
    h.kind = kind;
    h.format = loop->format;
    h.seconds = seconds;
    h.milliseconds = ms;
    h.flags = flags;
    if (wire::isKeyFrameKind(kind)) {
      h.width = static_cast<uint16_t>(loop->width);
      h.height = static_cast<uint16_t>(loop->height);
    }
    h.payloadLength = static_cast<uint32_t>(au.size());
    h.sequence = sequence++;
    out.appendFrame(h, au);
    framesSent_.fetch_add(1);
  };
  const auto addHistoryItem = [&](const HistoryPlayer::Item& item) {
    const uint32_t seconds = static_cast<uint32_t>(item.frame / HistoryPlayer::kFrameRate);
    const int inSecond = static_cast<int>(item.frame % HistoryPlayer::kFrameRate);
    if (item.end) {
      wire::FrameHeader h = base;
      h.kind = wire::kRecordedKeyFrame;
      h.format = loop->format;
      h.seconds = seconds;
      h.payloadLength = 0;
      h.sequence = sequence++;
      out.appendFrame(h, {});
      framesSent_.fetch_add(1);
      return;
    }
    const int index = static_cast<int>(item.frame % loop->size());
    const uint8_t kind = EncodedLoop::isKey(index) ? wire::kRecordedKeyFrame : wire::kDeltaFrame;
    const uint16_t ms = static_cast<uint16_t>(inSecond * 1000 / HistoryPlayer::kFrameRate);
    addVideo(index, kind, seconds, ms, item.preroll ? wire::kPreroll : 0);
    if (!item.preroll && player->rate() == 0) addAudio(seconds, ms, inSecond);
  };

  // Live state.
  int liveIndex = 0;
  bool livePaused = false;
  bool waitForKey = false;
  bool forcedPending = false;
  uint32_t forceSeen = forceCounters_[channel].load();
  auto due = Clock::now();

  uint8_t chunk[wire::MessageReader::kMaxFeed];
  while (!stopping_) {
    const auto now = Clock::now();
    if (live) {
      if (const uint32_t f = forceCounters_[channel].load(); f != forceSeen) {
        forceSeen = f;
        // Jump to the next key frame of the loop so the very next frame is one.
        if (!EncodedLoop::isKey(liveIndex)) {
          liveIndex = (liveIndex + EncodedLoop::kGop - liveIndex % EncodedLoop::kGop) % loop->size();
        }
        forcedPending = true;
      }
      if (!livePaused && now >= due) {
        uint16_t ms = 0;
        const uint32_t seconds = static_cast<uint32_t>(nowCalendarSeconds(ms));
        const bool key = EncodedLoop::isKey(liveIndex);
        if (out.size() > kLiveBacklog) {
          // The client does not keep up: drop, and resume at a key frame.
          waitForKey = true;
        } else if (!waitForKey || key) {
          waitForKey = false;
          const uint8_t kind = key ? (forcedPending ? wire::kForcedKeyFrame : wire::kKeyFrame) : wire::kDeltaFrame;
          if (key) forcedPending = false;
          addVideo(liveIndex, kind, seconds, ms, 0);
          addAudio(seconds, ms, liveIndex);
        }
        liveIndex = (liveIndex + 1) % loop->size();
        due += std::chrono::microseconds(1000000 / EncodedLoop::kFrameRate);
        if (now - due > std::chrono::seconds(1)) due = now;
      }
    } else {
      while (player->hasPending()) addHistoryItem(*player->next());
      if (player->playing()) {
        if (player->paced()) {
          if (now >= due) {
            if (auto item = player->next()) addHistoryItem(*item);
            due += std::chrono::microseconds(player->intervalMicros());
            if (now - due > std::chrono::seconds(1)) due = now;
          }
        } else {
          while (out.size() < kHistoryAhead) {
            auto item = player->next();
            if (!item) break;
            addHistoryItem(*item);
          }
        }
      }
    }
    if (!out.flush(s.fd())) return;

    int timeout = -1;
    if (live && !livePaused) {
      timeout = msUntil(due);
    } else if (!live && player->playing()) {
      if (player->paced()) {
        timeout = msUntil(due);
      } else if (out.size() < kHistoryAhead) {
        timeout = 0;
      }
    }
    pollfd p{s.fd(), static_cast<short>(POLLIN | (out.size() > 0 ? POLLOUT : 0)), 0};
    const int n = ::poll(&p, 1, timeout);
    if (n < 0 && errno != EINTR) return;
    if (n <= 0) continue;
    if (p.revents & (POLLERR | POLLNVAL)) return;
    if (!(p.revents & (POLLIN | POLLHUP))) continue;
    const ssize_t got = ::recv(s.fd(), chunk, sizeof chunk, MSG_DONTWAIT);
    if (got == 0) return;
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return;
    }
    if (!reader.feed(std::span<const uint8_t>(chunk, static_cast<size_t>(got)))) return;
    for (;;) {
      const wire::ParseStatus st = reader.next(m);
      if (st == wire::ParseStatus::kNeedMore) break;
      if (st == wire::ParseStatus::kBad || m.header.type != wire::kControl) return;
      wire::ControlRequest c;
      if (!wire::decode(m.body, c)) {
        out.appendMessage(wire::kControl, DLSDK_ERR_INVALID_PARAMETER, m.header.requestId, {});
        out.flush(s.fd());
        return;
      }
      int result = DLSDK_OK;
      if (live) {
        if (c.op == wire::kStart) {
          livePaused = false;
        } else if (c.op == wire::kPause) {
          livePaused = true;
        } else {
          result = DLSDK_ERR_NOT_AVAILABLE;
        }
      } else {
        switch (c.op) {
          case wire::kStart:
            if (!player->playing()) due = Clock::now();
            player->start(c.arg == 0);
            break;
          case wire::kPause: player->pause(); break;
          case wire::kPosition: player->position(*wire::calendarSeconds(c.time)); break;
          case wire::kFaster: player->faster(); break;
          case wire::kSlower: player->slower(); break;
          case wire::kNormalRate: player->normalRate(); break;
          case wire::kStepForward: player->stepForward(); break;
          case wire::kStepBack: player->stepBack(); break;
          default: result = DLSDK_ERR_NOT_SUPPORTED; break;
        }
      }
      out.appendMessage(wire::kControl, static_cast<uint16_t>(result), m.header.requestId, {});
    }
  }
}

}  // namespace devsim
