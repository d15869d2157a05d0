// DevLink frames made from real H.264/H.265 loops and G.711 tone go through
// the converter; the files it writes are read back with ffprobe.
#include "platform/streamconverter/StreamConverter.h"

#include <gtest/gtest.h>
#include <json/json.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/devlink/WireFormat.h"
#include "platform/sys/TempPath.h"
#include "tests/support/RequiredTool.h"
#include "tools/devsim/AudioTone.h"
#include "tools/devsim/EncodedLoop.h"

namespace {

namespace wire = devlink::wire;
using Bytes = std::vector<uint8_t>;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kLoopSeconds = 3;
constexpr int kFps = devsim::EncodedLoop::kFrameRate;
constexpr uint32_t kBaseSeconds = 1714989600;  // 2024-05-06 10:00:00 on the device's calendar

std::shared_ptr<const devsim::EncodedLoop> loop(bool h265) {
  static std::map<bool, std::shared_ptr<const devsim::EncodedLoop>> loops;
  auto& l = loops[h265];
  if (!l) {
    std::string why;
    l = devsim::EncodedLoop::encode(kWidth, kHeight, 0, h265, kLoopSeconds, &why);
    EXPECT_TRUE(l) << why;
  }
  return l;
}

Bytes frame(uint8_t kind, uint8_t format, int64_t ms, const Bytes& payload, uint8_t frameRate = kFps) {
  wire::FrameHeader h;
  h.streamType = 1;
  h.kind = kind;
  h.format = format;
  h.milliseconds = static_cast<uint16_t>(ms % 1000);
  h.seconds = static_cast<uint32_t>(kBaseSeconds + ms / 1000);
  h.width = kind == wire::kAudioFrame ? 0 : kWidth;
  h.height = kind == wire::kAudioFrame ? 0 : kHeight;
  h.frameRate = frameRate;
  h.payloadLength = static_cast<uint32_t>(payload.size());
  Bytes out(wire::kFrameHeaderSize);
  wire::encodeFrameHeader(out.data(), h);
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

// What a device would send for `count` frames of the loop from `first` on,
// starting at `startMs`: each picture, then (with a law) its 40 ms of sound
// stamped alike.
struct Script {
  bool h265 = false;
  int first = 0;
  int count = kLoopSeconds * kFps;
  int64_t startMs = 0;
  uint8_t audioFormat = 0;  // 0: no sound
  int audioFrom = 0;        // index of the first picture that has sound with it
};

void append(std::vector<Bytes>& frames, const Script& s) {
  const auto l = loop(s.h265);
  const devsim::AudioTone tone(s.audioFormat);
  const uint8_t format = s.h265 ? wire::kH265 : wire::kH264;
  for (int i = 0; i < s.count; ++i) {
    const int index = (s.first + i) % l->size();
    const int64_t ms = s.startMs + i * (1000 / kFps);
    frames.push_back(frame(devsim::EncodedLoop::isKey(index) ? wire::kKeyFrame : wire::kDeltaFrame, format, ms,
                           l->frames[index]));
    if (s.audioFormat != 0 && i >= s.audioFrom) {
      frames.push_back(frame(wire::kAudioFrame, s.audioFormat, ms, tone.frame(i), 0));
    }
  }
}

std::vector<Bytes> frames(const Script& s) {
  std::vector<Bytes> out;
  append(out, s);
  return out;
}

// The output callback's side: the file as it grows, and the calls' kinds.
struct Sink {
  Bytes file;
  std::vector<int> kinds;
  bool contiguous = true;
  int failAfterCalls = -1;  // answer 1 from this call on
  int calls = 0;
  int32_t reenterHandle = -1;  // Destroy this handle from inside the callback
  int reenterResult = -1;

  static int callback(int32_t, int32_t kind, int64_t position, const uint8_t* data, int32_t length, int32_t r1,
                      int64_t r2, int64_t r3, void* context) {
    auto* self = static_cast<Sink*>(context);
    if (self->failAfterCalls >= 0 && self->calls >= self->failAfterCalls) return 1;
    ++self->calls;
    if (position != static_cast<int64_t>(self->file.size()) || length <= 0 || r1 != 0 || r2 != 0 || r3 != 0) {
      self->contiguous = false;
    }
    if (self->reenterHandle >= 0) self->reenterResult = Converter_Destroy(self->reenterHandle);
    self->kinds.push_back(kind);
    self->file.insert(self->file.end(), data, data + length);
    return 0;
  }
};

struct Converted {
  Sink sink;
  std::vector<int> codes;
  Converter_Stats stats{};
  int destroyResult = -1;
};

Converted convert(const std::vector<Bytes>& input) {
  Converted run;
  int32_t handle = -1;
  EXPECT_EQ(Converter_CreateStream(&handle, 0, &Sink::callback, &run.sink), CONVERTER_OK);
  for (const Bytes& f : input) {
    run.codes.push_back(Converter_Input(handle, f.data(), static_cast<int32_t>(f.size())));
  }
  EXPECT_EQ(Converter_GetStats(handle, &run.stats), CONVERTER_OK);
  run.destroyResult = Converter_Destroy(handle);
  return run;
}

// ffprobe's view of a file.
struct Probe {
  bool ok = false;
  std::string videoCodec;
  int width = 0, height = 0;
  int videoFrames = 0;
  bool firstVideoPacketKey = false;
  bool hasAudio = false;
  std::string audioCodec;
  int sampleRate = 0, channels = 0;
  double duration = 0;       // the file's
  double audioDuration = 0;  // the sound track's
  bool videoDtsIncreasing = true;
};

Probe probe(const Bytes& file) {
  Probe p;
  const std::string path = sys::tempFolder() + "streamconverter_test_" + std::to_string(getpid()) + ".mp4";
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  }
  const std::string command =
      "ffprobe -v error -show_streams -show_format -show_packets -count_frames -of json '" + path + "' 2>/dev/null";
  std::string text;
  if (FILE* f = popen(command.c_str(), "r")) {
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    pclose(f);
  }
  std::remove(path.c_str());
  Json::Value root;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) return p;
  p.duration = std::atof(root["format"]["duration"].asCString());
  int videoIndex = -1;
  for (const auto& s : root["streams"]) {
    if (s["codec_type"].asString() == "video") {
      videoIndex = s["index"].asInt();
      p.videoCodec = s["codec_name"].asString();
      p.width = s["width"].asInt();
      p.height = s["height"].asInt();
      p.videoFrames = std::atoi(s["nb_read_frames"].asCString());
    } else if (s["codec_type"].asString() == "audio") {
      p.hasAudio = true;
      p.audioCodec = s["codec_name"].asString() + "/" + s["profile"].asString();
      p.sampleRate = std::atoi(s["sample_rate"].asCString());
      p.channels = s["channels"].asInt();
      p.audioDuration = std::atof(s["duration"].asCString());
    }
  }
  bool firstVideo = true;
  double lastDts = -1;
  for (const auto& packet : root["packets"]) {
    if (packet["stream_index"].asInt() != videoIndex) continue;
    const double dts = std::atof(packet["dts_time"].asCString());
    if (!firstVideo && dts <= lastDts) p.videoDtsIncreasing = false;
    lastDts = dts;
    if (firstVideo) p.firstVideoPacketKey = packet["flags"].asString().starts_with("K");
    firstVideo = false;
  }
  p.ok = videoIndex >= 0;
  return p;
}

// Top-level boxes of the file: type and where each starts.
std::vector<std::pair<std::string, size_t>> boxes(const Bytes& file) {
  std::vector<std::pair<std::string, size_t>> out;
  size_t at = 0;
  while (at + 8 <= file.size()) {
    const size_t size = (size_t{file[at]} << 24) | (size_t{file[at + 1]} << 16) | (size_t{file[at + 2]} << 8) |
                        file[at + 3];
    if (size < 8) break;
    out.emplace_back(std::string(reinterpret_cast<const char*>(&file[at + 4]), 4), at);
    at += size;
  }
  return out;
}

class StreamConverterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { av_log_set_level(AV_LOG_QUIET); }
  void SetUp() override {
    KSTEST_REQUIRE_TOOL("ffprobe");
    ASSERT_EQ(Converter_Initialize(), CONVERTER_OK);
    ASSERT_TRUE(loop(false) && loop(true));
  }
  void TearDown() override { Converter_Release(); }
};

// ---------------------------------------------------------------------------
// Whole files: what a device sends, and what ffprobe reads back.

struct FileCase {
  const char* name;
  std::vector<Script> scripts;  // sent one after another
  const char* aacEncoder;       // KESTROVA_CONVERTER_AAC_ENCODER, null: the default
  const char* codec;
  int frames;
  double duration;
  bool audio;
  int dropped;  // frames dropped before the first key frame or as late sound; -1 unchecked
};

TEST_F(StreamConverterTest, FilesProbeAsTheFramesSent) {
  const uint8_t mu = wire::kG711Ulaw, a = wire::kG711Alaw;
  const FileCase cases[] = {
      {"h264 with mu-law", {{.audioFormat = mu}}, nullptr, "h264", 75, 3.0, true, 0},
      {"h265 with A-law", {{.h265 = true, .audioFormat = a}}, nullptr, "hevc", 75, 3.0, true, 0},
      {"h264 without sound", {{}}, nullptr, "h264", 75, 3.0, false, 0},
      {"h265 without sound", {{.h265 = true}}, nullptr, "hevc", 75, 3.0, false, 0},
      // Joining in the middle of a second: the 15 pictures (and their
      // sound) before the next key frame are dropped.
      {"join mid-GOP", {{.first = 10, .count = 65, .audioFormat = mu}}, nullptr, "h264", 50, 2.0, true, 30},
      // Sound that starts after the file started has no track to go to.
      {"late sound", {{.audioFormat = mu, .audioFrom = 30}}, nullptr, "h264", 75, 3.0, false, 45},
      {"no AAC encoder", {{.audioFormat = mu}}, "no-such-encoder", "h264", 75, 3.0, false, -1},
      // Two recordings 20 minutes apart (10:20 and 10:40): the file lasts
      // as long as both, and the sound ends with the pictures.
      {"gap between recordings",
       {{.count = 50, .startMs = 1'200'000, .audioFormat = mu},
        {.first = 50, .count = 25, .startMs = 2'400'000, .audioFormat = mu}},
       nullptr, "h264", 75, 3.0, true, 0},
      // Half a second of sound lost in the middle: silence fills it, so the
      // sound after it keeps its time and ends with the pictures.
      {"sound lost for half a second",
       {{.count = 25, .audioFormat = mu},
        {.first = 25, .count = 50, .startMs = 1000, .audioFormat = mu, .audioFrom = 12}},
       nullptr, "h264", 75, 3.0, true, 0},
      // The device's clock steps back 5 s and then an hour: times still grow.
      {"times going back",
       {{.count = 25, .startMs = 3'600'000}, {.first = 25, .count = 25, .startMs = 3'595'000},
        {.first = 50, .count = 25, .startMs = 0}},
       nullptr, "h264", 75, 3.0, false, 0},
  };
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.aacEncoder != nullptr) setenv("KESTROVA_CONVERTER_AAC_ENCODER", c.aacEncoder, 1);
    std::vector<Bytes> input;
    for (const Script& s : c.scripts) append(input, s);
    const Converted run = convert(input);
    unsetenv("KESTROVA_CONVERTER_AAC_ENCODER");

    for (int code : run.codes) EXPECT_EQ(code, CONVERTER_OK);
    EXPECT_EQ(run.destroyResult, CONVERTER_OK);
    EXPECT_TRUE(run.sink.contiguous);
    ASSERT_FALSE(run.sink.kinds.empty());
    EXPECT_EQ(run.sink.kinds.front(), 1);
    EXPECT_EQ(run.sink.kinds.back(), 3);
    EXPECT_EQ(run.stats.hasAudioTrack, c.audio ? 1 : 0);
    if (c.dropped >= 0) {
      EXPECT_EQ(run.stats.droppedFrames, c.dropped);
    }

    const Probe p = probe(run.sink.file);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.videoCodec, c.codec);
    EXPECT_EQ(p.width, kWidth);
    EXPECT_EQ(p.height, kHeight);
    EXPECT_EQ(p.videoFrames, c.frames);
    EXPECT_TRUE(p.firstVideoPacketKey);
    EXPECT_TRUE(p.videoDtsIncreasing);
    EXPECT_NEAR(p.duration, c.duration, 0.05);
    EXPECT_EQ(p.hasAudio, c.audio);
    if (c.audio) {
      EXPECT_EQ(p.audioCodec, "aac/LC");
      EXPECT_EQ(p.sampleRate, 8000);
      EXPECT_EQ(p.channels, 1);
      // Whole 1024-sample frames only: at most one frame (128 ms) short.
      EXPECT_LE(p.audioDuration, c.duration + 0.05);
      EXPECT_GE(p.audioDuration, c.duration - 0.2);
    }
  }
}

// A download that stops part-way: the bytes delivered so far, and a file cut
// inside a fragment, still play their complete fragments.
TEST_F(StreamConverterTest, CutFileKeepsItsCompleteFragments) {
  Converted run;
  int32_t handle = -1;
  ASSERT_EQ(Converter_CreateStream(&handle, 0, &Sink::callback, &run.sink), CONVERTER_OK);
  const auto input = frames({.audioFormat = wire::kG711Ulaw});
  // Two seconds and the third second's key frame (with its sound): the
  // key frame closes the second fragment.
  for (size_t i = 0; i < 2 * 2 * kFps + 2; ++i) {
    ASSERT_EQ(Converter_Input(handle, input[i].data(), static_cast<int32_t>(input[i].size())), CONVERTER_OK);
  }
  const Bytes soFar = run.sink.file;
  for (size_t i = 2 * 2 * kFps + 2; i < input.size(); ++i) {
    ASSERT_EQ(Converter_Input(handle, input[i].data(), static_cast<int32_t>(input[i].size())), CONVERTER_OK);
  }
  ASSERT_EQ(Converter_Destroy(handle), CONVERTER_OK);

  const Probe partial = probe(soFar);
  ASSERT_TRUE(partial.ok);
  EXPECT_EQ(partial.videoFrames, 50);
  EXPECT_TRUE(partial.hasAudio);

  const auto top = boxes(run.sink.file);
  std::vector<size_t> moofs;
  for (const auto& [type, at] : top) {
    if (type == "moof") moofs.push_back(at);
  }
  ASSERT_EQ(moofs.size(), 3u);
  EXPECT_EQ(top.front().first, "ftyp");
  EXPECT_EQ(soFar.size(), moofs[2]);  // delivered up to the end of the second fragment
  // Cut inside the third fragment's moof: exactly the first two play; cut
  // inside its mdat: the pictures whose bytes are all there play as well.
  const Bytes inMoof(run.sink.file.begin(), run.sink.file.begin() + static_cast<long>(moofs[2] + 20));
  const Probe p = probe(inMoof);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.videoFrames, 50);
  EXPECT_TRUE(p.firstVideoPacketKey);
  const size_t middle = (moofs[2] + run.sink.file.size()) / 2;
  const Bytes inMdat(run.sink.file.begin(), run.sink.file.begin() + static_cast<long>(middle));
  const Probe q = probe(inMdat);
  ASSERT_TRUE(q.ok);
  EXPECT_GE(q.videoFrames, 50);
  EXPECT_LT(q.videoFrames, 75);
}

// ---------------------------------------------------------------------------
// Hostile frames: each answered with a code, the stream goes on and the
// file stays good.

TEST_F(StreamConverterTest, HostileFramesAreSkipped) {
  const auto good = frames({.count = 50, .audioFormat = wire::kG711Alaw});
  const Bytes& key = good[0];
  auto patched = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    Bytes f = key;
    std::copy(bytes.begin(), bytes.end(), f.begin() + static_cast<long>(at));
    return f;
  };
  auto truncated = [&](size_t n) { return Bytes(key.begin(), key.begin() + static_cast<long>(n)); };
  Bytes sps;  // the key frame cut inside its first parameter set
  {
    Bytes payload(key.begin() + 32, key.begin() + 32 + 8);
    sps = frame(wire::kKeyFrame, wire::kH264, 0, payload);
  }
  const auto h265 = loop(true)->frames[0];
  // A real H.265 key frame with a second sequence parameter set that ends
  // early in front of its slice: the muxer's own reader would take the
  // counts past the end at face value.
  Bytes brokenSps = {0, 0, 0, 1, 0x42, 0x01, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x03, 0x00, 0x90};
  brokenSps.insert(brokenSps.end(), h265.begin(), h265.end());
  std::mt19937 random(7);
  Bytes noise(4000);
  for (auto& b : noise) b = static_cast<uint8_t>(random());

  struct Hostile {
    const char* name;
    Bytes bytes;
    bool beforeKey;  // sent before the first good key frame, else in the middle of the stream
  };
  const Hostile hostile[] = {
      {"header only, no end of data", truncated(31), true},
      {"wrong magic", patched(0, {'X'}), true},
      {"payload length says more", patched(24, {0xFF, 0xFF, 0x00, 0x00}), true},
      {"payload length says less", patched(24, {0x10, 0x00, 0x00, 0x00}), false},
      {"cut short", truncated(key.size() / 2), false},
      {"unknown kind", patched(8, {3}), false},
      {"unknown format", patched(9, {7}), false},
      {"audio kind, video format", patched(8, {wire::kAudioFrame}), false},
      {"milliseconds out of range", patched(12, {0xE8, 0x03}), false},
      {"key frame of noise", frame(wire::kKeyFrame, wire::kH264, 0, noise), true},
      {"parameter set cut short", sps, true},
      {"H.265 key frame said to be H.264", frame(wire::kKeyFrame, wire::kH264, 0, h265), true},
      {"H.265 key frame with a broken parameter set", frame(wire::kKeyFrame, wire::kH265, 0, brokenSps), true},
      {"H.265 in an H.264 stream", frame(wire::kDeltaFrame, wire::kH265, 0, h265), false},
      {"two seconds and a byte of sound", frame(wire::kAudioFrame, wire::kG711Ulaw, 0, Bytes(16001, 0xFF)), false},
      {"noise", noise, false},
  };
  std::vector<Bytes> before, middle;
  for (const Hostile& h : hostile) (h.beforeKey ? before : middle).push_back(h.bytes);

  Converted run;
  int32_t handle = -1;
  ASSERT_EQ(Converter_CreateStream(&handle, 0, &Sink::callback, &run.sink), CONVERTER_OK);
  auto feed = [&](const Bytes& f) { return Converter_Input(handle, f.data(), static_cast<int32_t>(f.size())); };
  size_t index = 0;
  for (const Hostile& h : hostile) {
    if (h.beforeKey) {
      EXPECT_EQ(feed(h.bytes), CONVERTER_ERR_BAD_FRAME) << h.name;
    }
  }
  for (size_t i = 0; i < good.size(); ++i) {
    ASSERT_EQ(feed(good[i]), CONVERTER_OK);
    if (i == 20) {
      for (const Hostile& h : hostile) {
        if (!h.beforeKey) {
          EXPECT_EQ(feed(h.bytes), CONVERTER_ERR_BAD_FRAME) << h.name;
        }
      }
    }
    ++index;
  }
  // End of data means nothing to the file.
  EXPECT_EQ(feed(frame(wire::kRecordedKeyFrame, wire::kH264, 3000, {})), CONVERTER_OK);
  EXPECT_EQ(Converter_Input(handle, nullptr, 100), CONVERTER_ERR_INVALID_PARAMETER);
  EXPECT_EQ(Converter_Input(handle, key.data(), -1), CONVERTER_ERR_INVALID_PARAMETER);
  ASSERT_EQ(Converter_GetStats(handle, &run.stats), CONVERTER_OK);
  EXPECT_EQ(run.stats.droppedFrames, static_cast<int64_t>(std::size(hostile)));
  EXPECT_EQ(run.stats.videoFrames, 50);
  EXPECT_EQ(Converter_Destroy(handle), CONVERTER_OK);

  const Probe p = probe(run.sink.file);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.videoFrames, 50);
  EXPECT_TRUE(p.hasAudio);
  EXPECT_NEAR(p.duration, 2.0, 0.05);
}

// Random damage to real frames: every answer is a known code and nothing
// crashes (the sanitizer build checks the reads).
TEST_F(StreamConverterTest, DamagedFramesAnswerCodes) {
  std::vector<Bytes> input = frames({.count = 50, .audioFormat = wire::kG711Ulaw});
  std::mt19937 random(11);
  for (int round = 0; round < 4; ++round) {
    Converted run;
    int32_t handle = -1;
    ASSERT_EQ(Converter_CreateStream(&handle, 0, &Sink::callback, &run.sink), CONVERTER_OK);
    for (const Bytes& original : input) {
      Bytes f = original;
      const int flips = static_cast<int>(random() % 8);
      for (int i = 0; i < flips; ++i) f[random() % f.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
      if (random() % 5 == 0) f.resize(random() % f.size() + 1);
      const int rc = Converter_Input(handle, f.data(), static_cast<int32_t>(f.size()));
      EXPECT_TRUE(rc == CONVERTER_OK || rc == CONVERTER_ERR_BAD_FRAME || rc == CONVERTER_ERR_MUXER) << rc;
    }
    const int rc = Converter_Destroy(handle);
    EXPECT_TRUE(rc == CONVERTER_OK || rc == CONVERTER_ERR_MUXER) << rc;
    EXPECT_TRUE(run.sink.contiguous);
  }
}

// ---------------------------------------------------------------------------
// The C API's contract.

TEST_F(StreamConverterTest, CallsAnswerTheirCodes) {
  Sink sink;
  int32_t handle = 5;
  EXPECT_EQ(Converter_CreateStream(&handle, 1, &Sink::callback, &sink), CONVERTER_ERR_INVALID_PARAMETER);
  EXPECT_EQ(handle, -1);
  EXPECT_EQ(Converter_CreateStream(&handle, 0, nullptr, &sink), CONVERTER_ERR_INVALID_PARAMETER);
  EXPECT_EQ(Converter_CreateStream(nullptr, 0, &Sink::callback, &sink), CONVERTER_ERR_INVALID_PARAMETER);
  const uint8_t byte = 0;
  EXPECT_EQ(Converter_Input(12345, &byte, 1), CONVERTER_ERR_INVALID_HANDLE);
  EXPECT_EQ(Converter_Destroy(-1), CONVERTER_ERR_INVALID_HANDLE);
  Converter_Stats stats{};
  EXPECT_EQ(Converter_GetStats(-1, &stats), CONVERTER_ERR_INVALID_HANDLE);

  ASSERT_EQ(Converter_CreateStream(&handle, 0, &Sink::callback, &sink), CONVERTER_OK);
  int32_t other = -1;
  ASSERT_EQ(Converter_CreateStream(&other, 0, &Sink::callback, &sink), CONVERTER_OK);
  EXPECT_NE(handle, other);
  EXPECT_EQ(Converter_GetStats(handle, nullptr), CONVERTER_ERR_INVALID_PARAMETER);
  EXPECT_EQ(Converter_Destroy(handle), CONVERTER_OK);  // nothing came: no file
  EXPECT_TRUE(sink.file.empty());
  EXPECT_EQ(Converter_Destroy(handle), CONVERTER_ERR_INVALID_HANDLE);
  EXPECT_EQ(Converter_Input(handle, &byte, 1), CONVERTER_ERR_INVALID_HANDLE);

  // Release finishes what is still open; afterwards nothing works until the
  // next Initialize.
  const auto input = frames({.count = 30});
  for (const Bytes& f : input) ASSERT_EQ(Converter_Input(other, f.data(), static_cast<int32_t>(f.size())), 0);
  EXPECT_EQ(Converter_Release(), CONVERTER_OK);
  EXPECT_EQ(sink.kinds.back(), 3);
  EXPECT_EQ(probe(sink.file).videoFrames, 30);
  EXPECT_EQ(Converter_Input(other, input[0].data(), static_cast<int32_t>(input[0].size())),
            CONVERTER_ERR_NOT_INITIALISED);
  EXPECT_EQ(Converter_CreateStream(&handle, 0, &Sink::callback, &sink), CONVERTER_ERR_NOT_INITIALISED);
  EXPECT_EQ(Converter_Release(), CONVERTER_ERR_NOT_INITIALISED);
  ASSERT_EQ(Converter_Initialize(), CONVERTER_OK);
  EXPECT_EQ(Converter_Initialize(), CONVERTER_OK);
}

// A write that fails stops the file; the stream still closes cleanly.
TEST_F(StreamConverterTest, FailedOutputStopsTheStream) {
  const auto input = frames({.audioFormat = wire::kG711Ulaw});
  for (int failAt : {0, 1, 3}) {
    SCOPED_TRACE(failAt);
    Sink sink;
    sink.failAfterCalls = failAt;
    int32_t handle = -1;
    ASSERT_EQ(Converter_CreateStream(&handle, 0, &Sink::callback, &sink), CONVERTER_OK);
    int firstFailure = -1;
    size_t failedAt = 0;
    for (size_t i = 0; i < input.size(); ++i) {
      const int rc = Converter_Input(handle, input[i].data(), static_cast<int32_t>(input[i].size()));
      if (rc != CONVERTER_OK && firstFailure < 0) {
        firstFailure = rc;
        failedAt = i;
      }
      if (firstFailure >= 0) {
        EXPECT_EQ(rc, CONVERTER_ERR_OUTPUT) << i;
      }
    }
    EXPECT_EQ(firstFailure, CONVERTER_ERR_OUTPUT);
    EXPECT_GT(failedAt, 0u);
    EXPECT_EQ(Converter_Destroy(handle), CONVERTER_ERR_OUTPUT);
    EXPECT_EQ(sink.calls, failAt);
  }
}

// An output callback that destroys its own stream is refused rather than
// deadlocking; the stream goes on.
TEST_F(StreamConverterTest, CallbackCannotDestroyItsOwnStream) {
  Sink sink;
  int32_t handle = -1;
  ASSERT_EQ(Converter_CreateStream(&handle, 0, &Sink::callback, &sink), CONVERTER_OK);
  sink.reenterHandle = handle;
  for (const Bytes& f : frames({.count = 30})) {
    ASSERT_EQ(Converter_Input(handle, f.data(), static_cast<int32_t>(f.size())), CONVERTER_OK);
  }
  EXPECT_EQ(sink.reenterResult, CONVERTER_ERR_INVALID_PARAMETER);
  sink.reenterHandle = -1;
  EXPECT_EQ(Converter_Destroy(handle), CONVERTER_OK);
  EXPECT_EQ(probe(sink.file).videoFrames, 30);
}

// Streams on several threads at once, while another thread reads their
// counters: each file is whole.
TEST_F(StreamConverterTest, StreamsOnThreadsDoNotMix) {
  constexpr int kThreads = 3;
  std::vector<int32_t> handles(kThreads, -1);
  std::vector<Sink> sinks(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(Converter_CreateStream(&handles[t], 0, &Sink::callback, &sinks[t]), CONVERTER_OK);
  }
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done) {
      for (int32_t h : handles) {
        Converter_Stats s{};
        Converter_GetStats(h, &s);
      }
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (const Bytes& f : frames({.h265 = t == 1, .count = 50, .audioFormat = wire::kG711Ulaw})) {
        EXPECT_EQ(Converter_Input(handles[t], f.data(), static_cast<int32_t>(f.size())), CONVERTER_OK);
      }
      EXPECT_EQ(Converter_Destroy(handles[t]), CONVERTER_OK);
    });
  }
  for (auto& w : writers) w.join();
  done = true;
  reader.join();
  for (int t = 0; t < kThreads; ++t) {
    const Probe p = probe(sinks[t].file);
    EXPECT_EQ(p.videoCodec, t == 1 ? "hevc" : "h264");
    EXPECT_EQ(p.videoFrames, 50);
    EXPECT_TRUE(p.hasAudio);
  }
}

}  // namespace
