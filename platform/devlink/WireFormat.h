#pragma once
// The DevLink wire format: message framing, message bodies and the binary
// media frame. Everything here is a pure function of its bytes so that the
// device simulator, the SDK and the fuzzer share one bounded parser.
//
// All integers are little-endian. Every length read from the wire is checked
// against a per-message bound before anything is allocated for it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace devlink::wire {

// Message framing: a 16-byte header, then the body.
//   0  u32 magic "DLNK"
//   4  u16 message type
//   6  u16 result code (replies; 0 in requests and frames)
//   8  u32 request id (a reply carries the id of its request)
//   12 u32 body length, bounded by the type (maxBodyFor)
constexpr uint32_t kMessageMagic = 0x4B4E4C44;  // "DLNK"
constexpr size_t kMessageHeaderSize = 16;
constexpr uint32_t kMaxControlBody = 64 * 1024;
constexpr uint32_t kMaxFrameBody = 4 * 1024 * 1024;
constexpr uint32_t kMaxTalkBody = 16 * 1024;
constexpr uint32_t kMaxRecordItems = 2048;

enum MessageType : uint16_t {
  kLogin = 0x0001,
  kLogout = 0x0002,
  kForceKeyFrame = 0x0003,
  kRecordQuery = 0x0004,
  kLoginChallenge = 0x0005,
  kTalkOpen = 0x0010,
  kTalkData = 0x0011,
  kLiveOpen = 0x0020,
  kHistoryOpen = 0x0021,
  kFrame = 0x0022,
  kControl = 0x0023,
};

// Largest body a message of this type may carry; 0 for an unknown type.
uint32_t maxBodyFor(uint16_t type);

struct MessageHeader {
  uint16_t type = 0;
  uint16_t result = 0;
  uint32_t requestId = 0;
  uint32_t bodyLength = 0;
};

enum class ParseStatus { kOk, kNeedMore, kBad };

void encodeHeader(uint8_t* out, const MessageHeader& header);
// Checks the magic, that the type is known and that the body length is within
// the type's bound. kNeedMore when fewer than 16 bytes are given.
ParseStatus parseHeader(std::span<const uint8_t> bytes, MessageHeader& out);

std::vector<uint8_t> buildMessage(uint16_t type, uint16_t result, uint32_t requestId,
                                  std::span<const uint8_t> body = {});

struct Message {
  MessageHeader header;
  std::vector<uint8_t> body;
};

// Collects bytes from a stream socket and cuts them into messages. The
// buffer never grows beyond one header plus the largest allowed body, so a
// hostile peer cannot make it allocate more. Once it answers kBad it stays
// bad: the connection must be closed.
class MessageReader {
 public:
  // Largest piece feed() takes at once.
  static constexpr size_t kMaxFeed = 64 * 1024;

  // Appends at most kMaxFeed bytes. Answers false (and turns bad) when the
  // buffer would exceed one largest message plus kMaxFeed, which only happens
  // if next() was not called until it answered kNeedMore.
  bool feed(std::span<const uint8_t> bytes);
  ParseStatus next(Message& out);
  bool bad() const { return bad_; }
  size_t buffered() const { return buffer_.size() - offset_; }

 private:
  std::vector<uint8_t> buffer_;
  size_t offset_ = 0;
  bool bad_ = false;
};

// Calendar time on the wire: six u16 (year, month 1-12, day, hour, minute,
// second). The device counts in its own local calendar.
struct WireTime {
  uint16_t year = 0;
  uint16_t month = 0;
  uint16_t day = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  bool operator==(const WireTime&) const = default;
};
constexpr size_t kWireTimeSize = 12;

// A real calendar date and time between 1970 and 2105 (so that its seconds
// fit a u32)?
bool isValidTime(const WireTime& t);
// Seconds since 1970-01-01 00:00:00 counted on the calendar itself, without
// any time zone: the "calendar seconds" the frames carry. Nothing when invalid.
std::optional<int64_t> calendarSeconds(const WireTime& t);
WireTime timeFromCalendarSeconds(int64_t seconds);

// Fixed-size text fields (the user name); texts hold at most 31 bytes.
constexpr size_t kNameFieldSize = 32;

struct SessionToken {
  uint32_t sessionId = 0;
  uint64_t key = 0;
};

// The login is a challenge and a response, so the password never crosses the
// wire. The client opens with LoginChallengeRequest (its user name and a nonce
// of its own); the device answers LoginChallenge (a nonce of its own, the
// account's salt and the key-derivation work factor); the client then sends
// LoginRequest, whose proof is an HMAC under a key derived from the password
// over both nonces and the user name (LoginProof). The device's nonce is good
// for this one answer on this one connection.
constexpr uint16_t kLoginVersion = 2;
constexpr size_t kClientNonceSize = 16;
constexpr size_t kServerNonceSize = 32;
constexpr size_t kSaltSize = 16;
constexpr size_t kProofSize = 32;
// The work factor a client accepts: enough to make guessing from a recorded
// exchange costly, bounded so that a device cannot make a login take long.
constexpr uint32_t kMinKeyIterations = 1000;
constexpr uint32_t kMaxKeyIterations = 200000;

struct LoginChallengeRequest {
  uint16_t version = kLoginVersion;
  std::string user;
  std::array<uint8_t, kClientNonceSize> clientNonce{};
};
struct LoginChallenge {
  std::array<uint8_t, kServerNonceSize> serverNonce{};
  std::array<uint8_t, kSaltSize> salt{};
  uint32_t iterations = 0;
};
struct LoginRequest {
  std::array<uint8_t, kProofSize> proof{};
};
struct LoginReply {
  SessionToken token;
  uint16_t channelCount = 0;
};
struct ForceKeyFrameRequest {
  uint16_t channel = 0;
};
struct RecordQueryRequest {
  uint16_t channel = 0;
  uint32_t typeMask = 0;
  WireTime begin;
  WireTime end;
};
struct RecordItem {
  uint32_t type = 0;
  WireTime begin;
  WireTime end;
};
struct TalkOpenRequest {
  SessionToken token;
  uint32_t codec = 0;
};
struct LiveOpenRequest {
  SessionToken token;
  uint16_t channel = 0;
  uint16_t streamType = 0;
};
struct HistoryOpenRequest {
  SessionToken token;
  uint16_t channel = 0;
  uint8_t subStream = 0;
  uint32_t typeMask = 0;
  WireTime begin;
  WireTime end;
};
struct StreamInfo {
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t videoFormat = 0;
  uint8_t audioFormat = 0;
  uint16_t frameRate = 0;
};

// Operations of a Control message on a media connection.
enum ControlOp : uint16_t {
  kStart = 1,      // arg 0 paced at the current rate, 1 as fast as the client reads
  kPause = 2,
  kPosition = 3,   // time
  kFaster = 4,
  kSlower = 5,
  kNormalRate = 6,
  kStepForward = 7,
  kStepBack = 8,
};
struct ControlRequest {
  uint16_t op = 0;
  uint16_t arg = 0;
  WireTime time;
};

// Body encoders and decoders. A decoder answers false for a body of the wrong
// length, a text without its terminator or a field out of range.
std::vector<uint8_t> encode(const LoginChallengeRequest& m);
bool decode(std::span<const uint8_t> body, LoginChallengeRequest& m);
std::vector<uint8_t> encode(const LoginChallenge& m);
bool decode(std::span<const uint8_t> body, LoginChallenge& m);
std::vector<uint8_t> encode(const LoginRequest& m);
bool decode(std::span<const uint8_t> body, LoginRequest& m);
std::vector<uint8_t> encode(const LoginReply& m);
bool decode(std::span<const uint8_t> body, LoginReply& m);
std::vector<uint8_t> encode(const ForceKeyFrameRequest& m);
bool decode(std::span<const uint8_t> body, ForceKeyFrameRequest& m);
std::vector<uint8_t> encode(const RecordQueryRequest& m);
bool decode(std::span<const uint8_t> body, RecordQueryRequest& m);
std::vector<uint8_t> encode(const std::vector<RecordItem>& items);
bool decode(std::span<const uint8_t> body, std::vector<RecordItem>& items);
std::vector<uint8_t> encode(const TalkOpenRequest& m);
bool decode(std::span<const uint8_t> body, TalkOpenRequest& m);
std::vector<uint8_t> encode(const LiveOpenRequest& m);
bool decode(std::span<const uint8_t> body, LiveOpenRequest& m);
std::vector<uint8_t> encode(const HistoryOpenRequest& m);
bool decode(std::span<const uint8_t> body, HistoryOpenRequest& m);
std::vector<uint8_t> encode(const StreamInfo& m);
bool decode(std::span<const uint8_t> body, StreamInfo& m);
std::vector<uint8_t> encode(const ControlRequest& m);
bool decode(std::span<const uint8_t> body, ControlRequest& m);

// The media frame: a 32-byte header, then the payload (an Annex B access unit
// or G.711 bytes).
//   0  u32 magic "DLFR"
//   4  u16 header length (32)
//   6  u8  version (1)
//   7  u8  stream type (1 main, 4 sub, 5 third)
//   8  u8  frame kind (FrameKind)
//   9  u8  format code (FormatCode)
//   10 u16 channel
//   12 u16 milliseconds of the time stamp
//   14 u32 time stamp, calendar seconds
//   18 u16 picture width (video), 0 otherwise
//   20 u16 picture height (video), 0 otherwise
//   22 u8  flags (FrameFlag)
//   23 u8  frame rate
//   24 u32 payload length; 0 only in the end-of-data frame
//   28 u32 sequence number within the stream
constexpr uint32_t kFrameMagic = 0x52464C44;  // "DLFR"
constexpr size_t kFrameHeaderSize = 32;

enum FrameKind : uint8_t {
  kKeyFrame = 1,         // live key frame
  kDeltaFrame = 2,       // any non-key video frame
  kAudioFrame = 8,
  kRecordedKeyFrame = 16,  // key frame of a history stream; with no payload: end of data
  kForcedKeyFrame = 17,  // live key frame sent at once after a key-frame request
};
enum FormatCode : uint8_t {
  kH264 = 2,
  kH265 = 3,
  kG711Ulaw = 10,
  kG711Alaw = 11,
};
enum FrameFlag : uint8_t {
  // Decode but do not show: the frames a step back sends before its target.
  kPreroll = 0x01,
};

struct FrameHeader {
  uint8_t streamType = 0;
  uint8_t kind = 0;
  uint8_t format = 0;
  uint16_t channel = 0;
  uint16_t milliseconds = 0;
  uint32_t seconds = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t flags = 0;
  uint8_t frameRate = 0;
  uint32_t payloadLength = 0;
  uint32_t sequence = 0;
};

bool isKeyFrameKind(uint8_t kind);
void encodeFrameHeader(uint8_t* out, const FrameHeader& header);
// A whole frame: header fields in range and a payload length that matches
// the bytes exactly. Only the end-of-data frame has no payload.
bool parseFrame(std::span<const uint8_t> frame, FrameHeader& out);
bool isEndOfData(const FrameHeader& header);

}  // namespace devlink::wire
