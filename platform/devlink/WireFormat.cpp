#include "platform/devlink/WireFormat.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace devlink::wire {
namespace {

// Little-endian field access on bounded buffers. The callers check sizes
// before reading, so these never see a short buffer.
void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t get64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

void putTime(uint8_t* p, const WireTime& t) {
  put16(p, t.year);
  put16(p + 2, t.month);
  put16(p + 4, t.day);
  put16(p + 6, t.hour);
  put16(p + 8, t.minute);
  put16(p + 10, t.second);
}
WireTime getTime(const uint8_t* p) {
  return WireTime{get16(p), get16(p + 2), get16(p + 4), get16(p + 6), get16(p + 8), get16(p + 10)};
}

// A text in a fixed field: it must end with a zero inside the field.
void putName(uint8_t* p, const std::string& s) {
  std::memset(p, 0, kNameFieldSize);
  std::memcpy(p, s.data(), std::min(s.size(), kNameFieldSize - 1));
}
bool getName(const uint8_t* p, std::string& out) {
  const void* end = std::memchr(p, 0, kNameFieldSize);
  if (!end) return false;
  out.assign(reinterpret_cast<const char*>(p), static_cast<const uint8_t*>(end) - p);
  return true;
}

void putToken(uint8_t* p, const SessionToken& t) {
  put32(p, t.sessionId);
  put64(p + 4, t.key);
}
SessionToken getToken(const uint8_t* p) { return SessionToken{get32(p), get64(p + 4)}; }
constexpr size_t kTokenSize = 12;

// The most key-derivation work a challenge may ask for. Fuzz builds take
// far less, so that the fuzzer spends its time on parsing, not on hashing.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr uint32_t kAcceptedKeyIterations = 2 * kMinKeyIterations;
#else
constexpr uint32_t kAcceptedKeyIterations = kMaxKeyIterations;
#endif

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int daysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

uint32_t maxBodyFor(uint16_t type) {
  switch (type) {
    case kLogin:
    case kLoginChallenge:
    case kLogout:
    case kForceKeyFrame:
    case kTalkOpen:
    case kLiveOpen:
    case kHistoryOpen:
    case kControl:
      return kMaxControlBody;
    case kRecordQuery:
      return kMaxControlBody;
    case kTalkData:
      return kMaxTalkBody;
    case kFrame:
      return kMaxFrameBody;
    default:
      return 0;
  }
}

void encodeHeader(uint8_t* out, const MessageHeader& h) {
  put32(out, kMessageMagic);
  put16(out + 4, h.type);
  put16(out + 6, h.result);
  put32(out + 8, h.requestId);
  put32(out + 12, h.bodyLength);
}

ParseStatus parseHeader(std::span<const uint8_t> bytes, MessageHeader& out) {
  if (bytes.size() < kMessageHeaderSize) return ParseStatus::kNeedMore;
  if (get32(bytes.data()) != kMessageMagic) return ParseStatus::kBad;
  MessageHeader h;
  h.type = get16(bytes.data() + 4);
  h.result = get16(bytes.data() + 6);
  h.requestId = get32(bytes.data() + 8);
  h.bodyLength = get32(bytes.data() + 12);
  const uint32_t bound = maxBodyFor(h.type);
  if (bound == 0 || h.bodyLength > bound) return ParseStatus::kBad;
  out = h;
  return ParseStatus::kOk;
}

std::vector<uint8_t> buildMessage(uint16_t type, uint16_t result, uint32_t requestId,
                                  std::span<const uint8_t> body) {
  std::vector<uint8_t> out(kMessageHeaderSize + body.size());
  encodeHeader(out.data(), MessageHeader{type, result, requestId, static_cast<uint32_t>(body.size())});
  if (!body.empty()) std::memcpy(out.data() + kMessageHeaderSize, body.data(), body.size());
  return out;
}

bool MessageReader::feed(std::span<const uint8_t> bytes) {
  if (bad_) return false;
  // Drop what was consumed before growing, so the buffer stays bounded.
  if (offset_ > 0) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(offset_));
    offset_ = 0;
  }
  if (buffer_.size() + bytes.size() > kMessageHeaderSize + kMaxFrameBody + kMaxFeed) {
    bad_ = true;
    return false;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  return true;
}

ParseStatus MessageReader::next(Message& out) {
  if (bad_) return ParseStatus::kBad;
  const std::span<const uint8_t> avail(buffer_.data() + offset_, buffer_.size() - offset_);
  MessageHeader h;
  const ParseStatus s = parseHeader(avail, h);
  if (s == ParseStatus::kBad) {
    bad_ = true;
    return s;
  }
  if (s == ParseStatus::kNeedMore || avail.size() < kMessageHeaderSize + h.bodyLength) {
    return ParseStatus::kNeedMore;
  }
  out.header = h;
  out.body.assign(avail.begin() + kMessageHeaderSize, avail.begin() + kMessageHeaderSize + h.bodyLength);
  offset_ += kMessageHeaderSize + h.bodyLength;
  if (offset_ == buffer_.size()) {
    buffer_.clear();
    offset_ = 0;
  }
  return ParseStatus::kOk;
}

bool isValidTime(const WireTime& t) {
  if (t.year < 1970 || t.year > 2105 || t.month < 1 || t.month > 12) return false;
  if (t.day < 1 || t.day > daysInMonth(t.year, t.month)) return false;
  return t.hour < 24 && t.minute < 60 && t.second < 60;
}

std::optional<int64_t> calendarSeconds(const WireTime& t) {
  if (!isValidTime(t)) return std::nullopt;
  return daysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

WireTime timeFromCalendarSeconds(int64_t seconds) {
  const time_t s = static_cast<time_t>(seconds);
  struct tm tm {};
  gmtime_r(&s, &tm);
  return WireTime{static_cast<uint16_t>(tm.tm_year + 1900), static_cast<uint16_t>(tm.tm_mon + 1),
                  static_cast<uint16_t>(tm.tm_mday),        static_cast<uint16_t>(tm.tm_hour),
                  static_cast<uint16_t>(tm.tm_min),         static_cast<uint16_t>(tm.tm_sec)};
}

// LoginChallengeRequest: u16 version, u16 0, char user[32], u8 client nonce[16].
std::vector<uint8_t> encode(const LoginChallengeRequest& m) {
  std::vector<uint8_t> b(4 + kNameFieldSize + kClientNonceSize);
  put16(b.data(), m.version);
  putName(b.data() + 4, m.user);
  std::memcpy(b.data() + 4 + kNameFieldSize, m.clientNonce.data(), kClientNonceSize);
  return b;
}
bool decode(std::span<const uint8_t> b, LoginChallengeRequest& m) {
  if (b.size() != 4 + kNameFieldSize + kClientNonceSize) return false;
  m.version = get16(b.data());
  if (get16(b.data() + 2) != 0 || !getName(b.data() + 4, m.user) || m.user.empty()) return false;
  std::memcpy(m.clientNonce.data(), b.data() + 4 + kNameFieldSize, kClientNonceSize);
  return true;
}

// LoginChallenge: u8 server nonce[32], u8 salt[16], u32 iterations.
std::vector<uint8_t> encode(const LoginChallenge& m) {
  std::vector<uint8_t> b(kServerNonceSize + kSaltSize + 4);
  std::memcpy(b.data(), m.serverNonce.data(), kServerNonceSize);
  std::memcpy(b.data() + kServerNonceSize, m.salt.data(), kSaltSize);
  put32(b.data() + kServerNonceSize + kSaltSize, m.iterations);
  return b;
}
bool decode(std::span<const uint8_t> b, LoginChallenge& m) {
  if (b.size() != kServerNonceSize + kSaltSize + 4) return false;
  std::memcpy(m.serverNonce.data(), b.data(), kServerNonceSize);
  std::memcpy(m.salt.data(), b.data() + kServerNonceSize, kSaltSize);
  m.iterations = get32(b.data() + kServerNonceSize + kSaltSize);
  return m.iterations >= kMinKeyIterations && m.iterations <= kAcceptedKeyIterations;
}

// LoginRequest: u8 proof[32].
std::vector<uint8_t> encode(const LoginRequest& m) { return std::vector<uint8_t>(m.proof.begin(), m.proof.end()); }
bool decode(std::span<const uint8_t> b, LoginRequest& m) {
  if (b.size() != kProofSize) return false;
  std::memcpy(m.proof.data(), b.data(), kProofSize);
  return true;
}

std::vector<uint8_t> encode(const LoginReply& m) {
  std::vector<uint8_t> b(kTokenSize + 4);
  putToken(b.data(), m.token);
  put16(b.data() + kTokenSize, m.channelCount);
  return b;
}
bool decode(std::span<const uint8_t> b, LoginReply& m) {
  if (b.size() != kTokenSize + 4) return false;
  m.token = getToken(b.data());
  m.channelCount = get16(b.data() + kTokenSize);
  return m.channelCount <= 1024;
}

std::vector<uint8_t> encode(const ForceKeyFrameRequest& m) {
  std::vector<uint8_t> b(4);
  put16(b.data(), m.channel);
  return b;
}
bool decode(std::span<const uint8_t> b, ForceKeyFrameRequest& m) {
  if (b.size() != 4) return false;
  m.channel = get16(b.data());
  return true;
}

std::vector<uint8_t> encode(const RecordQueryRequest& m) {
  std::vector<uint8_t> b(8 + 2 * kWireTimeSize);
  put16(b.data(), m.channel);
  put32(b.data() + 4, m.typeMask);
  putTime(b.data() + 8, m.begin);
  putTime(b.data() + 8 + kWireTimeSize, m.end);
  return b;
}
bool decode(std::span<const uint8_t> b, RecordQueryRequest& m) {
  if (b.size() != 8 + 2 * kWireTimeSize) return false;
  m.channel = get16(b.data());
  m.typeMask = get32(b.data() + 4);
  m.begin = getTime(b.data() + 8);
  m.end = getTime(b.data() + 8 + kWireTimeSize);
  return isValidTime(m.begin) && isValidTime(m.end);
}

namespace {
constexpr size_t kRecordItemSize = 4 + 2 * kWireTimeSize;
}
std::vector<uint8_t> encode(const std::vector<RecordItem>& items) {
  const size_t n = std::min<size_t>(items.size(), kMaxRecordItems);
  std::vector<uint8_t> b(4 + n * kRecordItemSize);
  put32(b.data(), static_cast<uint32_t>(n));
  for (size_t i = 0; i < n; ++i) {
    uint8_t* p = b.data() + 4 + i * kRecordItemSize;
    put32(p, items[i].type);
    putTime(p + 4, items[i].begin);
    putTime(p + 4 + kWireTimeSize, items[i].end);
  }
  return b;
}
bool decode(std::span<const uint8_t> b, std::vector<RecordItem>& items) {
  if (b.size() < 4) return false;
  const uint32_t n = get32(b.data());
  if (n > kMaxRecordItems || b.size() != 4 + static_cast<size_t>(n) * kRecordItemSize) return false;
  items.clear();
  items.reserve(n);
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* p = b.data() + 4 + i * kRecordItemSize;
    RecordItem item{get32(p), getTime(p + 4), getTime(p + 4 + kWireTimeSize)};
    if (!isValidTime(item.begin) || !isValidTime(item.end)) return false;
    items.push_back(item);
  }
  return true;
}

std::vector<uint8_t> encode(const TalkOpenRequest& m) {
  std::vector<uint8_t> b(kTokenSize + 4);
  putToken(b.data(), m.token);
  put32(b.data() + kTokenSize, m.codec);
  return b;
}
bool decode(std::span<const uint8_t> b, TalkOpenRequest& m) {
  if (b.size() != kTokenSize + 4) return false;
  m.token = getToken(b.data());
  m.codec = get32(b.data() + kTokenSize);
  return true;
}

std::vector<uint8_t> encode(const LiveOpenRequest& m) {
  std::vector<uint8_t> b(kTokenSize + 4);
  putToken(b.data(), m.token);
  put16(b.data() + kTokenSize, m.channel);
  put16(b.data() + kTokenSize + 2, m.streamType);
  return b;
}
bool decode(std::span<const uint8_t> b, LiveOpenRequest& m) {
  if (b.size() != kTokenSize + 4) return false;
  m.token = getToken(b.data());
  m.channel = get16(b.data() + kTokenSize);
  m.streamType = get16(b.data() + kTokenSize + 2);
  return true;
}

std::vector<uint8_t> encode(const HistoryOpenRequest& m) {
  std::vector<uint8_t> b(kTokenSize + 8 + 2 * kWireTimeSize);
  uint8_t* p = b.data();
  putToken(p, m.token);
  put16(p + kTokenSize, m.channel);
  p[kTokenSize + 2] = m.subStream;
  put32(p + kTokenSize + 4, m.typeMask);
  putTime(p + kTokenSize + 8, m.begin);
  putTime(p + kTokenSize + 8 + kWireTimeSize, m.end);
  return b;
}
bool decode(std::span<const uint8_t> b, HistoryOpenRequest& m) {
  if (b.size() != kTokenSize + 8 + 2 * kWireTimeSize) return false;
  const uint8_t* p = b.data();
  m.token = getToken(p);
  m.channel = get16(p + kTokenSize);
  m.subStream = p[kTokenSize + 2];
  m.typeMask = get32(p + kTokenSize + 4);
  m.begin = getTime(p + kTokenSize + 8);
  m.end = getTime(p + kTokenSize + 8 + kWireTimeSize);
  return m.subStream <= 1 && isValidTime(m.begin) && isValidTime(m.end);
}

std::vector<uint8_t> encode(const StreamInfo& m) {
  std::vector<uint8_t> b(8);
  put16(b.data(), m.width);
  put16(b.data() + 2, m.height);
  b[4] = m.videoFormat;
  b[5] = m.audioFormat;
  put16(b.data() + 6, m.frameRate);
  return b;
}
bool decode(std::span<const uint8_t> b, StreamInfo& m) {
  if (b.size() != 8) return false;
  m.width = get16(b.data());
  m.height = get16(b.data() + 2);
  m.videoFormat = b[4];
  m.audioFormat = b[5];
  m.frameRate = get16(b.data() + 6);
  return m.frameRate >= 1 && m.frameRate <= 120;
}

std::vector<uint8_t> encode(const ControlRequest& m) {
  std::vector<uint8_t> b(4 + kWireTimeSize);
  put16(b.data(), m.op);
  put16(b.data() + 2, m.arg);
  putTime(b.data() + 4, m.time);
  return b;
}
bool decode(std::span<const uint8_t> b, ControlRequest& m) {
  if (b.size() != 4 + kWireTimeSize) return false;
  m.op = get16(b.data());
  m.arg = get16(b.data() + 2);
  m.time = getTime(b.data() + 4);
  if (m.op < kStart || m.op > kStepBack) return false;
  return m.op != kPosition || isValidTime(m.time);
}

bool isKeyFrameKind(uint8_t kind) {
  return kind == kKeyFrame || kind == kRecordedKeyFrame || kind == kForcedKeyFrame;
}

void encodeFrameHeader(uint8_t* out, const FrameHeader& h) {
  put32(out, kFrameMagic);
  put16(out + 4, static_cast<uint16_t>(kFrameHeaderSize));
  out[6] = 1;
  out[7] = h.streamType;
  out[8] = h.kind;
  out[9] = h.format;
  put16(out + 10, h.channel);
  put16(out + 12, h.milliseconds);
  put32(out + 14, h.seconds);
  put16(out + 18, h.width);
  put16(out + 20, h.height);
  out[22] = h.flags;
  out[23] = h.frameRate;
  put32(out + 24, h.payloadLength);
  put32(out + 28, h.sequence);
}

bool parseFrame(std::span<const uint8_t> f, FrameHeader& out) {
  if (f.size() < kFrameHeaderSize || f.size() > kMaxFrameBody) return false;
  const uint8_t* p = f.data();
  if (get32(p) != kFrameMagic || get16(p + 4) != kFrameHeaderSize || p[6] != 1) return false;
  FrameHeader h;
  h.streamType = p[7];
  h.kind = p[8];
  h.format = p[9];
  h.channel = get16(p + 10);
  h.milliseconds = get16(p + 12);
  h.seconds = get32(p + 14);
  h.width = get16(p + 18);
  h.height = get16(p + 20);
  h.flags = p[22];
  h.frameRate = p[23];
  h.payloadLength = get32(p + 24);
  h.sequence = get32(p + 28);
  if (h.milliseconds > 999) return false;
  if (h.payloadLength != f.size() - kFrameHeaderSize) return false;
  if (h.format != kH264 && h.format != kH265 && h.format != kG711Ulaw && h.format != kG711Alaw) return false;
  const bool audio = h.kind == kAudioFrame;
  const bool audioFormat = h.format == kG711Ulaw || h.format == kG711Alaw;
  if (audio != audioFormat) return false;
  if (h.payloadLength == 0 && h.kind != kRecordedKeyFrame) return false;
  out = h;
  return true;
}

bool isEndOfData(const FrameHeader& h) { return h.kind == kRecordedKeyFrame && h.payloadLength == 0; }

}  // namespace devlink::wire
