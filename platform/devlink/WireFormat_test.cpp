#include "platform/devlink/WireFormat.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace devlink::wire;

TEST(WireFormat, MessagesSurviveAnyChunkingOfTheStream) {
  std::vector<uint8_t> stream;
  LoginChallengeRequest opening;
  opening.user = "admin";
  opening.clientNonce.fill(0xC3);
  const auto first = buildMessage(kLoginChallenge, 0, 7, encode(opening));
  const auto second = buildMessage(kLogout, 21, 8);
  stream.insert(stream.end(), first.begin(), first.end());
  stream.insert(stream.end(), second.begin(), second.end());
  for (size_t chunk : {size_t{1}, size_t{5}, size_t{17}, stream.size()}) {
    SCOPED_TRACE(chunk);
    MessageReader reader;
    std::vector<Message> got;
    for (size_t at = 0; at < stream.size(); at += chunk) {
      ASSERT_TRUE(reader.feed({stream.data() + at, std::min(chunk, stream.size() - at)}));
      Message m;
      while (reader.next(m) == ParseStatus::kOk) got.push_back(m);
    }
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].header.requestId, 7u);
    LoginChallengeRequest back;
    ASSERT_TRUE(decode(got[0].body, back));
    EXPECT_EQ(back.version, kLoginVersion);
    EXPECT_EQ(back.user, "admin");
    EXPECT_EQ(back.clientNonce, opening.clientNonce);
    EXPECT_EQ(got[1].header.type, kLogout);
    EXPECT_EQ(got[1].header.result, 21);
    EXPECT_EQ(reader.buffered(), 0u);
  }
}

TEST(WireFormat, HeadersOutsideTheirBoundsAreRefused) {
  uint8_t h[kMessageHeaderSize];
  MessageHeader out;
  encodeHeader(h, MessageHeader{kLogin, 0, 1, kMaxControlBody + 1});
  EXPECT_EQ(parseHeader(h, out), ParseStatus::kBad);
  encodeHeader(h, MessageHeader{kTalkData, 0, 1, kMaxTalkBody + 1});
  EXPECT_EQ(parseHeader(h, out), ParseStatus::kBad);
  encodeHeader(h, MessageHeader{kFrame, 0, 1, kMaxFrameBody});
  EXPECT_EQ(parseHeader(h, out), ParseStatus::kOk);
  encodeHeader(h, MessageHeader{0x4444, 0, 1, 0});
  EXPECT_EQ(parseHeader(h, out), ParseStatus::kBad);
  encodeHeader(h, MessageHeader{kLogin, 0, 1, 0});
  EXPECT_EQ(parseHeader({h, 15}, out), ParseStatus::kNeedMore);
  h[3] ^= 1;
  EXPECT_EQ(parseHeader(h, out), ParseStatus::kBad);

  // Once bad, a reader stays bad and takes nothing more.
  MessageReader reader;
  ASSERT_TRUE(reader.feed(std::span<const uint8_t>(h, sizeof h)));
  Message m;
  EXPECT_EQ(reader.next(m), ParseStatus::kBad);
  EXPECT_FALSE(reader.feed(std::span<const uint8_t>(h, sizeof h)));
}

TEST(WireFormat, BodiesRoundTripAndRejectWrongSizesAndValues) {
  const WireTime t{2024, 5, 6, 10, 0, 0};
  HistoryOpenRequest h{{9, 0x1122334455667788ull}, 3, 1, 63, t, WireTime{2024, 5, 6, 10, 5, 0}};
  HistoryOpenRequest hb;
  ASSERT_TRUE(decode(encode(h), hb));
  EXPECT_EQ(hb.token.key, h.token.key);
  EXPECT_EQ(hb.end.minute, 5);
  auto bytes = encode(h);
  bytes.pop_back();
  EXPECT_FALSE(decode(bytes, hb));

  std::vector<RecordItem> items{{1, t, WireTime{2024, 5, 6, 11, 0, 0}}, {2, t, t}};
  std::vector<RecordItem> back;
  ASSERT_TRUE(decode(encode(items), back));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1].type, 2u);
  auto lying = encode(items);
  lying[0] = 3;  // claims three items, carries two
  EXPECT_FALSE(decode(lying, back));
  lying[0] = 0xFF;
  lying[3] = 0xFF;  // claims four billion
  EXPECT_FALSE(decode(lying, back));

  ControlRequest c{kPosition, 0, WireTime{2024, 2, 30, 0, 0, 0}};  // no 30 February
  ControlRequest cb;
  EXPECT_FALSE(decode(encode(c), cb));
  c.op = 99;
  c.time = t;
  EXPECT_FALSE(decode(encode(c), cb));

  // Names fill their whole field without a terminator, or are empty: refused.
  LoginChallengeRequest opening;
  opening.user = "admin";
  auto login = encode(opening);
  std::memset(login.data() + 4, 'x', kNameFieldSize);
  LoginChallengeRequest lb;
  EXPECT_FALSE(decode(login, lb));
  opening.user.clear();
  EXPECT_FALSE(decode(encode(opening), lb));

  // A device may not ask for a key derivation outside the bounds a client
  // accepts: too cheap to protect the password, or so dear it stalls a login.
  for (uint32_t iterations : {0u, kMinKeyIterations - 1, kMaxKeyIterations + 1, 0xFFFFFFFFu}) {
    SCOPED_TRACE(iterations);
    LoginChallenge challenge;
    challenge.iterations = iterations;
    EXPECT_FALSE(decode(encode(challenge), challenge));
  }
  LoginChallenge challenge;
  challenge.salt.fill(7);
  challenge.iterations = kMinKeyIterations;
  LoginChallenge decoded;
  ASSERT_TRUE(decode(encode(challenge), decoded));
  EXPECT_EQ(decoded.salt, challenge.salt);
  LoginRequest proof;
  EXPECT_FALSE(decode(std::vector<uint8_t>(kProofSize - 1), proof));
}

TEST(WireFormat, CalendarSecondsMatchTheCLibrary) {
  const WireTime t{2024, 2, 29, 23, 59, 59};
  const auto s = calendarSeconds(t);
  ASSERT_TRUE(s);
  struct tm tm {};
  tm.tm_year = 124;
  tm.tm_mon = 1;
  tm.tm_mday = 29;
  tm.tm_hour = 23;
  tm.tm_min = 59;
  tm.tm_sec = 59;
  EXPECT_EQ(*s, timegm(&tm));
  EXPECT_EQ(timeFromCalendarSeconds(*s), t);
  EXPECT_FALSE(calendarSeconds(WireTime{2023, 2, 29, 0, 0, 0}));
  EXPECT_FALSE(calendarSeconds(WireTime{1969, 12, 31, 0, 0, 0}));
  EXPECT_FALSE(calendarSeconds(WireTime{2024, 1, 1, 24, 0, 0}));
}

TEST(WireFormat, FramesCarryTheFieldsCallersReadByOffset) {
  FrameHeader h;
  h.streamType = 4;
  h.kind = kRecordedKeyFrame;
  h.format = kH265;
  h.channel = 3;
  h.milliseconds = 960;
  h.seconds = 0x65A1B2C3;
  h.payloadLength = 5;
  h.sequence = 77;
  std::vector<uint8_t> f(kFrameHeaderSize + 5, 0xEE);
  encodeFrameHeader(f.data(), h);
  EXPECT_EQ(f[8], kRecordedKeyFrame);
  EXPECT_EQ(f[9], kH265);
  uint32_t u = 0;
  std::memcpy(&u, &f[14], 4);
  EXPECT_EQ(u, 0x65A1B2C3u);
  std::memcpy(&u, &f[24], 4);
  EXPECT_EQ(u, 5u);
  FrameHeader back;
  ASSERT_TRUE(parseFrame(f, back));
  EXPECT_EQ(back.sequence, 77u);
  EXPECT_FALSE(isEndOfData(back));

  // The end-of-data frame: kind 16, no payload, zero at bytes 24-27.
  h.payloadLength = 0;
  encodeFrameHeader(f.data(), h);
  ASSERT_TRUE(parseFrame({f.data(), kFrameHeaderSize}, back));
  EXPECT_TRUE(isEndOfData(back));

  // Payload length that disagrees with the bytes, audio kind with a video
  // format, an empty delta frame, a bad magic, a short header: all refused.
  h.payloadLength = 6;
  encodeFrameHeader(f.data(), h);
  EXPECT_FALSE(parseFrame(f, back));
  h.payloadLength = 5;
  h.kind = kAudioFrame;
  encodeFrameHeader(f.data(), h);
  EXPECT_FALSE(parseFrame(f, back));
  h.kind = kDeltaFrame;
  h.payloadLength = 0;
  encodeFrameHeader(f.data(), h);
  EXPECT_FALSE(parseFrame({f.data(), kFrameHeaderSize}, back));
  h.payloadLength = 5;
  encodeFrameHeader(f.data(), h);
  f[0] = 0;
  EXPECT_FALSE(parseFrame(f, back));
  EXPECT_FALSE(parseFrame({f.data(), 31}, back));
}

}  // namespace
