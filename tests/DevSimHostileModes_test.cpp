// The simulator's hostile stream modes seen through the SDK over real TCP:
// each misbehaves the way it says (the page-level suite, HostileDevice_test,
// can only see that nothing breaks), and the SDK answers it with its code
// within its time-out.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/devlink/DevLinkSdk.h"
#include "platform/h264parse/H264Parse.h"
#include "tests/support/Settle.h"
#include "tests/support/Watchdog.h"
#include "tools/devsim/DevSimServer.h"
#include "tools/devsim/HostileMode.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using devsim::HostileMode;

constexpr int kCommandTimeoutMs = 1000;

// What a live stream delivered: frame count, the first key frame's bytes,
// and how the stream ended (-1 while it runs).
struct Received {
  std::mutex mutex;
  int frames = 0;                 // guarded by mutex
  std::vector<uint8_t> firstKey;  // guarded by mutex
  std::atomic<int> endReason{-1};

  static int onFrame(int32_t, const DLSDK_MediaFrame* f, void* context) {
    auto* self = static_cast<Received*>(context);
    std::lock_guard lock(self->mutex);
    ++self->frames;
    if (self->firstKey.empty() && f->frameType == DLSDK_FRAME_KEY) self->firstKey.assign(f->data, f->data + f->length);
    return 1;
  }
  static void onEnd(int32_t, int32_t reason, void* context) { static_cast<Received*>(context)->endReason = reason; }
  int count() {
    std::lock_guard lock(mutex);
    return frames;
  }
};

class DevSimHostileModes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { av_log_set_level(AV_LOG_QUIET); }
  void SetUp() override {
    ASSERT_EQ(DLSDK_StartUp(), DLSDK_OK);
    ASSERT_EQ(DLSDK_SetAttribute(DLSDK_ATTR_COMMAND_TIMEOUT_MS, kCommandTimeoutMs), DLSDK_OK);
  }
  void TearDown() override { DLSDK_CleanUp(); }

  static std::unique_ptr<devsim::DevSimServer> start(HostileMode mode) {
    devsim::DevSimOptions o;
    o.commandPort = 0;
    o.mediaPort = 0;
    o.channels = 1;
    o.loopSeconds = 1;
    o.hostile = mode;
    auto server = std::make_unique<devsim::DevSimServer>(o);
    std::string error;
    EXPECT_TRUE(server->start(&error)) << error;
    return server;
  }
  static int login(const devsim::DevSimServer& server, int32_t& handle) {
    DLSDK_LoginInfo info{};
    std::strcpy(info.address, "127.0.0.1");
    info.commandPort = server.commandPort();
    std::strcpy(info.user, "admin");
    std::strcpy(info.password, "admin");
    return DLSDK_UserLogin(&handle, &info);
  }

  kstest::Watchdog watchdog_{90s, "DevSimHostileModes"};
};

TEST_F(DevSimHostileModes, LiveStreamsEndOrStallAsTheModeSays) {
  for (HostileMode mode :
       {HostileMode::kCloseStream, HostileMode::kDropMidFrame, HostileMode::kStallStream, HostileMode::kHugePicture}) {
    SCOPED_TRACE(std::string(devsim::hostileModeName(mode)));
    auto server = start(mode);
    int32_t login = -1, stream = -1;
    ASSERT_EQ(DevSimHostileModes::login(*server, login), DLSDK_OK);
    DLSDK_LiveStreamRequest r{0, 1, DLSDK_STREAM_THIRD, server->mediaPort(), {}};
    ASSERT_EQ(DLSDK_RealStreamConnect(&stream, login, &r), DLSDK_OK);
    Received got;
    ASSERT_EQ(DLSDK_StreamEndCB(stream, Received::onEnd, &got), DLSDK_OK);
    ASSERT_EQ(DLSDK_StreamMediaCB(stream, Received::onFrame, &got), DLSDK_OK);

    if (mode == HostileMode::kCloseStream || mode == HostileMode::kDropMidFrame) {
      // The stream ends as a lost connection, after the whole frames only.
      EXPECT_TRUE(kstest::eventually([&] { return got.endReason >= 0; }, 10s));
      EXPECT_EQ(got.endReason.load(), DLSDK_ERR_CONNECT);
      EXPECT_LE(got.count(), devsim::kFramesBeforeHostile + 2);
      if (mode == HostileMode::kDropMidFrame) EXPECT_GE(got.count(), devsim::kFramesBeforeHostile);
    } else if (mode == HostileMode::kStallStream) {
      // Frames stop; a control request gets no reply and times out.
      EXPECT_TRUE(kstest::eventually([&] { return got.count() >= devsim::kFramesBeforeHostile; }, 10s));
      const auto begin = Clock::now();
      EXPECT_EQ(DLSDK_StreamMediaControl(stream, 2), DLSDK_ERR_TIMEOUT);
      EXPECT_LT(Clock::now() - begin, std::chrono::milliseconds(kCommandTimeoutMs) + 2s);
      EXPECT_LE(got.count(), devsim::kFramesBeforeHostile + 2);
    } else {
      // The key frame declares a picture of 16384 x 16384, in its header
      // and in the parameter set the parser finds.
      EXPECT_TRUE(kstest::eventually(
          [&] {
            std::lock_guard lock(got.mutex);
            return !got.firstKey.empty();
          },
          10s));
      std::lock_guard lock(got.mutex);
      ASSERT_GT(got.firstKey.size(), 32u);
      int offset = 0, length = 0, codec = 0;
      ASSERT_EQ(
          get_sps_info_from_frame(got.firstKey.data(), static_cast<int>(got.firstKey.size()), &offset, &length, &codec),
          kH264ParseOk);
      H264SpsInfo sps{};
      ASSERT_EQ(h264_parse_sequence_parameter_set(got.firstKey.data() + offset + 4, length * 8, &sps), kH264ParseOk);
      EXPECT_EQ(sps.width, devsim::kHugePictureSide);
      EXPECT_EQ(sps.height, devsim::kHugePictureSide);
    }
    DLSDK_RealStreamDisconnect(stream);
    DLSDK_UserLogout(login);
    server->stop();
  }
}

}  // namespace
