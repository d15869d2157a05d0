// Downloads end to end: a device entry against the device simulator over
// loopback TCP, driven with the page's download records (start, progress,
// interrupt), the files checked from outside: the device's frames parsed
// back, MP4 files read by ffprobe. MP4 needs the StreamConverter library;
// its cases are skipped in a build without it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/devlink/DevLinkSdk.h"
#include "platform/devlink/WireFormat.h"
#include "platform/ui/WindowSystem.h"
#include "platform/ui/backends/HeadlessDesktop.h"
#include "plugin/device/DeviceEntry.h"
#include "plugin/download/DownloadTask.h"
#include "plugin/files/testing/ScopedTempDir.h"
#include "plugin/session/CDVSDevice.h"
#include "plugin/session/testing/CreateRecord.h"
#include "tests/support/ChildTest.h"
#include "tests/support/Watchdog.h"
#include "tools/devsim/DevSimServer.h"

namespace {

namespace fs = std::filesystem;
namespace wire = devlink::wire;
using namespace std::chrono_literals;
using ksplugs::DeviceEntry;
using ksplugs::testing::CreateRecord;

constexpr int kFps = 25;

// A local time of 2024-05-06 (or another day) as the page's record carries it.
struct LocalTime {
  SystemTime fields{};
  int64_t seconds = 0;
};

LocalTime localTime(int hour, int minute, int second, int day = 6) {
  LocalTime t;
  t.fields.year = 2024;
  t.fields.month = 5;
  t.fields.day = static_cast<uint16_t>(day);
  t.fields.hour = static_cast<uint16_t>(hour);
  t.fields.minute = static_cast<uint16_t>(minute);
  t.fields.second = static_cast<uint16_t>(second);
  struct tm c {};
  c.tm_year = 124;
  c.tm_mon = 4;
  c.tm_mday = day;
  c.tm_hour = hour;
  c.tm_min = minute;
  c.tm_sec = second;
  c.tm_isdst = -1;
  t.seconds = std::mktime(&c);
  return t;
}

// The device's calendar seconds of a time on 2024-05-06 (no zone).
uint32_t deviceSeconds(int hour, int minute, int second) {
  return static_cast<uint32_t>(*wire::calendarSeconds(
      wire::WireTime{2024, 5, 6, static_cast<uint16_t>(hour), static_cast<uint16_t>(minute), static_cast<uint16_t>(second)}));
}

// A download start as the shell builds it.
struct StartRecord {
  DownloadControlParam param{};
  std::array<char, 260> path{};

  StartRecord(uint32_t id, const LocalTime& from, const LocalTime& to, const std::string& file, int format = 1,
              bool mainStream = false) {
    param.operate = 1;
    param.uniqueId = id;
    param.remote = 1;
    param.mainStream = mainStream ? 1 : 0;
    param.channel = 0;
    param.format = format;
    param.recordType = 3;  // the task asks for every type whatever the page says
    param.startTime = from.fields;
    param.endTime = to.fields;
    param.startSeconds = from.seconds;
    param.endSeconds = to.seconds;
    std::memcpy(path.data(), file.data(), std::min(file.size(), path.size()));
    param.path = path.data();
  }
};

// One frame read back from a file of the device's own frames.
struct RawFrame {
  wire::FrameHeader header;
  std::vector<uint8_t> bytes;
};

// Parses a file of whole DevLink frames; false when anything is left over.
bool readRawFrames(const fs::path& file, std::vector<RawFrame>& frames) {
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t at = 0;
  while (at + wire::kFrameHeaderSize <= data.size()) {
    uint32_t payload = 0;
    std::memcpy(&payload, data.data() + at + 24, 4);
    const size_t size = wire::kFrameHeaderSize + payload;
    if (at + size > data.size()) return false;
    RawFrame f;
    f.bytes.assign(data.begin() + at, data.begin() + at + size);
    if (!wire::parseFrame(f.bytes, f.header)) return false;
    frames.push_back(std::move(f));
    at += size;
  }
  return at == data.size();
}

size_t videoCount(const std::vector<RawFrame>& frames) {
  size_t n = 0;
  for (const RawFrame& f : frames) n += f.header.kind != wire::kAudioFrame;
  return n;
}

// What ffprobe says about an MP4 file: its streams, and the video packets
// (count, whether the first is a key frame, and the time they span, which
// does not depend on the file carrying a duration of its own).
struct Probe {
  bool ok = false;
  std::vector<std::map<std::string, std::string>> streams;
  size_t videoPackets = 0;
  bool firstVideoKey = false;
  double videoSeconds = 0;
};

std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

Probe probe(const fs::path& file) {
  Probe p;
  const std::string quoted = "'" + file.string() + "'";
  std::istringstream lines(run("ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,sample_rate,"
                               "channels -of default=nw=0 " + quoted + " 2>/dev/null"));
  std::string line;
  while (std::getline(lines, line)) {
    if (line == "[STREAM]") p.streams.emplace_back();
    const auto eq = line.find('=');
    if (eq != std::string::npos && !p.streams.empty()) p.streams.back()[line.substr(0, eq)] = line.substr(eq + 1);
  }
  std::istringstream packets(run("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,duration_time,"
                                 "flags -of csv=p=0 " + quoted + " 2>/dev/null"));
  double first = 0, last = 0;
  while (std::getline(packets, line)) {
    double pts = 0, duration = 0;
    char flags[8] = {};
    if (std::sscanf(line.c_str(), "%lf,%lf,%7s", &pts, &duration, flags) != 3) continue;
    if (p.videoPackets == 0) {
      first = pts;
      last = pts + duration;
      p.firstVideoKey = flags[0] == 'K';
    }
    first = std::min(first, pts);
    last = std::max(last, pts + duration);
    ++p.videoPackets;
  }
  p.videoSeconds = last - first;
  p.ok = !p.streams.empty();
  return p;
}

const std::map<std::string, std::string>* streamOf(const Probe& p, const std::string& type) {
  for (const auto& s : p.streams) {
    if (s.count("codec_type") && s.at("codec_type") == type) return &s;
  }
  return nullptr;
}

// Polls a device's progress until the download is over: the percents seen
// and the code the query answered last.
struct Polled {
  std::vector<uint32_t> percents;
  int code = 0;
};

Polled pollUntilDone(DeviceEntry& entry, std::chrono::milliseconds limit = 30s,
                     const std::function<void(uint32_t)>& onPercent = nullptr) {
  Polled polled;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    DownloadControlParam query{};
    query.operate = 2;
    query.uniqueId = entry.uniqueId();
    polled.code = entry.downloadControl(query);
    if (polled.code != KS_OK) return polled;
    polled.percents.push_back(query.progress);
    if (onPercent) onPercent(query.progress);
    if (query.progress == ksplugs::DownloadTask::kDone) return polled;
    std::this_thread::sleep_for(2ms);
  }
  return polled;
}

bool monotone(const std::vector<uint32_t>& values) {
  for (size_t i = 1; i < values.size(); ++i) {
    if (values[i] < values[i - 1]) return false;
  }
  return true;
}

int interrupt(DeviceEntry& entry) {
  DownloadControlParam param{};
  param.operate = 3;
  param.uniqueId = entry.uniqueId();
  return entry.downloadControl(param);
}

uint32_t progressOf(DeviceEntry& entry, int* code = nullptr) {
  DownloadControlParam query{};
  query.operate = 2;
  query.uniqueId = entry.uniqueId();
  const int rc = entry.downloadControl(query);
  if (code) *code = rc;
  return query.progress;
}

// Every file below a folder, with its size and content.
std::map<std::string, std::string> snapshotOf(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    std::string content;
    if (e.is_symlink()) {
      content = "-> " + fs::read_symlink(e.path()).string();
    } else if (e.is_regular_file()) {
      std::ifstream in(e.path(), std::ios::binary);
      content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
      content = "<dir>";
    }
    files[e.path().string()] = content;
  }
  return files;
}

class Download : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    av_log_set_level(AV_LOG_QUIET);  // the simulator's encoder
    DLSDK_StartUp();
    DLSDK_SetAttribute(DLSDK_ATTR_COMMAND_TIMEOUT_MS, 3000);
  }

  void SetUp() override {
    auto backend = std::make_unique<ui::HeadlessDesktop>();
    desktop_ = backend.get();
    ASSERT_TRUE(ui::WindowSystem::install(std::move(backend)));
    folder_ = temp_.path();
  }
  void TearDown() override {
    for (auto& entry : entries_) entry->teardown();
    entries_.clear();
    for (auto& server : servers_) server->stop();
    ui::WindowSystem::uninstall();
  }

  static devsim::DevSimOptions options() {
    devsim::DevSimOptions o;
    o.commandPort = 0;
    o.mediaPort = 0;
    o.channels = 2;
    return o;
  }
  devsim::DevSimServer& startDevice(devsim::DevSimOptions o = options()) {
    servers_.push_back(std::make_unique<devsim::DevSimServer>(std::move(o)));
    std::string error;
    EXPECT_TRUE(servers_.back()->start(&error)) << error;
    return *servers_.back();
  }
  DeviceEntry& entryFor(const devsim::DevSimServer& server) {
    const uint32_t id = static_cast<uint32_t>(entries_.size() + 1);
    CreateRecord record("00:11:22:33:44:" + std::to_string(50 + id), server.commandPort(), server.mediaPort(), 2);
    entries_.push_back(std::make_unique<DeviceEntry>());
    EXPECT_EQ(entries_.back()->initialise(id, record.param), KS_OK);
    return *entries_.back();
  }
  std::string file(const std::string& name) const { return (folder_ / name).string(); }

  // A download of 10:00:00-10:00:10 of channel 0 into `name`, run to its end.
  int downloadTen(DeviceEntry& entry, const std::string& name, int format, Polled* polled = nullptr,
                  bool mainStream = false) {
    StartRecord start(entry.uniqueId(), localTime(10, 0, 0), localTime(10, 0, 10), file(name), format, mainStream);
    const int rc = entry.downloadControl(start.param);
    if (rc != KS_OK) return rc;
    Polled result = pollUntilDone(entry);
    if (polled) *polled = result;
    return result.code;
  }

  kstest::Watchdog watchdog_{120s, "Download"};
  ksplugs::testing::ScopedTempDir temp_;
  fs::path folder_;
  ui::HeadlessDesktop* desktop_ = nullptr;
  std::vector<std::unique_ptr<devsim::DevSimServer>> servers_;
  std::vector<std::unique_ptr<DeviceEntry>> entries_;
};

// Every format other than MP4 is the device's own frames: 2 (passed on as
// 3), 3 itself, and formats the page invents. The file holds exactly the
// range's frames, the end second included, beginning with its key frame.
TEST_F(Download, RawDownloadsAreTheDevicesFramesOfTheRange) {
  auto& device = startDevice();
  auto& entry = entryFor(device);
  uint32_t expectedTask = 1;
  for (const int format : {2, 3, 7}) {
    SCOPED_TRACE(format);
    const std::string name = "ten-" + std::to_string(format) + ".prv";
    StartRecord start(entry.uniqueId(), localTime(10, 0, 0), localTime(10, 0, 10), file(name), format);
    ASSERT_EQ(entry.downloadControl(start.param), KS_OK);
    EXPECT_EQ(start.param.taskId, expectedTask++);
    const Polled polled = pollUntilDone(entry);
    ASSERT_EQ(polled.code, KS_OK);
    ASSERT_FALSE(polled.percents.empty());
    EXPECT_GE(polled.percents.front(), 5u);
    EXPECT_EQ(polled.percents.back(), ksplugs::DownloadTask::kDone);
    EXPECT_TRUE(monotone(polled.percents));

    std::vector<RawFrame> frames;
    ASSERT_TRUE(readRawFrames(file(name), frames));
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front().header.kind, wire::kRecordedKeyFrame);
    EXPECT_EQ(frames.front().header.seconds, deviceSeconds(10, 0, 0));
    EXPECT_EQ(videoCount(frames), 11u * kFps);
    size_t audio = 0;
    for (const RawFrame& f : frames) {
      EXPECT_GE(f.header.seconds, deviceSeconds(10, 0, 0));
      EXPECT_LE(f.header.seconds, deviceSeconds(10, 0, 10));
      EXPECT_NE(f.header.payloadLength, 0u);  // the end marker is not written
      audio += f.header.kind == wire::kAudioFrame;
    }
    EXPECT_GT(audio, 0u);
    struct stat info {};
    ASSERT_EQ(::stat(file(name).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
  }
  // The progress of an idle task after its download.
  EXPECT_EQ(progressOf(entry), ksplugs::DownloadTask::kDone);
}

// A range spanning the gap between two recordings holds only recorded
// seconds; a range on a day without recordings answers 4000 and leaves no
// file.
TEST_F(Download, OnlyRecordedSecondsAndNothingForADayWithoutRecordings) {
  devsim::DevSimOptions o = options();
  std::string error;
  o.schedule = *devsim::RecordingSchedule::parse("* 2024-05-06 09:30-10:20\n* 2024-05-06 10:40-12:00\n", &error);
  auto& device = startDevice(o);
  auto& entry = entryFor(device);

  StartRecord gap(entry.uniqueId(), localTime(10, 19, 50), localTime(10, 40, 10), file("gap.prv"), 2);
  ASSERT_EQ(entry.downloadControl(gap.param), KS_OK);
  ASSERT_EQ(pollUntilDone(entry).code, KS_OK);
  std::vector<RawFrame> frames;
  ASSERT_TRUE(readRawFrames(file("gap.prv"), frames));
  EXPECT_EQ(videoCount(frames), (10u + 11u) * kFps);  // 10:19:50-59 and 10:40:00-10
  for (const RawFrame& f : frames) {
    const uint32_t t = f.header.seconds;
    EXPECT_TRUE((t >= deviceSeconds(10, 19, 50) && t <= deviceSeconds(10, 19, 59)) ||
                (t >= deviceSeconds(10, 40, 0) && t <= deviceSeconds(10, 40, 10)))
        << t;
  }

  // A range whose only recorded moment is its last second: its start moves
  // onto its end, and the progress still climbs to 10005.
  StartRecord edge(entry.uniqueId(), localTime(10, 39, 30), localTime(10, 40, 0), file("edge.prv"), 2);
  ASSERT_EQ(entry.downloadControl(edge.param), KS_OK);
  const Polled edgePolled = pollUntilDone(entry);
  ASSERT_EQ(edgePolled.code, KS_OK);
  for (const uint32_t percent : edgePolled.percents) EXPECT_LE(percent, 10005u);
  EXPECT_EQ(edgePolled.percents.back(), 10005u);
  std::vector<RawFrame> edgeFrames;
  ASSERT_TRUE(readRawFrames(file("edge.prv"), edgeFrames));
  EXPECT_EQ(videoCount(edgeFrames), size_t{kFps});

  // A range inside the gap, and a day the device recorded nothing.
  StartRecord inGap(entry.uniqueId(), localTime(10, 25, 0), localTime(10, 30, 0), file("in-gap.prv"), 2);
  EXPECT_EQ(entry.downloadControl(inGap.param), KS_E_NO_RECORDING);
  StartRecord empty(entry.uniqueId(), localTime(10, 0, 0, 7), localTime(11, 0, 0, 7), file("empty.mp4"), 1);
  EXPECT_EQ(entry.downloadControl(empty.param), KS_E_NO_RECORDING);
  EXPECT_FALSE(fs::exists(file("in-gap.prv")));
  EXPECT_FALSE(fs::exists(file("empty.mp4")));
  // The task was given back each time: the next download starts.
  StartRecord again(entry.uniqueId(), localTime(10, 0, 0), localTime(10, 0, 1), file("again.prv"), 2);
  EXPECT_EQ(entry.downloadControl(again.param), KS_OK);
  EXPECT_EQ(pollUntilDone(entry).code, KS_OK);
}

// The converter sees the range's key frame first: the converter is created
// on the first frame and that frame is its first input. Stop destroys the
// stream before the converter, and the converter before the file closes, so
// the trailer the converter writes on destroy ends the file.
namespace fake {
struct Converter {
  Converter_OutputCallback output = nullptr;
  void* context = nullptr;
  std::vector<wire::FrameHeader> inputs;
  int creates = 0;
  int destroys = 0;
  bool inputAfterDestroy = false;
};
Converter* current = nullptr;

int create(int32_t* handle, Converter_OutputCallback output, void* context) {
  ++current->creates;
  current->output = output;
  current->context = context;
  *handle = 7;
  return CONVERTER_OK;
}
int input(int32_t handle, const uint8_t* frame, int32_t length) {
  wire::FrameHeader header;
  if (handle != 7 || !wire::parseFrame(std::span<const uint8_t>(frame, static_cast<size_t>(length)), header)) {
    return CONVERTER_ERR_BAD_FRAME;
  }
  if (current->destroys > 0) current->inputAfterDestroy = true;
  current->inputs.push_back(header);
  const uint8_t one = 'F';
  return current->output(handle, 2, 0, &one, 1, 0, 0, 0, current->context) == 0 ? CONVERTER_OK : CONVERTER_ERR_OUTPUT;
}
int destroy(int32_t handle) {
  ++current->destroys;
  static const uint8_t trailer[] = {'E', 'N', 'D'};
  current->output(handle, 3, 0, trailer, 3, 0, 0, 0, current->context);
  return CONVERTER_OK;
}
const ksplugs::Mp4Converter kTable{&create, &input, &destroy};
}  // namespace fake

TEST_F(Download, TheConverterGetsTheRangesKeyFrameFirstAndWritesItsTrailerLast) {
  auto& device = startDevice();
  CreateRecord record("00:11:22:33:44:60", device.commandPort(), device.mediaPort(), 2);
  WebPlug_NCL::CDVSDevice session;
  session.copyFrom(record.param);
  ASSERT_EQ(session.login(), KS_OK);
  fake::Converter seen;
  fake::current = &seen;
  {
    ksplugs::DownloadTask task(&fake::kTable);
    task.setSession(&session);
    ksplugs::DownloadRequest request;
    request.format = 1;
    request.path = file("fake.mp4");
    const LocalTime from = localTime(10, 0, 0), to = localTime(10, 0, 10);
    request.startTime = from.fields;
    request.endTime = to.fields;
    request.startSeconds = from.seconds;
    request.endSeconds = to.seconds;
    ASSERT_TRUE(task.claim());
    ASSERT_EQ(task.start(request), KS_OK);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (task.running() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(2ms);
    ASSERT_FALSE(task.running());
  }
  fake::current = nullptr;
  session.logout();
  EXPECT_EQ(seen.creates, 1);
  EXPECT_EQ(seen.destroys, 1);
  EXPECT_FALSE(seen.inputAfterDestroy);
  ASSERT_FALSE(seen.inputs.empty());
  EXPECT_EQ(seen.inputs.front().kind, wire::kRecordedKeyFrame);
  EXPECT_EQ(seen.inputs.front().seconds, deviceSeconds(10, 0, 0));
  size_t video = 0;
  for (const auto& h : seen.inputs) video += h.kind != wire::kAudioFrame;
  EXPECT_EQ(video, 11u * kFps);
  std::ifstream in(file("fake.mp4"), std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, std::string(seen.inputs.size(), 'F') + "END");
}

// MP4 files as a player sees them: codec, picture size, frame count,
// duration and sound, for the streams and codecs the device offers.
TEST_F(Download, Mp4FilesHoldTheRangeForEveryStreamAndCodec) {
  struct Case {
    const char* what;
    bool mainStream;
    bool h265;
    bool audio;
    const char* codec;
    const char* width;
    const char* height;
  };
  const Case cases[] = {
      {"sub stream", false, false, true, "h264", "704", "576"},
      {"main stream", true, false, true, "h264", "1280", "720"},
      {"H.265", false, true, true, "hevc", "704", "576"},
      {"without sound", false, false, false, "h264", "704", "576"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    devsim::DevSimOptions o = options();
    if (c.h265) o.h265Channels = {true, true};
    if (!c.audio) o.audioFormat = 0;
    auto& entry = entryFor(startDevice(o));
    const std::string name = std::string("ten-") + std::to_string(entry.uniqueId()) + ".mp4";
    Polled polled;
    ASSERT_EQ(downloadTen(entry, name, 1, &polled, c.mainStream), KS_OK);
    EXPECT_GE(polled.percents.front(), 5u);
    EXPECT_TRUE(monotone(polled.percents));
    const Probe p = probe(file(name));
    ASSERT_TRUE(p.ok);
    const auto* video = streamOf(p, "video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->at("codec_name"), c.codec);
    EXPECT_EQ(video->at("width"), c.width);
    EXPECT_EQ(video->at("height"), c.height);
    EXPECT_EQ(p.videoPackets, 11u * kFps);
    EXPECT_NEAR(p.videoSeconds, 11.0, 0.05);
    EXPECT_TRUE(p.firstVideoKey);
    const auto* audio = streamOf(p, "audio");
    if (c.audio) {
      ASSERT_NE(audio, nullptr);
      EXPECT_EQ(audio->at("codec_name"), "aac");
      EXPECT_EQ(audio->at("sample_rate"), "8000");
      EXPECT_EQ(audio->at("channels"), "1");
    } else {
      EXPECT_EQ(audio, nullptr);
      EXPECT_EQ(p.streams.size(), 1u);
    }
  }
  // Across the gap between two recordings: only what was recorded.
  auto& entry = entryFor(startDevice());
  StartRecord gap(entry.uniqueId(), localTime(10, 19, 50), localTime(10, 40, 10), file("gap.mp4"), 1);
  ASSERT_EQ(entry.downloadControl(gap.param), KS_OK);
  ASSERT_EQ(pollUntilDone(entry).code, KS_OK);
  const Probe p = probe(file("gap.mp4"));
  const auto* video = streamOf(p, "video");
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(p.videoPackets, 21u * kFps);
  EXPECT_NEAR(p.videoSeconds, 21.0, 0.05);
}

// A long download interrupted (twice) keeps a valid, shorter file and reads
// 10005; while it runs a second start answers 1012 and leaves the first alone.
TEST_F(Download, AnInterruptedDownloadKeepsAValidShorterFile) {
  auto& device = startDevice();
  auto& entry = entryFor(device);
  const std::vector<int> formats = {2, 1};
  for (const int format : formats) {
    SCOPED_TRACE(format);
    const std::string name = std::string("long-") + std::to_string(format) + (format == 1 ? ".mp4" : ".prv");
    StartRecord start(entry.uniqueId(), localTime(14, 0, 0), localTime(23, 59, 59), file(name), format);
    ASSERT_EQ(entry.downloadControl(start.param), KS_OK);
    StartRecord second(entry.uniqueId(), localTime(10, 0, 0), localTime(10, 0, 10), file("second.prv"), 2);
    EXPECT_EQ(entry.downloadControl(second.param), KS_E_BUSY);
    EXPECT_FALSE(fs::exists(file("second.prv")));
    // Let some of it arrive, then interrupt twice.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (fs::exists(file(name)) && fs::file_size(file(name)) < 512 * 1024 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(2ms);
    }
    const uint32_t before = progressOf(entry);
    EXPECT_LT(before, 10005u);
    EXPECT_EQ(interrupt(entry), KS_OK);
    EXPECT_EQ(progressOf(entry), ksplugs::DownloadTask::kDone);
    EXPECT_EQ(interrupt(entry), KS_OK);
    EXPECT_EQ(progressOf(entry), ksplugs::DownloadTask::kDone);
    if (format == 1) {
      const Probe p = probe(file(name));
      ASSERT_NE(streamOf(p, "video"), nullptr);
      EXPECT_TRUE(p.firstVideoKey);
      EXPECT_GT(p.videoSeconds, 1.0);
      EXPECT_LT(p.videoSeconds, 10.0 * 3600);
    } else {
      std::vector<RawFrame> frames;
      ASSERT_TRUE(readRawFrames(file(name), frames));  // whole frames only
      EXPECT_GT(videoCount(frames), 0u);
      EXPECT_LT(videoCount(frames), size_t{36000} * kFps);
    }
  }
  // The device goes while a download runs: its teardown interrupts it.
  StartRecord left(entry.uniqueId(), localTime(14, 0, 0), localTime(23, 59, 59), file("left.prv"), 2);
  ASSERT_EQ(entry.downloadControl(left.param), KS_OK);
  entry.teardown();
  entries_.clear();
  std::vector<RawFrame> frames;
  EXPECT_TRUE(readRawFrames(file("left.prv"), frames));
}

// The device dies in the middle: the download stops and its progress query
// answers the lost connection until the next start, which works once the
// device is back and the session logged in again.
TEST_F(Download, ALostDeviceStopsTheDownloadWithTheConnectionCode) {
  auto& device = startDevice();
  const uint16_t commandPort = device.commandPort(), mediaPort = device.mediaPort();
  auto& entry = entryFor(device);
  StartRecord start(entry.uniqueId(), localTime(14, 0, 0), localTime(23, 59, 59), file("lost.prv"), 2);
  ASSERT_EQ(entry.downloadControl(start.param), KS_OK);
  const auto arrived = std::chrono::steady_clock::now() + 10s;
  while (fs::file_size(file("lost.prv")) < 64 * 1024 && std::chrono::steady_clock::now() < arrived) {
    std::this_thread::sleep_for(2ms);
  }
  device.stop();
  const auto stopped = std::chrono::steady_clock::now();
  const Polled polled = pollUntilDone(entry, 20s);
  EXPECT_EQ(polled.code, KS_E_CONNECT);
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, 20s);
  int code = 0;
  progressOf(entry, &code);
  EXPECT_EQ(code, KS_E_CONNECT);  // kept until the next start
  std::vector<RawFrame> frames;
  EXPECT_TRUE(readRawFrames(file("lost.prv"), frames));

  // The device comes back on its ports: the next start logs in afresh.
  devsim::DevSimOptions o = options();
  o.commandPort = commandPort;
  o.mediaPort = mediaPort;
  startDevice(o);
  Polled again;
  ASSERT_EQ(downloadTen(entry, "after.prv", 2, &again), KS_OK);
  EXPECT_EQ(again.percents.back(), ksplugs::DownloadTask::kDone);
}

// Two devices download at once, each into its own file.
TEST_F(Download, TwoDevicesDownloadAtOnce) {
  auto& first = entryFor(startDevice());
  auto& second = entryFor(startDevice());
  StartRecord a(first.uniqueId(), localTime(10, 0, 0), localTime(10, 0, 30), file("a.prv"), 2);
  StartRecord b(second.uniqueId(), localTime(11, 0, 0), localTime(11, 0, 20), file("b.prv"), 2);
  ASSERT_EQ(first.downloadControl(a.param), KS_OK);
  ASSERT_EQ(second.downloadControl(b.param), KS_OK);
  EXPECT_EQ(a.param.taskId, 1u);  // task ids count per device
  EXPECT_EQ(b.param.taskId, 1u);
  EXPECT_EQ(pollUntilDone(first).code, KS_OK);
  EXPECT_EQ(pollUntilDone(second).code, KS_OK);
  std::vector<RawFrame> fa, fb;
  ASSERT_TRUE(readRawFrames(file("a.prv"), fa));
  ASSERT_TRUE(readRawFrames(file("b.prv"), fb));
  EXPECT_EQ(videoCount(fa), 31u * kFps);
  EXPECT_EQ(videoCount(fb), 21u * kFps);
}

// A page may only have a new file made in an existing folder, named for
// its format; everything else is refused with its code and nothing on the
// disk changes.
TEST_F(Download, APagesPathNeverTouchesAnExistingFile) {
  auto& entry = entryFor(startDevice());
  fs::create_directories(folder_ / "sub");
  std::ofstream(folder_ / "existing.prv") << "keep me";
  std::ofstream(folder_ / "target.txt") << "precious";
  fs::create_symlink(folder_ / "target.txt", folder_ / "link.prv");
  fs::create_symlink(folder_ / "nowhere.txt", folder_ / "dangling.prv");
  const std::map<std::string, std::string> before = snapshotOf(folder_);
  const std::string base = folder_.string();
  struct Case {
    const char* what;
    std::string path;
    int format;
    int code;
  };
  const Case cases[] = {
      {"relative", "clip.prv", 2, KS_E_FILE},
      {"dot-dot", base + "/sub/../clip.prv", 2, KS_E_FILE},
      {"dot", base + "/./clip.prv", 2, KS_E_FILE},
      {"mp4 name for frames", base + "/clip.mp4", 2, KS_E_FILE},
      {"no extension", base + "/clip", 2, KS_E_FILE},
      {"bare extension", base + "/.prv", 2, KS_E_FILE},
      {"existing file", base + "/existing.prv", 2, KS_E_FILE},
      {"link to a file", base + "/link.prv", 2, KS_E_FILE},
      {"dangling link", base + "/dangling.prv", 2, KS_E_FILE},
      {"missing folder", base + "/missing/clip.prv", 2, KS_E_FILE},
      {"a folder", base + "/sub", 2, KS_E_FILE},
      {"too long for the buffer", base + "/" + std::string(300, 'a') + ".prv", 2, KS_E_INVALID},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StartRecord start(entry.uniqueId(), localTime(10, 0, 0), localTime(10, 0, 1), c.path, c.format);
    EXPECT_EQ(entry.downloadControl(start.param), c.code);
  }
  EXPECT_EQ(snapshotOf(folder_), before);
  // Refusals gave the task back: a good path works.
  StartRecord good(entry.uniqueId(), localTime(10, 0, 0), localTime(10, 0, 1), base + "/sub/clip.prv", 2);
  ASSERT_EQ(entry.downloadControl(good.param), KS_OK);
  EXPECT_EQ(pollUntilDone(entry).code, KS_OK);
}

// An empty path asks the user. A cancelled dialog answers 1017 before any
// login and uses no task id; a chosen file may replace one (the dialog asked).
TEST_F(Download, AnEmptyPathAsksTheUserWhoMayCancel) {
  auto& device = startDevice();
  auto& entry = entryFor(device);
  StartRecord cancelled(entry.uniqueId(), localTime(10, 0, 0), localTime(10, 0, 2), "", 2);
  EXPECT_EQ(entry.downloadControl(cancelled.param), KS_E_CANCELLED);
  ASSERT_TRUE(desktop_->lastFileDialog().has_value());
  EXPECT_EQ(desktop_->lastFileDialog()->filter, "prv (*.prv)|*.prv");
  EXPECT_EQ(desktop_->lastFileDialog()->defaultExtension, "prv");
  EXPECT_EQ(desktop_->lastFileDialog()->owner, 0u);  // no dock windows
  EXPECT_EQ(entry.session().loginHandle(), -1);
  EXPECT_EQ(device.sessionCount(), 0);

  const fs::path chosen = folder_ / "chosen.prv";
  std::ofstream(chosen) << "the user agreed to replace this";
  desktop_->setFileDialogAnswer([&](const ui::SaveDialogRequest&) { return chosen.string(); });
  StartRecord asked(entry.uniqueId(), localTime(10, 0, 0), localTime(10, 0, 2), "", 2);
  ASSERT_EQ(entry.downloadControl(asked.param), KS_OK);
  EXPECT_EQ(asked.param.taskId, 1u);  // the cancelled start took none
  ASSERT_EQ(pollUntilDone(entry).code, KS_OK);
  std::vector<RawFrame> frames;
  ASSERT_TRUE(readRawFrames(chosen, frames));
  EXPECT_EQ(videoCount(frames), 3u * kFps);

  // The task is taken while the dialog is up: a start from another page
  // meanwhile is busy, and a cancel frees the task again.
  int startDuringDialog = 0;
  desktop_->setFileDialogAnswer([&](const ui::SaveDialogRequest&) -> std::optional<std::string> {
    StartRecord other(entry.uniqueId(), localTime(10, 0, 0), localTime(10, 0, 2), file("other.prv"), 2);
    startDuringDialog = entry.downloadControl(other.param);
    return std::nullopt;
  });
  StartRecord held(entry.uniqueId(), localTime(10, 0, 0), localTime(10, 0, 2), "", 2);
  EXPECT_EQ(entry.downloadControl(held.param), KS_E_CANCELLED);
  EXPECT_EQ(startDuringDialog, KS_E_BUSY);
  EXPECT_FALSE(fs::exists(file("other.prv")));

  // A device that refuses the stream: the file the user chose to replace
  // is left as it was.
  devsim::DevSimOptions noStreams = options();
  noStreams.maxStreams = 0;
  auto& full = entryFor(startDevice(noStreams));
  std::ofstream(chosen, std::ios::trunc) << "still the user's";
  desktop_->setFileDialogAnswer([&](const ui::SaveDialogRequest&) { return chosen.string(); });
  StartRecord refused(full.uniqueId(), localTime(10, 0, 0), localTime(10, 0, 2), "", 2);
  EXPECT_EQ(full.downloadControl(refused.param), KS_E_SDK_3008);
  std::ifstream kept(chosen);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>()), "still the user's");

  {
    StartRecord mp4(entry.uniqueId(), localTime(10, 0, 0), localTime(10, 0, 2), "", 1);
    desktop_->setFileDialogAnswer([](const ui::SaveDialogRequest&) { return std::nullopt; });
    EXPECT_EQ(entry.downloadControl(mp4.param), KS_E_CANCELLED);
    EXPECT_EQ(desktop_->lastFileDialog()->filter, "mp4 (*.mp4)|*.mp4");
  }
}

// The range is read as local time on both sides, so the same page request
// gives the same file whatever the zone. Each zone runs in a child process
// of this test (the zone is read once per process by the C library).
class ZoneStory : public Download {
  void TestBody() override;
};

void ZoneStory::TestBody() {
  auto& entry = entryFor(startDevice());
  ASSERT_EQ(downloadTen(entry, "zone.prv", 2), KS_OK);
  std::vector<RawFrame> frames;
  ASSERT_TRUE(readRawFrames(file("zone.prv"), frames));
  EXPECT_EQ(videoCount(frames), 11u * kFps);
  EXPECT_EQ(frames.front().header.seconds, deviceSeconds(10, 0, 0));
}

// The disk refuses more than 256 KiB (a file size limit, its signal
// ignored): the first failed write stops the download, whose progress query
// answers 3006 until the next start.
class FullDiskStory : public Download {
  void TestBody() override;
};

void FullDiskStory::TestBody() {
  ::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{256 * 1024, 256 * 1024};
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  auto& entry = entryFor(startDevice());
  StartRecord start(entry.uniqueId(), localTime(14, 0, 0), localTime(15, 0, 0), file("full.prv"), 2);
  ASSERT_EQ(entry.downloadControl(start.param), KS_OK);
  EXPECT_EQ(pollUntilDone(entry).code, KS_E_FILE);
  int code = 0;
  progressOf(entry, &code);
  EXPECT_EQ(code, KS_E_FILE);
  EXPECT_LE(fs::file_size(file("full.prv")), 256u * 1024);
  StartRecord next(entry.uniqueId(), localTime(10, 0, 0), localTime(10, 0, 0), file("next.prv"), 2);
  next.param.endSeconds = next.param.startSeconds + 1;
  next.param.endTime.second = 1;
  ASSERT_EQ(entry.downloadControl(next.param), KS_OK);
  EXPECT_EQ(pollUntilDone(entry).code, KS_OK);  // two seconds fit
}

// The two stories above exist only in the child processes that run them.
const bool kChildStories = [] {
  if (!kstest::inChildTest()) return false;
  ::testing::RegisterTest("DownloadChild", "TenSecondsUnderTheZoneOfThisProcess", nullptr, nullptr, __FILE__,
                          __LINE__, []() -> Download* { return new ZoneStory; });
  ::testing::RegisterTest("DownloadChild", "AFailedWriteStopsTheDownload", nullptr, nullptr, __FILE__, __LINE__,
                          []() -> Download* { return new FullDiskStory; });
  return true;
}();

// Runs one child story of this file in a child process with `env` added.
void runInChild(const std::string& test, const std::vector<std::string>& env = {}) {
  const int status = kstest::runTestsInChild("DownloadChild." + test, env);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(DownloadLimits, AFailedWriteStopsTheDownload) {
  kstest::Watchdog watchdog(60s, "DownloadLimits");
  runInChild("AFailedWriteStopsTheDownload");
}

TEST(DownloadZones, TheSameFramesInEveryTimeZone) {
  kstest::Watchdog watchdog(90s, "DownloadZones");
  for (const char* zone : {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "IST-5:30"}) {
    SCOPED_TRACE(zone);
    runInChild("TenSecondsUnderTheZoneOfThisProcess", {std::string("TZ=") + zone});
  }
}

}  // namespace
