// The SDK against the device simulator over real loopback TCP.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/SdkContext.h"
#include "platform/devlink/Socket.h"
#include "platform/devlink/WireFormat.h"
#include "platform/h264parse/H264Parse.h"
#include "tests/support/Settle.h"
#include "tests/support/Watchdog.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using namespace std::chrono_literals;
namespace wire = devlink::wire;

struct Received {
  int kind = 0;
  int format = 0;
  uint32_t seconds = 0;
  int milliseconds = 0;
  int flags = 0;
  uint32_t sequence = 0;
  int length = 0;
  int tmYear = 0, tmMonth = 0, day = 0, hour = 0, minute = 0, second = 0;
  uint32_t endField = 1;       // the u32 at bytes 24-27
  std::vector<uint8_t> bytes;  // kept for key frames only
  bool video() const { return kind != DLSDK_FRAME_AUDIO; }
  bool endOfData() const { return kind == DLSDK_FRAME_RECORDED_KEY && endField == 0; }
};

// Collects what a stream delivers; tests wait on it with a time limit.
class Collector {
 public:
  static int callback(int32_t, const DLSDK_MediaFrame* f, void* context) {
    auto* self = static_cast<Collector*>(context);
    Received r;
    r.kind = f->frameType;
    r.format = f->formatCode;
    r.seconds = f->timeStamp;
    r.milliseconds = f->milliseconds;
    r.flags = f->flags;
    r.sequence = f->sequence;
    r.length = f->length;
    r.tmYear = f->year;
    r.tmMonth = f->month;
    r.day = f->day;
    r.hour = f->hour;
    r.minute = f->minute;
    r.second = f->second;
    // The byte layout callers read directly.
    EXPECT_EQ(f->data[8], f->frameType);
    EXPECT_EQ(f->data[9], f->formatCode);
    uint32_t stamp = 0;
    std::memcpy(&stamp, f->data + 14, 4);
    EXPECT_EQ(stamp, f->timeStamp);
    std::memcpy(&r.endField, f->data + 24, 4);
    if (f->frameType == DLSDK_FRAME_KEY || f->frameType == DLSDK_FRAME_FORCED_KEY ||
        f->frameType == DLSDK_FRAME_RECORDED_KEY) {
      r.bytes.assign(f->data, f->data + f->length);
    }
    if (self->onFrame) self->onFrame(r);
    std::lock_guard lock(self->mutex_);
    self->frames_.push_back(std::move(r));
    self->cv_.notify_all();
    return 1;
  }

  // Waits until pred(frames) holds; false after the time limit.
  bool waitFor(const std::function<bool(const std::vector<Received>&)>& pred, std::chrono::milliseconds limit = 10s) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, limit, [&] { return pred(frames_); });
  }
  bool waitForCount(size_t n, std::chrono::milliseconds limit = 10s) {
    return waitFor([n](const auto& f) { return f.size() >= n; }, limit);
  }
  // Waits for n video frames after position `from` (audio frames may trail
  // the video frames they belong to).
  bool waitForVideo(size_t from, size_t n, std::chrono::milliseconds limit = 10s) {
    return waitFor(
        [from, n](const auto& f) {
          size_t video = 0;
          for (size_t i = from; i < f.size(); ++i) video += f[i].video();
          return video >= n;
        },
        limit);
  }
  std::vector<Received> frames() {
    std::lock_guard lock(mutex_);
    return frames_;
  }
  size_t size() {
    std::lock_guard lock(mutex_);
    return frames_.size();
  }
  std::vector<Received> videoSince(size_t from) {
    std::lock_guard lock(mutex_);
    std::vector<Received> out;
    for (size_t i = from; i < frames_.size(); ++i) {
      if (frames_[i].video()) out.push_back(frames_[i]);
    }
    return out;
  }

  std::function<void(const Received&)> onFrame;  // set before the stream starts

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Received> frames_;
};

int64_t calendar(int y, int mo, int d, int h, int mi, int s) {
  return *wire::calendarSeconds(
      wire::WireTime{uint16_t(y), uint16_t(mo), uint16_t(d), uint16_t(h), uint16_t(mi), uint16_t(s)});
}

DLSDK_Time sdkTime(int y, int mo, int d, int h, int mi, int s) {
  return DLSDK_Time{uint16_t(y), uint16_t(mo), uint16_t(d), uint16_t(h), uint16_t(mi), uint16_t(s)};
}

// Decodes one access unit and answers the picture size, to prove that what
// devsim sends is a real stream that starts cleanly at a key frame.
std::pair<int, int> decodedSize(const std::vector<uint8_t>& frame, int format) {
  const AVCodec* codec = avcodec_find_decoder(format == DLSDK_FORMAT_H265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  std::pair<int, int> size{0, 0};
  if (avcodec_open2(ctx, codec, nullptr) == 0) {
    AVPacket* pkt = av_packet_alloc();
    AVFrame* pic = av_frame_alloc();
    std::vector<uint8_t> payload(frame.begin() + wire::kFrameHeaderSize, frame.end());
    payload.resize(payload.size() + AV_INPUT_BUFFER_PADDING_SIZE);
    pkt->data = payload.data();
    pkt->size = static_cast<int>(frame.size() - wire::kFrameHeaderSize);
    avcodec_send_packet(ctx, pkt);
    avcodec_send_packet(ctx, nullptr);
    if (avcodec_receive_frame(ctx, pic) == 0) size = {pic->width, pic->height};
    av_frame_free(&pic);
    av_packet_free(&pkt);
  }
  avcodec_free_context(&ctx);
  return size;
}

// The picture size as the live view learns it: the parameter set found in
// the whole frame (header included) by the parser the plug-in uses.
std::pair<int, int> parsedSize(const std::vector<uint8_t>& frame) {
  int offset = 0, length = 0, codec = 0;
  if (get_sps_info_from_frame(frame.data(), static_cast<int>(frame.size()), &offset, &length, &codec) < 0) return {};
  const uint8_t* nal = frame.data() + offset + 4;
  if (codec == kH264ParseCodecH264) {
    H264SpsInfo sps{};
    if (h264_parse_sequence_parameter_set(nal, length * 8, &sps) < 0) return {};
    return {sps.width, sps.height};
  }
  H265SpsInfo sps{};
  if (h265_parse_sequence_parameter_set(nal, length, &sps) < 0) return {};
  return {sps.width, sps.height};
}

class DevLinkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { av_log_set_level(AV_LOG_QUIET); }

  void SetUp() override {
    ASSERT_EQ(DLSDK_StartUp(), 0);
    ASSERT_EQ(DLSDK_SetAttribute(DLSDK_ATTR_COMMAND_TIMEOUT_MS, 5000), 0);
  }

  void TearDown() override {
    DLSDK_CleanUp();
    if (server_) server_->stop();
  }

  static devsim::DevSimOptions options() {
    devsim::DevSimOptions o;
    o.commandPort = 0;
    o.mediaPort = 0;
    o.loopSeconds = 1;
    o.accounts.push_back({"viewer", "view", true});
    return o;
  }

  void startServer(devsim::DevSimOptions o = options()) {
    server_ = std::make_unique<devsim::DevSimServer>(std::move(o));
    std::string error;
    ASSERT_TRUE(server_->start(&error)) << error;
  }

  int login(int32_t& handle, const char* user = "admin", const char* password = "admin", uint32_t port = 0) {
    DLSDK_LoginInfo info{};
    std::strcpy(info.address, "127.0.0.1");
    info.commandPort = port ? port : server_->commandPort();
    std::strcpy(info.user, user);
    std::strcpy(info.password, password);
    return DLSDK_UserLogin(&handle, &info);
  }

  int openLive(int32_t loginHandle, int channel, int type, int32_t& handle) {
    DLSDK_LiveStreamRequest r{};
    r.channel = channel;
    r.reserved1 = 1;
    r.streamType = type;
    r.mediaPort = server_->mediaPort();
    return DLSDK_RealStreamConnect(&handle, loginHandle, &r);
  }

  int openHistory(int32_t loginHandle, int channel, DLSDK_Time start, DLSDK_Time end, int32_t& handle) {
    DLSDK_HistoryStreamRequest r{};
    r.reserved1 = 1;
    r.channel = channel;
    r.start = start;
    r.end = end;
    r.typeMask = 63;
    r.reserved3 = 1;
    r.subStream = 1;
    r.mediaPort = server_->mediaPort();
    return DLSDK_HistoryStreamMultiTypeCreate(&handle, loginHandle, &r);
  }

  std::unique_ptr<devsim::DevSimServer> server_;

 private:
  // Every test here finishes in seconds; a hang aborts the run instead of
  // waiting for the ctest time-out.
  kstest::Watchdog watchdog_{60s, "DevLinkTest"};
};

// A port on which nothing listens.
uint16_t closedPort() {
  devlink::Socket s;
  uint16_t port = 0;
  devlink::Socket::listenOn("127.0.0.1", 0, s, port);
  s.close();
  return port;
}

TEST_F(DevLinkTest, LoginAnswersEachFailureWithItsCode) {
  startServer();
  int32_t h = 7;
  EXPECT_EQ(login(h, "admin", "wrong"), DLSDK_ERR_BAD_PASSWORD);
  EXPECT_EQ(h, -1);
  EXPECT_EQ(login(h, "nobody", "admin"), DLSDK_ERR_UNKNOWN_USER);
  EXPECT_EQ(login(h, "admin", "admin", closedPort()), DLSDK_ERR_CONNECT);
  EXPECT_EQ(DLSDK_UserLogin(&h, nullptr), DLSDK_ERR_INVALID_PARAMETER);
  DLSDK_LoginInfo unterminated{};
  std::memset(unterminated.user, 'a', sizeof unterminated.user);
  std::strcpy(unterminated.address, "127.0.0.1");
  unterminated.commandPort = server_->commandPort();
  EXPECT_EQ(DLSDK_UserLogin(&h, &unterminated), DLSDK_ERR_INVALID_PARAMETER);

  ASSERT_EQ(login(h), DLSDK_OK);
  EXPECT_GT(h, 0);
  EXPECT_EQ(server_->sessionCount(), 1);
  EXPECT_EQ(DLSDK_UserLogout(h), DLSDK_OK);
  EXPECT_EQ(DLSDK_UserLogout(h), DLSDK_ERR_INVALID_HANDLE);
  ASSERT_EQ(login(h), DLSDK_OK);  // logs in again after a logout
}

TEST_F(DevLinkTest, ConnectionLimitsAnswer25) {
  auto o = options();
  o.maxSessions = 1;
  o.maxStreams = 1;
  startServer(o);
  int32_t first = -1, second = -1;
  ASSERT_EQ(login(first), DLSDK_OK);
  EXPECT_EQ(login(second), DLSDK_ERR_CONNECTION_LIMIT);
  int32_t s1 = -1, s2 = -1;
  ASSERT_EQ(openLive(first, 0, DLSDK_STREAM_THIRD, s1), DLSDK_OK);
  EXPECT_EQ(openLive(first, 0, DLSDK_STREAM_THIRD, s2), DLSDK_ERR_CONNECTION_LIMIT);
  EXPECT_EQ(s2, -1);
}

TEST_F(DevLinkTest, HandlesAreNeverReusedWhileOpen) {
  startServer();
  auto& ctx = devlink::SdkContext::instance();
  ctx.setNextHandleForTest(std::numeric_limits<int32_t>::max());
  int32_t a = 0, b = 0, c = 0;
  ASSERT_EQ(login(a), DLSDK_OK);
  EXPECT_EQ(a, std::numeric_limits<int32_t>::max());
  ASSERT_EQ(login(b), DLSDK_OK);
  EXPECT_EQ(b, 1);  // wrapped past -1 and 0
  ctx.setNextHandleForTest(1);
  ASSERT_EQ(login(c), DLSDK_OK);
  EXPECT_EQ(c, 2);  // 1 is still open
  // A handle of another kind is refused.
  EXPECT_EQ(DLSDK_RealStreamDisconnect(a), DLSDK_ERR_INVALID_HANDLE);
  EXPECT_EQ(DLSDK_UserLogout(a), DLSDK_OK);
}

TEST_F(DevLinkTest, LiveFramesAdvanceAndAKeyFrameFollowsTheRequest) {
  auto o = options();
  o.h265Channels = {false, true};
  startServer(o);
  int32_t login_ = -1;
  ASSERT_EQ(login(login_), DLSDK_OK);
  for (int channel : {0, 1}) {
    SCOPED_TRACE(channel);
    int32_t s = -1;
    ASSERT_EQ(openLive(login_, channel, DLSDK_STREAM_THIRD, s), DLSDK_OK);
    Collector c;
    ASSERT_EQ(DLSDK_StreamMediaCB(s, &Collector::callback, &c), DLSDK_OK);
    ASSERT_TRUE(c.waitFor([](const auto& f) {
      int video = 0;
      for (const auto& r : f) video += r.video();
      return video >= 30;
    }));
    const auto frames = c.frames();
    const int expectedFormat = channel == 1 ? DLSDK_FORMAT_H265 : DLSDK_FORMAT_H264;
    const Received* key = nullptr;
    bool audio = false;
    for (size_t i = 0; i < frames.size(); ++i) {
      const Received& r = frames[i];
      if (i > 0) {
        EXPECT_EQ(r.sequence, frames[i - 1].sequence + 1);
        EXPECT_GE(uint64_t(r.seconds) * 1000 + r.milliseconds,
                  uint64_t(frames[i - 1].seconds) * 1000 + frames[i - 1].milliseconds);
      }
      if (!r.video()) {
        audio = true;
        EXPECT_EQ(r.format, DLSDK_FORMAT_G711U);
        EXPECT_EQ(r.length, 32 + 320);
        continue;
      }
      EXPECT_EQ(r.format, expectedFormat);
      if (r.kind == DLSDK_FRAME_KEY && !key) key = &r;
    }
    EXPECT_TRUE(audio);
    ASSERT_NE(key, nullptr);  // one key frame a second at most
    EXPECT_EQ(decodedSize(key->bytes, expectedFormat), std::make_pair(352, 288));
    EXPECT_EQ(parsedSize(key->bytes), std::make_pair(352, 288));
    // The calendar fields are in struct tm bases and agree with the stamp.
    const time_t stamp = key->seconds;
    struct tm t {};
    gmtime_r(&stamp, &t);
    EXPECT_EQ(key->tmYear, t.tm_year);
    EXPECT_EQ(key->tmMonth, t.tm_mon);
    EXPECT_EQ(key->hour, t.tm_hour);
    // Time stamps advance with the clock: a second of video spans about a second.
    const auto video = c.videoSince(0);
    EXPECT_LE(video.back().seconds - video.front().seconds, 3u);

    // Wait for a delta frame, then ask for a key frame: one of the next
    // video frames (those already on their way aside) is a forced key frame.
    ASSERT_TRUE(c.waitFor([](const auto& f) { return !f.empty() && f.back().kind == DLSDK_FRAME_DELTA; }));
    ASSERT_EQ(DLSDK_ForceIFrame(login_, channel), DLSDK_OK);
    const size_t mark = c.size();
    ASSERT_TRUE(c.waitFor(
        [&](const auto& f) {
          for (size_t i = mark; i < f.size(); ++i) {
            if (f[i].kind == DLSDK_FRAME_FORCED_KEY) return true;
          }
          return false;
        },
        3s));
    const auto after = c.videoSince(mark);
    size_t position = 0;
    while (after[position].kind != DLSDK_FRAME_FORCED_KEY) ++position;
    EXPECT_LE(position, 2u);
    EXPECT_EQ(decodedSize(after[position].bytes, expectedFormat), std::make_pair(352, 288));
    EXPECT_EQ(DLSDK_RealStreamDisconnect(s), DLSDK_OK);
  }
  EXPECT_EQ(DLSDK_ForceIFrame(login_, 99), DLSDK_ERR_INVALID_PARAMETER);
  int32_t bad = -1;
  EXPECT_EQ(openLive(login_, 9, DLSDK_STREAM_THIRD, bad), DLSDK_ERR_INVALID_PARAMETER);
  EXPECT_EQ(openLive(login_, 0, 2, bad), DLSDK_ERR_INVALID_PARAMETER);
}

TEST_F(DevLinkTest, RecordQueryListsTheDaysRecordings) {
  startServer();
  int32_t h = -1;
  ASSERT_EQ(login(h), DLSDK_OK);
  DLSDK_RecordQueryRequest q{};
  q.channel = 2;
  q.reserved1 = 1;
  q.typeMask = 63;
  std::memcpy(q.begin, "20240506000000", 15);
  std::memcpy(q.end, "20240506235959", 15);
  int32_t query = -1;
  ASSERT_EQ(DLSDK_HistoryStreamMultiTypeQueryConnect(&query, h, &q), DLSDK_OK);
  std::vector<std::pair<std::string, std::string>> spans;
  DLSDK_RecordQueryItem item{};
  while (DLSDK_HistoryStreamMultiTypeQueryNext(query, &item) == DLSDK_OK) spans.emplace_back(item.begin, item.end);
  EXPECT_EQ(DLSDK_HistoryStreamMultiTypeQueryNext(query, &item), DLSDK_ERR_NO_MORE_DATA);
  const std::vector<std::pair<std::string, std::string>> expected{{"20240506000000", "20240506060000"},
                                                                  {"20240506093000", "20240506102000"},
                                                                  {"20240506104000", "20240506120000"},
                                                                  {"20240506140000", "20240506235959"}};
  EXPECT_EQ(spans, expected);
  EXPECT_EQ(DLSDK_HistoryStreamQueryDisconnect(query), DLSDK_OK);
  EXPECT_EQ(DLSDK_HistoryStreamMultiTypeQueryNext(query, &item), DLSDK_ERR_INVALID_HANDLE);

  // Only motion recordings.
  q.typeMask = 2;
  ASSERT_EQ(DLSDK_HistoryStreamMultiTypeQueryConnect(&query, h, &q), DLSDK_OK);
  ASSERT_EQ(DLSDK_HistoryStreamMultiTypeQueryNext(query, &item), DLSDK_OK);
  EXPECT_STREQ(item.begin, "20240506093000");
  EXPECT_EQ(DLSDK_HistoryStreamMultiTypeQueryNext(query, &item), DLSDK_ERR_NO_MORE_DATA);

  std::memcpy(q.begin, "2024050600000x", 15);
  EXPECT_EQ(DLSDK_HistoryStreamMultiTypeQueryConnect(&query, h, &q), DLSDK_ERR_INVALID_PARAMETER);
  std::memcpy(q.begin, "20240506000000", 15);
  q.channel = 4;  // the device has channels 0-3
  EXPECT_EQ(DLSDK_HistoryStreamMultiTypeQueryConnect(&query, h, &q), DLSDK_ERR_INVALID_PARAMETER);

  // An account that may only watch live video.
  int32_t viewer = -1;
  ASSERT_EQ(login(viewer, "viewer", "view"), DLSDK_OK);
  q.channel = 0;
  EXPECT_EQ(DLSDK_HistoryStreamMultiTypeQueryConnect(&query, viewer, &q), DLSDK_ERR_NO_PERMISSION);
  int32_t s = -1;
  EXPECT_EQ(openHistory(viewer, 0, sdkTime(2024, 5, 6, 10, 0, 0), sdkTime(2024, 5, 6, 10, 5, 0), s),
            DLSDK_ERR_NO_PERMISSION);
  EXPECT_EQ(openLive(viewer, 0, DLSDK_STREAM_THIRD, s), DLSDK_OK);
}

TEST_F(DevLinkTest, HistoryRangeDeliversItsFramesThenTheEndOfData) {
  startServer();
  int32_t h = -1, s = -1;
  ASSERT_EQ(login(h), DLSDK_OK);
  ASSERT_EQ(openHistory(h, 1, sdkTime(2024, 5, 6, 10, 0, 0), sdkTime(2024, 5, 6, 10, 5, 0), s), DLSDK_OK);
  Collector c;
  ASSERT_EQ(DLSDK_StreamMediaCB(s, &Collector::callback, &c), DLSDK_OK);
  // Nothing flows until the stream is started.
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(c.size(), 0u);
  ASSERT_EQ(DLSDK_StreamMediaControl(s, 1), DLSDK_OK);
  ASSERT_TRUE(c.waitFor([](const auto& f) { return !f.empty() && f.back().endOfData(); }, 40s));
  const auto frames = c.frames();
  const uint32_t from = calendar(2024, 5, 6, 10, 0, 0);
  const uint32_t to = calendar(2024, 5, 6, 10, 5, 0);
  EXPECT_EQ(frames.front().kind, DLSDK_FRAME_RECORDED_KEY);
  EXPECT_EQ(frames.front().seconds, from);
  EXPECT_EQ(frames.front().milliseconds, 0);
  size_t video = 0;
  for (size_t i = 0; i + 1 < frames.size(); ++i) {
    EXPECT_GE(frames[i].seconds, from);
    EXPECT_LE(frames[i].seconds, to);
    video += frames[i].video();
  }
  EXPECT_EQ(video, 301u * 25);  // 10:00:00 up to and including the second 10:05:00
  EXPECT_EQ(frames.back().length, 32);
  int64_t t = 0;
  ASSERT_EQ(DLSDK_StreamGetAbsoluteTime(s, &t), DLSDK_OK);
  EXPECT_EQ(t, to);
  EXPECT_EQ(DLSDK_HistoryStreamDestroy(s), DLSDK_OK);
}

TEST_F(DevLinkTest, HistorySkipsGapsBetweenRecordings) {
  startServer();
  int32_t h = -1, s = -1;
  ASSERT_EQ(login(h), DLSDK_OK);
  ASSERT_EQ(openHistory(h, 0, sdkTime(2024, 5, 6, 10, 19, 58), sdkTime(2024, 5, 6, 10, 40, 1), s), DLSDK_OK);
  Collector c;
  ASSERT_EQ(DLSDK_StreamMediaCB(s, &Collector::callback, &c), DLSDK_OK);
  ASSERT_EQ(DLSDK_StreamMediaControl(s, 1), DLSDK_OK);
  ASSERT_TRUE(c.waitFor([](const auto& f) { return !f.empty() && f.back().endOfData(); }));
  const auto video = c.videoSince(0);
  // 10:19:58 and :59, then 10:40:00 and :01; the end marker last.
  ASSERT_EQ(video.size(), 4u * 25 + 1);
  EXPECT_EQ(video[49].seconds, calendar(2024, 5, 6, 10, 19, 59));
  EXPECT_EQ(video[50].seconds, calendar(2024, 5, 6, 10, 40, 0));
  EXPECT_EQ(video[50].kind, DLSDK_FRAME_RECORDED_KEY);
}

TEST_F(DevLinkTest, PositionStepsAndFastChangeWhatArrives) {
  startServer();
  int32_t h = -1, s = -1;
  ASSERT_EQ(login(h), DLSDK_OK);
  ASSERT_EQ(openHistory(h, 0, sdkTime(2024, 5, 6, 0, 0, 0), sdkTime(2024, 5, 6, 23, 59, 59), s), DLSDK_OK);
  Collector c;
  ASSERT_EQ(DLSDK_StreamMediaCB(s, &Collector::callback, &c), DLSDK_OK);

  // Paused: a position moves, steps send single frames.
  DLSDK_Time at = sdkTime(2024, 5, 6, 15, 0, 0);
  ASSERT_EQ(DLSDK_HistoryStreamPosition(s, 2, &at), DLSDK_OK);
  ASSERT_EQ(DLSDK_HistoryStreamOneByOne(s), DLSDK_OK);
  ASSERT_TRUE(c.waitForCount(1));
  ASSERT_EQ(DLSDK_HistoryStreamOneByOne(s), DLSDK_OK);
  ASSERT_EQ(DLSDK_HistoryStreamOneByOne(s), DLSDK_OK);
  ASSERT_TRUE(c.waitForVideo(0, 3));
  auto v = c.videoSince(0);
  const uint32_t fifteen = calendar(2024, 5, 6, 15, 0, 0);
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v[0].kind, DLSDK_FRAME_RECORDED_KEY);
  EXPECT_EQ(v[0].seconds, fifteen);
  EXPECT_EQ(v[1].milliseconds, 40);
  EXPECT_EQ(v[2].milliseconds, 80);
  // One back: the frame before the last, after its key frame as decode-only.
  size_t mark = c.size();
  ASSERT_EQ(DLSDK_HistoryStreamOneByOneBack(s), DLSDK_OK);
  ASSERT_TRUE(c.waitForVideo(mark, 2));
  v = c.videoSince(mark);
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0].milliseconds, 0);
  EXPECT_EQ(v[0].flags, 1);
  EXPECT_EQ(v[1].milliseconds, 40);
  EXPECT_EQ(v[1].flags, 0);
  int64_t now = 0;
  ASSERT_EQ(DLSDK_StreamGetAbsoluteTime(s, &now), DLSDK_OK);
  EXPECT_EQ(now, fifteen);

  // Two steps faster: 4x sends key frames only, one per recorded second.
  ASSERT_EQ(DLSDK_HistoryStreamFast(s), DLSDK_OK);
  ASSERT_EQ(DLSDK_HistoryStreamFast(s), DLSDK_OK);
  at = sdkTime(2024, 5, 6, 16, 0, 0);
  ASSERT_EQ(DLSDK_HistoryStreamPosition(s, 2, &at), DLSDK_OK);
  mark = c.size();
  ASSERT_EQ(DLSDK_StreamMediaControl(s, 1), DLSDK_OK);
  ASSERT_TRUE(c.waitForVideo(mark, 5));
  ASSERT_EQ(DLSDK_StreamMediaControl(s, 2), DLSDK_OK);
  v = c.videoSince(mark);
  for (size_t i = 0; i < v.size(); ++i) {
    EXPECT_EQ(v[i].kind, DLSDK_FRAME_RECORDED_KEY);
    EXPECT_EQ(v[i].seconds, calendar(2024, 5, 6, 16, 0, 0) + i);
  }
  // Once more faster: every other second.
  ASSERT_EQ(DLSDK_HistoryStreamFast(s), DLSDK_OK);
  ASSERT_EQ(DLSDK_HistoryStreamPosition(s, 2, &at), DLSDK_OK);
  mark = c.size();
  ASSERT_EQ(DLSDK_StreamMediaControl(s, 1), DLSDK_OK);
  ASSERT_TRUE(c.waitForVideo(mark, 3));
  ASSERT_EQ(DLSDK_StreamMediaControl(s, 2), DLSDK_OK);
  v = c.videoSince(mark);
  ASSERT_GE(v.size(), 3u);
  EXPECT_EQ(v[1].seconds - v[0].seconds, 2u);
  EXPECT_EQ(DLSDK_HistoryStreamSlow(s), DLSDK_OK);

  EXPECT_EQ(DLSDK_HistoryStreamPosition(s, 1, &at), DLSDK_ERR_INVALID_PARAMETER);
  // Playback controls do not apply to live streams.
  int32_t live = -1;
  ASSERT_EQ(openLive(h, 0, DLSDK_STREAM_THIRD, live), DLSDK_OK);
  EXPECT_EQ(DLSDK_HistoryStreamFast(live), DLSDK_ERR_NOT_AVAILABLE);
  EXPECT_EQ(DLSDK_HistoryStreamPosition(live, 2, &at), DLSDK_ERR_NOT_AVAILABLE);
  EXPECT_EQ(DLSDK_HistoryStreamDestroy(live), DLSDK_ERR_INVALID_HANDLE);
}

TEST_F(DevLinkTest, TalkBytesReachTheDevice) {
  startServer();
  int32_t h = -1;
  ASSERT_EQ(login(h), DLSDK_OK);
  DLSDK_TalkRequest talk{-1, 0, DLSDK_TALK_G711U, 1};
  ASSERT_EQ(DLSDK_VoiceStreamConnect(&talk, h, talk.reserved1), DLSDK_OK);
  ASSERT_GT(talk.handle, 0);
  EXPECT_EQ(DLSDK_VoiceStreamSendData(talk.handle, reinterpret_cast<const uint8_t*>("x"), 1),
            DLSDK_ERR_NOT_AVAILABLE);  // not started yet
  ASSERT_EQ(DLSDK_StreamMediaControl(talk.handle, 1), DLSDK_OK);
  std::vector<uint8_t> audio(800, 0x55);
  ASSERT_EQ(DLSDK_VoiceStreamSendData(talk.handle, audio.data(), static_cast<int32_t>(audio.size())), DLSDK_OK);
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (server_->talkBytes() < audio.size() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_GE(server_->talkBytes(), audio.size());
  EXPECT_EQ(DLSDK_StreamMediaControl(talk.handle, 2), DLSDK_OK);
  EXPECT_EQ(DLSDK_VoiceStreamDisconnect(talk.handle), DLSDK_OK);

  DLSDK_TalkRequest g726{-1, 0, DLSDK_TALK_G726, 1};
  EXPECT_EQ(DLSDK_VoiceStreamConnect(&g726, h, 0), DLSDK_ERR_NOT_SUPPORTED);
  EXPECT_EQ(g726.handle, -1);
  DLSDK_TalkRequest unknown{-1, 0, 9, 1};
  EXPECT_EQ(DLSDK_VoiceStreamConnect(&unknown, h, 0), DLSDK_ERR_INVALID_PARAMETER);
  int32_t viewer = -1;
  ASSERT_EQ(login(viewer, "viewer", "view"), DLSDK_OK);
  DLSDK_TalkRequest denied{-1, 0, DLSDK_TALK_G711A, 1};
  EXPECT_EQ(DLSDK_VoiceStreamConnect(&denied, viewer, 0), DLSDK_ERR_NO_PERMISSION);
}

TEST_F(DevLinkTest, UnregisteringWaitsForTheCallbackInProgress) {
  startServer();
  int32_t h = -1, s = -1;
  ASSERT_EQ(login(h), DLSDK_OK);
  ASSERT_EQ(openLive(h, 0, DLSDK_STREAM_THIRD, s), DLSDK_OK);
  struct Slow {
    std::atomic<bool> inside{false};
    std::atomic<int> calls{0};
  } slow;
  auto callback = [](int32_t, const DLSDK_MediaFrame*, void* ctx) -> int {
    auto* self = static_cast<Slow*>(ctx);
    self->inside = true;
    std::this_thread::sleep_for(150ms);
    ++self->calls;
    self->inside = false;
    return 1;
  };
  ASSERT_EQ(DLSDK_StreamMediaCB(s, callback, &slow), DLSDK_OK);
  while (!slow.inside) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(DLSDK_StreamMediaCB(s, nullptr, nullptr), DLSDK_OK);
  EXPECT_FALSE(slow.inside);
  const int calls = slow.calls;
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(slow.calls, calls);
}

TEST_F(DevLinkTest, ClosingFromInsideTheCallbackDoesNotHang) {
  startServer();
  int32_t h = -1, s = -1;
  ASSERT_EQ(login(h), DLSDK_OK);
  ASSERT_EQ(openLive(h, 0, DLSDK_STREAM_THIRD, s), DLSDK_OK);
  struct State {
    std::atomic<int> result{-100};
    std::atomic<int> calls{0};
  } state;
  auto callback = [](int32_t handle, const DLSDK_MediaFrame*, void* ctx) -> int {
    auto* st = static_cast<State*>(ctx);
    if (st->calls++ == 0) {
      DLSDK_StreamMediaCB(handle, nullptr, nullptr);
      st->result = DLSDK_RealStreamDisconnect(handle);
    }
    return 1;
  };
  ASSERT_EQ(DLSDK_StreamMediaCB(s, callback, &state), DLSDK_OK);
  while (state.result == -100) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(state.result, DLSDK_OK);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(state.calls, 1);
}

TEST_F(DevLinkTest, ADeviceThatDiesEndsItsStreamsAndTheNextLoginConnectsAgain) {
  startServer();
  int32_t h = -1, s = -1;
  ASSERT_EQ(login(h), DLSDK_OK);
  ASSERT_EQ(openLive(h, 0, DLSDK_STREAM_THIRD, s), DLSDK_OK);
  Collector c;
  ASSERT_EQ(DLSDK_StreamMediaCB(s, &Collector::callback, &c), DLSDK_OK);
  ASSERT_TRUE(c.waitForCount(3));
  server_->stop();
  EXPECT_TRUE(kstest::settles([&] { return c.size(); }, 300ms));
  EXPECT_EQ(DLSDK_ForceIFrame(h, 0), DLSDK_ERR_CONNECT);
  EXPECT_EQ(DLSDK_RealStreamDisconnect(s), DLSDK_OK);
  EXPECT_EQ(DLSDK_UserLogout(h), DLSDK_OK);

  startServer();
  ASSERT_EQ(login(h), DLSDK_OK);
  ASSERT_EQ(openLive(h, 0, DLSDK_STREAM_THIRD, s), DLSDK_OK);
}

}  // namespace

namespace {

// What a stream's end callback heard.
struct EndSeen {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<int> reasons;  // guarded by mutex

  static void callback(int32_t, int32_t reason, void* context) {
    auto* self = static_cast<EndSeen*>(context);
    std::lock_guard lock(self->mutex);
    self->reasons.push_back(reason);
    self->cv.notify_all();
  }
  bool waitFor(size_t n, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, limit, [&] { return reasons.size() >= n; });
  }
  std::vector<int> seen() {
    std::lock_guard lock(mutex);
    return reasons;
  }
};

}  // namespace

// A download must learn that its stream died: the device going away in the
// middle of a history stream is told once, as a lost connection, and a
// stream the application closes itself is not told at all.
TEST_F(DevLinkTest, AStreamThatDiesTellsItsEndCallbackOnce) {
  startServer();
  int32_t h = -1, closedByUs = -1, dying = -1;
  ASSERT_EQ(login(h), DLSDK_OK);
  ASSERT_EQ(openHistory(h, 0, sdkTime(2024, 5, 6, 0, 0, 0), sdkTime(2024, 5, 6, 5, 0, 0), closedByUs), DLSDK_OK);
  ASSERT_EQ(openHistory(h, 0, sdkTime(2024, 5, 6, 0, 0, 0), sdkTime(2024, 5, 6, 5, 0, 0), dying), DLSDK_OK);
  EndSeen ownEnd, lostEnd;
  Collector frames;
  EXPECT_EQ(DLSDK_StreamEndCB(-5, &EndSeen::callback, &lostEnd), DLSDK_ERR_INVALID_HANDLE);
  ASSERT_EQ(DLSDK_StreamEndCB(closedByUs, &EndSeen::callback, &ownEnd), DLSDK_OK);
  ASSERT_EQ(DLSDK_StreamEndCB(dying, &EndSeen::callback, &lostEnd), DLSDK_OK);
  ASSERT_EQ(DLSDK_StreamMediaCB(dying, &Collector::callback, &frames), DLSDK_OK);
  ASSERT_EQ(DLSDK_StreamMediaControl(dying, 1), DLSDK_OK);
  ASSERT_TRUE(frames.waitForCount(50));

  EXPECT_EQ(DLSDK_HistoryStreamDestroy(closedByUs), DLSDK_OK);
  server_->stop();
  ASSERT_TRUE(lostEnd.waitFor(1, 10s));
  const size_t delivered = frames.size();
  EXPECT_EQ(lostEnd.seen(), std::vector<int>{DLSDK_ERR_CONNECT});
  EXPECT_TRUE(ownEnd.seen().empty());
  // The ended stream keeps its handle until closed; a new registration is
  // refused, and no frame came after the end.
  EXPECT_EQ(DLSDK_StreamEndCB(dying, &EndSeen::callback, &lostEnd), DLSDK_ERR_CONNECT);
  EXPECT_EQ(DLSDK_StreamMediaControl(dying, 1), DLSDK_ERR_CONNECT);
  EXPECT_EQ(frames.size(), delivered);
  EXPECT_EQ(DLSDK_HistoryStreamDestroy(dying), DLSDK_OK);
  EXPECT_EQ(lostEnd.seen().size(), 1u);
}
