// The MP4 writer over the stream converter, fed the device simulator's
// frames, with an output that fails at its n-th write as a full disk would:
// what was written before stays a file ffprobe reads. Runs when the build
// has the stream converter.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/WireFormat.h"
#include "plugin/files/testing/ScopedTempDir.h"
#include "plugin/recording/Mp4Writer.h"
#include "tools/devsim/EncodedLoop.h"

namespace {

std::vector<uint8_t> wholeFrame(int kind, int format, uint32_t seconds, uint16_t ms,
                                const std::vector<uint8_t>& payload) {
  devlink::wire::FrameHeader h;
  h.streamType = 1;
  h.kind = static_cast<uint8_t>(kind);
  h.format = static_cast<uint8_t>(format);
  h.seconds = seconds;
  h.milliseconds = ms;
  h.width = 352;
  h.height = 288;
  h.frameRate = 25;
  h.payloadLength = static_cast<uint32_t>(payload.size());
  std::vector<uint8_t> frame(32 + payload.size());
  devlink::wire::encodeFrameHeader(frame.data(), h);
  std::copy(payload.begin(), payload.end(), frame.begin() + 32);
  return frame;
}

// The number of video frames ffprobe counts in the file; -1 when it cannot
// read it.
int probeFrames(const std::string& path) {
  const std::string command = "ffprobe -v error -select_streams v:0 -count_frames -show_entries"
                              " stream=nb_read_frames -of csv=p=0 '" + path + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char line[64] = {};
  const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
  if (::pclose(pipe) != 0 || !got) return -1;
  return std::atoi(line);
}

TEST(RecordingWriter, AFailedWriteLeavesAPlayablePrefix) {
  av_log_set_level(AV_LOG_QUIET);
  ksplugs::testing::ScopedTempDir temp;
  std::string error;
  const auto loop = devsim::EncodedLoop::encode(352, 288, 0, false, 1, &error);
  ASSERT_TRUE(loop) << error;
  const std::vector<uint8_t> silence(320, 0xFF);
  const ksplugs::Mp4WriterFactory factory = ksplugs::converterWriterFactory();
  ASSERT_TRUE(factory);
  // 0: no failure; otherwise the write that fails, counted from 1.
  struct Case {
    int failAt;
    int minFrames;  // at least this many pictures survive; -1: not checked (the header may be cut)
  };
  for (const Case c : {Case{0, 100}, Case{2, -1}, Case{3, 0}, Case{6, 1}, Case{40, 25}}) {
    SCOPED_TRACE(c.failAt);
    const std::string path = temp.path() + "/cut" + std::to_string(c.failAt) + ".mp4";
    std::ofstream out(path, std::ios::binary);
    int writes = 0;
    bool failed = false;
    auto writer = factory();
    ASSERT_TRUE(writer->open([&](const uint8_t* data, size_t length) {
      if (failed || ++writes == c.failAt) {
        failed = true;
        return false;
      }
      out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
      return true;
    }));
    bool going = true;
    for (int i = 0; i < 4 * devsim::EncodedLoop::kFrameRate && going; ++i) {
      const int index = i % loop->size();
      const uint32_t second = 1'700'000'000 + static_cast<uint32_t>(i / 25);
      const auto ms = static_cast<uint16_t>((i % 25) * 40);
      const int kind = devsim::EncodedLoop::isKey(index) ? DLSDK_FRAME_KEY : DLSDK_FRAME_DELTA;
      const auto picture = wholeFrame(kind, DLSDK_FORMAT_H264, second, ms, loop->frames[static_cast<size_t>(index)]);
      const auto sound = wholeFrame(DLSDK_FRAME_AUDIO, DLSDK_FORMAT_G711U, second, ms, silence);
      going = writer->input(picture.data(), static_cast<int32_t>(picture.size())) &&
              writer->input(sound.data(), static_cast<int32_t>(sound.size()));
    }
    // A write that failed while frames came in ends the file there; the
    // writer may also have held everything back until its trailer.
    const bool failedWhileFed = failed;
    writer->finish();
    out.close();
    EXPECT_EQ(going, !failedWhileFed);
    if (c.failAt == 0) {
      EXPECT_FALSE(failed);
    }
    if (c.minFrames < 0) continue;
    const int frames = probeFrames(path);
    EXPECT_GE(frames, c.minFrames) << path;
  }
}

}  // namespace
