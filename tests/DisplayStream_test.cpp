// Streams from the device simulator decoded and drawn into windows of the
// headless desktop: pictures, resizing, display regions, the draw hook,
// snapshots, pause and refresh, sound, and the pace of recorded playback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/DisplayTable.h"
#include "platform/devlink/NullAudioSink.h"
#include "platform/ui/DeviceContext.h"
#include "platform/ui/Window.h"
#include "platform/ui/WindowDC.h"
#include "platform/ui/testing/UiTestSupport.h"
#include "tests/support/Settle.h"
#include "tools/devsim/DevSimServer.h"

namespace {

using namespace std::chrono_literals;
using devlink::DisplayTable;
using devlink::StreamRenderer;
using ui::COLORREF;
using ui::HWND;
using ui::pumpPendingMessages;
using ui::RGB;
using ui::SW_HIDE;
using ui::SW_SHOW;
using ui::WS_POPUP;
using ui::WS_VISIBLE;

constexpr COLORREF kBackground = RGB(0x48, 0x4D, 0x5A);

// A video surface: it fills itself with the cell's background colour.
class Surface : public ui::Window {
 public:
  Surface() { setClassBackground(kBackground); }
};

DLSDK_Time sdkTime(int y, int mo, int d, int h, int mi, int s) {
  return DLSDK_Time{uint16_t(y), uint16_t(mo), uint16_t(d), uint16_t(h), uint16_t(mi), uint16_t(s)};
}

// Share of pixels in r that differ from colour c by more than a little.
double shareUnlike(const ui::Image& img, const ui::Rect& r, uint32_t c) {
  int differ = 0, all = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      const uint32_t p = img.pixel(x, y);
      int d = 0;
      for (int shift = 0; shift < 24; shift += 8) d += std::abs(int((p >> shift) & 0xFF) - int((c >> shift) & 0xFF));
      differ += d > 24;
      ++all;
    }
  }
  return all ? double(differ) / all : 0;
}

// Mean absolute difference per channel between a(x, y) and b(f(x, y)).
double meanDifference(const ui::Image& a, const ui::Image& b, const std::function<ui::Point(int, int)>& map) {
  double sum = 0;
  int n = 0;
  for (int y = 4; y < a.height() - 4; y += 3) {
    for (int x = 4; x < a.width() - 4; x += 3) {
      const ui::Point q = map(x, y);
      const uint32_t p = a.pixel(x, y), o = b.pixel(q.x, q.y);
      for (int shift = 0; shift < 24; shift += 8) sum += std::abs(int((p >> shift) & 0xFF) - int((o >> shift) & 0xFF));
      n += 3;
    }
  }
  return n ? sum / n : 0;
}

// Decodes a picture file with libavformat and libavcodec; answers its size.
std::pair<int, int> decodePictureFile(const std::string& path, AVCodecID expected) {
  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return {};
  std::pair<int, int> size{};
  if (avformat_find_stream_info(format, nullptr) >= 0 && format->nb_streams == 1 &&
      format->streams[0]->codecpar->codec_id == expected) {
    const AVCodec* codec = avcodec_find_decoder(expected);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(ctx, format->streams[0]->codecpar);
    AVPacket* packet = av_packet_alloc();
    AVFrame* picture = av_frame_alloc();
    if (avcodec_open2(ctx, codec, nullptr) == 0 && av_read_frame(format, packet) == 0 &&
        avcodec_send_packet(ctx, packet) == 0 && avcodec_receive_frame(ctx, picture) == 0) {
      size = {picture->width, picture->height};
    }
    av_frame_free(&picture);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
  }
  avformat_close_input(&format);
  return size;
}

class DisplayTest : public ui::test::HeadlessTest {
 protected:
  static void SetUpTestSuite() { av_log_set_level(AV_LOG_QUIET); }

  void SetUp() override {
    HeadlessTest::SetUp();
    ASSERT_EQ(DLSDK_StartUp(), DLSDK_OK);
    devsim::DevSimOptions o;
    o.commandPort = 0;
    o.mediaPort = 0;
    o.loopSeconds = 1;
    o.channels = 2;
    server_ = std::make_unique<devsim::DevSimServer>(o);
    std::string error;
    ASSERT_TRUE(server_->start(&error)) << error;
    DLSDK_LoginInfo info{};
    std::strcpy(info.address, "127.0.0.1");
    info.commandPort = server_->commandPort();
    std::strcpy(info.user, "admin");
    std::strcpy(info.password, "admin");
    ASSERT_EQ(DLSDK_UserLogin(&login_, &info), DLSDK_OK);
    folder_ =
        std::filesystem::temp_directory_path() / ("kestrova-display-" + std::to_string(::getpid()) + "-" +
                                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
  }

  void TearDown() override {
    // Drawing threads end before the windows and the window system go.
    DLSDK_CleanUp();
    if (server_) server_->stop();
    surface_.destroyWindow();
    std::filesystem::remove_all(folder_);
    HeadlessTest::TearDown();
  }

  HWND makeWindow(int w = 352, int h = 288) {
    HWND hwnd = surface_.create(0, {100, 100, 100 + w, 100 + h}, "video", WS_VISIBLE | WS_POPUP);
    pumpPendingMessages();
    return hwnd;
  }

  // A live third stream (352 x 288) of channel 0 opened the way the live
  // view opens it, playing into `window`.
  int32_t openLive(HWND window, int type = DLSDK_STREAM_THIRD) {
    DLSDK_LiveStreamRequest r{};
    r.channel = 0;
    r.reserved1 = 1;
    r.streamType = type;
    r.mediaPort = server_->mediaPort();
    int32_t s = -1;
    EXPECT_EQ(DLSDK_RealStreamConnect(&s, login_, &r), DLSDK_OK);
    EXPECT_EQ(DLSDK_StreamOpenEx(s, 1, 1, 0xFFFFFF, 2, 0, 0, 704, 576), DLSDK_OK);
    EXPECT_EQ(DLSDK_StreamSetFrameSize(s, 5), DLSDK_OK);
    EXPECT_EQ(DLSDK_StreamPlay(s, window), DLSDK_OK);
    EXPECT_EQ(DLSDK_StreamSetVolume(s, 0xFFFF), DLSDK_OK);
    return s;
  }

  // Recorded video of channel 0 on 2024-05-06 from 14:00 on (recorded all
  // afternoon), opened the way the playback dock opens it.
  int32_t openHistory(HWND window) {
    DLSDK_HistoryStreamRequest r{};
    r.reserved1 = 1;
    r.channel = 0;
    r.start = sdkTime(2024, 5, 6, 0, 0, 0);
    r.end = sdkTime(2024, 5, 6, 23, 59, 59);
    r.typeMask = 63;
    r.reserved3 = 1;
    r.subStream = 1;
    r.mediaPort = server_->mediaPort();
    int32_t s = -1;
    EXPECT_EQ(DLSDK_HistoryStreamMultiTypeCreate(&s, login_, &r), DLSDK_OK);
    EXPECT_EQ(DLSDK_StreamOpenEx(s, 1, 1, 0xFFFFFF, 2, 0, 0, 704, 576), DLSDK_OK);
    const DLSDK_Time at = sdkTime(2024, 5, 6, 14, 30, 0);
    EXPECT_EQ(DLSDK_HistoryStreamPosition(s, 2, &at), DLSDK_OK);
    EXPECT_EQ(DLSDK_StreamPlay(s, window), DLSDK_OK);
    return s;
  }

  static StreamRenderer::Stats stats(int32_t s) {
    auto r = DisplayTable::instance().find(s);
    return r ? r->stats() : StreamRenderer::Stats{};
  }

  // True once no picture has been drawn for a while (a stream at 25 frames
  // per second draws every 40 ms while it draws at all).
  static bool drawingStops(int32_t s) {
    return kstest::settles([&] { return stats(s).framesDrawn; }, 300ms);
  }
  static bool waitDrawn(int32_t s, uint64_t more = 1) {
    const uint64_t target = stats(s).framesDrawn + more;
    return kstest::eventually([&] { return stats(s).framesDrawn >= target; });
  }

  // A capture taken when no picture is half-way drawn: the window's image
  // lock is held while the drawing thread writes.
  ui::Image capture(HWND hwnd) {
    ui::WindowDC hold(hwnd);
    hold.discard();
    return desktop_->captureWindow(hwnd);
  }

  std::unique_ptr<devsim::DevSimServer> server_;
  int32_t login_ = -1;
  Surface surface_;
  std::filesystem::path folder_;
};

TEST_F(DisplayTest, LiveStreamShowsTheMovingPictureAndFillsTheWindowAfterAResize) {
  const HWND w = makeWindow();
  const int32_t s = openLive(w);
  ASSERT_TRUE(waitDrawn(s, 3));
  const ui::Image first = capture(w);
  ASSERT_EQ(first.width(), 352);
  EXPECT_GT(shareUnlike(first, {0, 0, 352, 288}, ui::Image::fromColorRef(kBackground)), 0.5);
  ASSERT_TRUE(waitDrawn(s, 5));
  const ui::Image later = capture(w);
  EXPECT_GT(meanDifference(first, later, [](int x, int y) { return ui::Point{x, y}; }), 0.5);
  EXPECT_EQ(stats(s).width, 352);

  // A larger window: the next picture is scaled to the new size, so the
  // newly uncovered corner holds picture, not background.
  ASSERT_TRUE(ui::moveWindow(w, 100, 100, 640, 480));
  ASSERT_TRUE(waitDrawn(s, 2));
  const ui::Image grown = capture(w);
  ASSERT_EQ(grown.width(), 640);
  EXPECT_GT(shareUnlike(grown, {352, 288, 640, 480}, ui::Image::fromColorRef(kBackground)), 0.5);
  EXPECT_EQ(DLSDK_RealStreamDisconnect(s), DLSDK_OK);
  EXPECT_EQ(DLSDK_StreamPlay(s, w), DLSDK_ERR_INVALID_HANDLE);
}

TEST_F(DisplayTest, DisplayRegionShowsTheTopLeftQuarterScaledUp) {
  const HWND w = makeWindow();
  const int32_t s = openLive(w);
  ASSERT_TRUE(waitDrawn(s, 3));
  // Paused, the held picture does not change, so refreshes draw the same
  // picture once whole and once through the region.
  ASSERT_EQ(DLSDK_StreamPause(s, 1), DLSDK_OK);
  ASSERT_TRUE(drawingStops(s));
  uint64_t redraws = stats(s).redraws;
  ASSERT_EQ(DLSDK_StreamRefreshPlay(s), DLSDK_OK);
  ASSERT_TRUE(kstest::eventually([&] { return stats(s).redraws > redraws; }));
  const ui::Image whole = capture(w);

  const DLSDK_Rect quarter{0, 0, 176, 144};
  ASSERT_EQ(DLSDK_SoftSetDisplayRegion(s, 0, &quarter, 0, 1), DLSDK_OK);
  redraws = stats(s).redraws;
  ASSERT_EQ(DLSDK_StreamRefreshPlay(s), DLSDK_OK);
  ASSERT_TRUE(kstest::eventually([&] { return stats(s).redraws > redraws; }));
  const ui::Image zoomed = capture(w);

  const double matching = meanDifference(zoomed, whole, [](int x, int y) { return ui::Point{x / 2, y / 2}; });
  const double unscaled = meanDifference(zoomed, whole, [](int x, int y) { return ui::Point{x, y}; });
  EXPECT_LT(matching, 12.0);
  EXPECT_GT(unscaled, matching * 2);

  // Off again: the whole picture.
  ASSERT_EQ(DLSDK_SoftSetDisplayRegion(s, 0, nullptr, 0, 0), DLSDK_OK);
  redraws = stats(s).redraws;
  ASSERT_EQ(DLSDK_StreamRefreshPlay(s), DLSDK_OK);
  ASSERT_TRUE(kstest::eventually([&] { return stats(s).redraws > redraws; }));
  EXPECT_LT(meanDifference(capture(w), whole, [](int x, int y) { return ui::Point{x, y}; }), 1.0);

  // A rectangle that is no rectangle is refused and changes nothing.
  const DLSDK_Rect inverted{100, 100, 50, 150};
  EXPECT_EQ(DLSDK_SoftSetDisplayRegion(s, 0, &inverted, 0, 1), DLSDK_ERR_INVALID_PARAMETER);
  EXPECT_EQ(DLSDK_SoftSetDisplayRegion(s, 0, nullptr, 0, 1), DLSDK_ERR_INVALID_PARAMETER);
  EXPECT_EQ(DLSDK_SoftSetDisplayRegion(s, 0, &quarter, 0, 7), DLSDK_ERR_INVALID_PARAMETER);
}

struct HookLog {
  std::atomic<int> calls{0};
  std::atomic<int32_t> handle{-1};
  std::atomic<bool> sawSize{false};
};

void greenLine(int32_t handle, void* deviceContext, void* context) {
  auto* log = static_cast<HookLog*>(context);
  auto* dc = static_cast<ui::DeviceContext*>(deviceContext);
  log->handle = handle;
  log->sawSize = dc->size().cx == 352 && dc->size().cy == 288;
  dc->fillRect(ui::Rect{0, 20, 352, 21}, RGB(0, 255, 0));
  log->calls.fetch_add(1);
}

TEST_F(DisplayTest, DrawHookRunsOncePerDrawnFrameAndItsDrawingIsPresented) {
  const HWND w = makeWindow();
  const int32_t s = openLive(w);
  HookLog log;
  EXPECT_EQ(DLSDK_StreamResetDraw(s, 1, &greenLine, &log), DLSDK_ERR_INVALID_PARAMETER);
  ASSERT_EQ(DLSDK_StreamResetDraw(s, 2, &greenLine, &log), DLSDK_OK);
  ASSERT_TRUE(kstest::eventually([&] { return log.calls >= 5; }));
  const ui::Image shot = capture(w);
  EXPECT_EQ(shareUnlike(shot, {0, 20, 352, 21}, 0x00FF00), 0.0);
  EXPECT_GT(shareUnlike(shot, {0, 22, 352, 30}, 0x00FF00), 0.9);
  EXPECT_EQ(log.handle, s);
  EXPECT_TRUE(log.sawSize);

  // Removing the hook waits for a call in progress; none follows.
  ASSERT_EQ(DLSDK_StreamResetDraw(s, 2, nullptr, nullptr), DLSDK_OK);
  const int calls = log.calls;
  ASSERT_TRUE(waitDrawn(s, 3));
  EXPECT_EQ(log.calls, calls);
  const auto st = stats(s);
  EXPECT_EQ(st.hookCalls, static_cast<uint64_t>(calls));
  EXPECT_GE(st.framesDrawn, st.hookCalls + 3);
}

TEST_F(DisplayTest, SnapshotsAreValidPicturesAtTheNativeSize) {
  const HWND w = makeWindow(200, 150);
  const int32_t s = openLive(w);
  const std::string bmp = (folder_ / "shot.bmp").string();
  const std::string jpg = (folder_ / "shot.JPG").string();
  const std::string other = (folder_ / "shot").string();
  // A recording that was not started yet has sent no picture: no file.
  DLSDK_HistoryStreamRequest r{};
  r.reserved1 = 1;
  r.start = sdkTime(2024, 5, 6, 14, 0, 0);
  r.end = sdkTime(2024, 5, 6, 15, 0, 0);
  r.typeMask = 63;
  r.reserved3 = 1;
  r.mediaPort = server_->mediaPort();
  int32_t fresh = -1;
  ASSERT_EQ(DLSDK_HistoryStreamMultiTypeCreate(&fresh, login_, &r), DLSDK_OK);
  EXPECT_EQ(DLSDK_StreamSnapShot(fresh, bmp.c_str()), DLSDK_ERR_NOT_AVAILABLE);  // not opened for display
  ASSERT_EQ(DLSDK_StreamOpenEx(fresh, 1, 1, 0xFFFFFF, 2, 0, 0, 704, 576), DLSDK_OK);
  EXPECT_EQ(DLSDK_StreamSnapShot(fresh, bmp.c_str()), DLSDK_ERR_NO_PICTURE);
  EXPECT_FALSE(std::filesystem::exists(bmp));

  ASSERT_TRUE(waitDrawn(s, 2));
  ASSERT_EQ(DLSDK_StreamSnapShot(s, bmp.c_str()), DLSDK_OK);
  ASSERT_EQ(DLSDK_StreamSnapShot(s, jpg.c_str()), DLSDK_OK);
  ASSERT_EQ(DLSDK_StreamSnapShot(s, other.c_str()), DLSDK_OK);
  // The window is 200 x 150; the pictures keep the stream's 352 x 288.
  EXPECT_EQ(decodePictureFile(bmp, AV_CODEC_ID_BMP), std::make_pair(352, 288));
  EXPECT_EQ(decodePictureFile(jpg, AV_CODEC_ID_MJPEG), std::make_pair(352, 288));
  EXPECT_EQ(decodePictureFile(other, AV_CODEC_ID_MJPEG), std::make_pair(352, 288));

  EXPECT_EQ(DLSDK_StreamSnapShot(s, nullptr), DLSDK_ERR_INVALID_PARAMETER);
  EXPECT_EQ(DLSDK_StreamSnapShot(s, ""), DLSDK_ERR_INVALID_PARAMETER);
  const std::string missing = (folder_ / "no" / "such" / "folder.bmp").string();
  EXPECT_EQ(DLSDK_StreamSnapShot(s, missing.c_str()), DLSDK_ERR_FILE);
}

TEST_F(DisplayTest, PauseHoldsThePictureRefreshRedrawsItAndResumeMovesOn) {
  const HWND w = makeWindow();
  const int32_t s = openLive(w);
  ASSERT_TRUE(waitDrawn(s, 3));
  ASSERT_EQ(DLSDK_StreamPause(s, 1), DLSDK_OK);
  ASSERT_TRUE(drawingStops(s));  // a picture being drawn when pausing finishes
  const ui::Image held = capture(w);
  const uint64_t drawn = stats(s).framesDrawn;
  const uint64_t decoded = stats(s).framesDecoded;
  // A live stream keeps decoding, and nothing more is drawn meanwhile.
  ASSERT_TRUE(kstest::eventually([&] { return stats(s).framesDecoded >= decoded + 5; }));
  EXPECT_EQ(stats(s).framesDrawn, drawn);
  EXPECT_LT(meanDifference(capture(w), held, [](int x, int y) { return ui::Point{x, y}; }), 0.01);

  // Something covers the window; a refresh brings the held picture back.
  {
    ui::WindowDC dc(w);
    dc.dc().fillRect(ui::Rect{0, 0, 352, 288}, RGB(255, 0, 0));
  }
  EXPECT_EQ(shareUnlike(capture(w), {0, 0, 352, 288}, 0xFF0000), 0.0);
  const uint64_t redraws = stats(s).redraws;
  ASSERT_EQ(DLSDK_StreamRefreshPlay(s), DLSDK_OK);
  ASSERT_TRUE(kstest::eventually([&] { return stats(s).redraws > redraws; }));
  EXPECT_LT(meanDifference(capture(w), held, [](int x, int y) { return ui::Point{x, y}; }), 0.01);

  EXPECT_EQ(DLSDK_StreamPause(s, 2), DLSDK_ERR_INVALID_PARAMETER);
  ASSERT_EQ(DLSDK_StreamPause(s, 0), DLSDK_OK);
  ASSERT_TRUE(waitDrawn(s, 3));
  EXPECT_GT(meanDifference(capture(w), held, [](int x, int y) { return ui::Point{x, y}; }), 0.5);
}

TEST_F(DisplayTest, HiddenWindowKeepsDecodingWithoutDrawing) {
  const HWND w = makeWindow();
  const int32_t s = openLive(w);
  ASSERT_TRUE(waitDrawn(s, 2));
  ui::showWindow(w, SW_HIDE);
  ASSERT_TRUE(drawingStops(s));
  const auto before = stats(s);
  ASSERT_TRUE(kstest::eventually([&] { return stats(s).framesDecoded >= before.framesDecoded + 4; }));
  EXPECT_EQ(stats(s).framesDrawn, before.framesDrawn);
  ui::showWindow(w, SW_SHOW);
  EXPECT_TRUE(waitDrawn(s, 2));
}

// A cell wholly under a sibling (the settings cell over the live cells)
// decodes on but is not drawn into; uncovered, it is drawn again.
TEST_F(DisplayTest, CoveredWindowKeepsDecodingWithoutDrawing) {
  const HWND parent = makeWindow();
  ui::Window videoObject, coverObject;
  const HWND video = videoObject.create(parent, {0, 0, 176, 144}, "cell", WS_VISIBLE | ui::WS_CHILD);
  const int32_t s = openLive(video);
  ASSERT_TRUE(waitDrawn(s, 2));
  const HWND cover = coverObject.create(parent, {0, 0, 352, 288}, "over", WS_VISIBLE | ui::WS_CHILD);
  ui::setWindowPos(cover, ui::HWND_TOP, 0, 0, 0, 0, ui::SWP_NOMOVE | ui::SWP_NOSIZE);
  ASSERT_FALSE(ui::isWindowExposed(video));
  // Two pictures on, one that was being drawn as the cover came is done.
  const uint64_t covered = stats(s).framesDecoded;
  ASSERT_TRUE(kstest::eventually([&] { return stats(s).framesDecoded >= covered + 2; }));
  const auto before = stats(s);
  ASSERT_TRUE(kstest::eventually([&] { return stats(s).framesDecoded >= before.framesDecoded + 4; }));
  EXPECT_EQ(stats(s).framesDrawn, before.framesDrawn);
  ui::showWindow(cover, SW_HIDE);
  EXPECT_TRUE(waitDrawn(s, 2));
}

TEST_F(DisplayTest, SoundOnAndOffReachTheSinkAndRepeatsAnswer10201) {
  const HWND w = makeWindow();
  const int32_t s = openLive(w);
  auto sink = std::dynamic_pointer_cast<devlink::NullAudioSink>(DisplayTable::instance().find(s)->audioSink());
  ASSERT_TRUE(sink);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(sink->samples(), 0u);  // sound starts off
  EXPECT_EQ(DLSDK_StreamStopSound(s), DLSDK_ERR_ALREADY);
  ASSERT_EQ(DLSDK_StreamPlaySound(s), DLSDK_OK);
  EXPECT_EQ(DLSDK_StreamPlaySound(s), DLSDK_ERR_ALREADY);
  EXPECT_TRUE(sink->playing());
  EXPECT_EQ(sink->sampleRate(), 8000);
  // A second of sound holds the device's half-second beep, at full scale.
  ASSERT_TRUE(kstest::eventually([&] { return sink->samples() >= 8000; }));
  EXPECT_GT(sink->takePeak(), 6000);

  ASSERT_EQ(DLSDK_StreamSetVolume(s, 0), DLSDK_OK);
  sink->takePeak();
  const uint64_t mark = sink->samples();
  ASSERT_TRUE(kstest::eventually([&] { return sink->samples() >= mark + 8000; }));
  EXPECT_EQ(sink->takePeak(), 0);
  EXPECT_EQ(DLSDK_StreamSetVolume(s, 0x10000), DLSDK_ERR_INVALID_PARAMETER);
  EXPECT_EQ(DLSDK_StreamSetVolume(s, -1), DLSDK_ERR_INVALID_PARAMETER);

  ASSERT_EQ(DLSDK_StreamStopSound(s), DLSDK_OK);
  EXPECT_FALSE(sink->playing());
  const uint64_t stopped = sink->samples();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(sink->samples(), stopped);
  EXPECT_EQ(DLSDK_StreamStopSound(s), DLSDK_ERR_ALREADY);
}

TEST_F(DisplayTest, FastAndSlowChangeThePaceOfRecordedPlayback) {
  const HWND w = makeWindow();
  const int32_t s = openHistory(w);
  ASSERT_TRUE(waitDrawn(s, 3));
  const auto rateOver = [&](std::chrono::milliseconds span) {
    const uint64_t from = stats(s).framesDrawn;
    std::this_thread::sleep_for(span);
    return double(stats(s).framesDrawn - from) * 1000.0 / double(span.count());
  };
  const double normal = rateOver(800ms);
  EXPECT_GT(normal, 18.0);
  EXPECT_LT(normal, 32.0);

  ASSERT_EQ(DLSDK_HistoryStreamSlow(s), DLSDK_OK);
  std::this_thread::sleep_for(150ms);
  const double slow = rateOver(800ms);
  EXPECT_LT(slow, normal * 0.7);
  EXPECT_GT(slow, 6.0);

  ASSERT_EQ(DLSDK_HistoryStreamFast(s), DLSDK_OK);
  ASSERT_EQ(DLSDK_HistoryStreamFast(s), DLSDK_OK);
  std::this_thread::sleep_for(150ms);
  const double fast = rateOver(800ms);
  EXPECT_GT(fast, normal * 1.4);

  // Playing again means the normal pace.
  ASSERT_EQ(DLSDK_StreamPlay(s, w), DLSDK_OK);
  std::this_thread::sleep_for(150ms);
  const double again = rateOver(800ms);
  EXPECT_LT(again, fast * 0.75);
}

TEST_F(DisplayTest, StepsShowOneFrameEachWhilePaused) {
  const HWND w = makeWindow();
  const int32_t s = openHistory(w);
  ASSERT_TRUE(waitDrawn(s, 12));
  ASSERT_EQ(DLSDK_StreamPause(s, 1), DLSDK_OK);
  ASSERT_TRUE(drawingStops(s));
  const auto paused = stats(s);

  ASSERT_EQ(DLSDK_HistoryStreamOneByOne(s), DLSDK_OK);
  ASSERT_TRUE(kstest::eventually([&] { return stats(s).framesDrawn == paused.framesDrawn + 1; }));
  // Back: the frames from the key frame on are decoded, only the target is shown.
  const auto stepped = stats(s);
  ASSERT_EQ(DLSDK_HistoryStreamOneByOneBack(s), DLSDK_OK);
  ASSERT_TRUE(kstest::eventually([&] { return stats(s).framesDrawn == stepped.framesDrawn + 1; }));
  std::this_thread::sleep_for(200ms);
  const auto back = stats(s);
  EXPECT_EQ(back.framesDrawn, stepped.framesDrawn + 1);
  EXPECT_GT(back.framesDecoded, stepped.framesDecoded + 1);
}

TEST_F(DisplayTest, DisplayCallsRefuseWhatTheyCannotDo) {
  const HWND w = makeWindow();
  EXPECT_EQ(DLSDK_StreamPlay(4711, w), DLSDK_ERR_INVALID_HANDLE);
  EXPECT_EQ(DLSDK_StreamOpenEx(4711, 1, 1, 0xFFFFFF, 2, 0, 0, 704, 576), DLSDK_ERR_INVALID_HANDLE);
  DLSDK_LiveStreamRequest r{};
  r.reserved1 = 1;
  r.streamType = DLSDK_STREAM_THIRD;
  r.mediaPort = server_->mediaPort();
  int32_t s = -1;
  ASSERT_EQ(DLSDK_RealStreamConnect(&s, login_, &r), DLSDK_OK);
  EXPECT_EQ(DLSDK_StreamPlay(s, w), DLSDK_ERR_NOT_AVAILABLE);
  EXPECT_EQ(DLSDK_StreamOpenEx(s, 1, 1, 0xFFFFFF, 2, 0, 0, -1, 576), DLSDK_ERR_INVALID_PARAMETER);
  ASSERT_EQ(DLSDK_StreamOpenEx(s, 1, 1, 0xFFFFFF, 2, 0, 0, 704, 576), DLSDK_OK);
  EXPECT_EQ(DLSDK_StreamOpenEx(s, 1, 1, 0xFFFFFF, 2, 0, 0, 704, 576), DLSDK_OK);
  EXPECT_EQ(DLSDK_StreamPlay(s, 0x7777), DLSDK_ERR_INVALID_PARAMETER);  // no such window
  EXPECT_EQ(DLSDK_StreamSetFrameSize(s, 0), DLSDK_ERR_INVALID_PARAMETER);
  EXPECT_EQ(DLSDK_HistoryStreamFast(s), DLSDK_ERR_NOT_AVAILABLE);  // live
  // Decoding without a window, then into one.
  ASSERT_EQ(DLSDK_StreamPlay(s, 0), DLSDK_OK);
  ASSERT_TRUE(kstest::eventually([&] { return stats(s).framesDecoded >= 3; }));
  EXPECT_EQ(stats(s).framesDrawn, 0u);
  ASSERT_EQ(DLSDK_StreamPlay(s, w), DLSDK_OK);
  EXPECT_TRUE(waitDrawn(s, 2));
  // After a stop nothing is decoded; playing again starts at a key frame.
  ASSERT_EQ(DLSDK_StreamStop(s), DLSDK_OK);
  EXPECT_TRUE(kstest::settles([&] { return stats(s).framesDecoded; }, 300ms));
  ASSERT_EQ(DLSDK_StreamPlay(s, w), DLSDK_OK);
  EXPECT_TRUE(waitDrawn(s, 2));
  // The window goes away under a playing stream: drawing just stops.
  surface_.destroyWindow();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(DLSDK_RealStreamDisconnect(s), DLSDK_OK);
  EXPECT_FALSE(DisplayTable::instance().find(s));
}

}  // namespace
