// The recording queue with a fake MP4 writer that copies each frame's bytes
// to the file: when files start and end, what is announced, what is deleted,
// and that every ended job is finalised exactly once.
#include "plugin/recording/RecordingQueue.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ui/testing/UiTestSupport.h"
#include "plugin/api/ksplugs.h"
#include "plugin/files/testing/ScopedTempDir.h"

namespace ksplugs {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int32_t kHandle = 7;
constexpr uint32_t kT0 = 1'700'000'000;

struct WriterLog {
  std::atomic<int> opens{0};
  std::atomic<int> finishes{0};
  std::atomic<int> failAt{0};  // the input that fails, counted from 1; 0 never
};

// Writes every frame it is fed as it is, and "END" when finished.
class CopyWriter : public Mp4Writer {
 public:
  explicit CopyWriter(std::shared_ptr<WriterLog> log) : log_(std::move(log)) {}
  bool open(Output output) override {
    ++log_->opens;
    output_ = std::move(output);
    return true;
  }
  // As the converter after a failed write: nothing more is written.
  bool input(const uint8_t* frame, int32_t length) override {
    if (failed_ || ++inputs_ == log_->failAt.load()) {
      failed_ = true;
      return false;
    }
    return output_(frame, static_cast<size_t>(length));
  }
  void finish() override {
    ++log_->finishes;
    if (!failed_) output_(reinterpret_cast<const uint8_t*>("END"), 3);
  }

 private:
  std::shared_ptr<WriterLog> log_;
  Output output_;
  int inputs_ = 0;
  bool failed_ = false;
};

class RecordingQueueTest : public ::testing::Test {
 protected:
  RecordingQueueTest() : video_(temp_.path() + "/Video/") {}

  std::unique_ptr<RecordingQueue> makeQueue() {
    RecordingQueue::Options options;
    options.writers = [log = log_] { return std::make_unique<CopyWriter>(log); };
    options.counter = std::make_shared<FileCounter>();
    options.clock = [] { return sys::CalendarTime{2024, 5, 0, 6, 7, 8, 9}; };
    options.videoFolder = [this] { return video_; };
    options.announce = [this](ui::HWND cell, const std::string& path) {
      std::lock_guard guard(mutex_);
      announced_.push_back({cell, path});
    };
    options.interval = 20ms;
    return std::make_unique<RecordingQueue>(std::move(options));
  }

  static RecordingTarget target(int32_t handle = kHandle, int channel = 0, std::string mac = "00-11-22-33-44-55") {
    return RecordingTarget{channel, handle, std::move(mac), static_cast<ui::HWND>(100 + handle)};
  }

  // A frame whose bytes are its kind and a sequence letter.
  DLSDK_MediaFrame frame(int kind, uint32_t time, char tag, int format = 2) {
    auto& bytes = storage_.emplace_back(std::vector<uint8_t>{static_cast<uint8_t>(kind), static_cast<uint8_t>(tag)});
    DLSDK_MediaFrame f{};
    f.data = bytes.data();
    f.length = static_cast<int32_t>(bytes.size());
    f.frameType = kind;
    f.formatCode = format;
    f.timeStamp = time;
    return f;
  }

  std::vector<std::pair<ui::HWND, std::string>> announced() {
    std::lock_guard guard(mutex_);
    return announced_;
  }

  static std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::vector<std::string> filesUnder(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
      if (it->is_regular_file()) files.push_back(it->path().string());
    return files;
  }

  ui::test::Watchdog watchdog_{30s, "recording queue"};
  testing::ScopedTempDir temp_;
  const std::string video_;
  std::shared_ptr<WriterLog> log_ = std::make_shared<WriterLog>();
  std::mutex mutex_;
  std::vector<std::pair<ui::HWND, std::string>> announced_;  // mutex_
  std::deque<std::vector<uint8_t>> storage_;
};

TEST_F(RecordingQueueTest, FileStartsAtTheFirstKeyFrameInTheChannelFolderAndIsAnnouncedOnStop) {
  auto queue = makeQueue();
  ASSERT_EQ(queue->start(target(kHandle, 3), 900), KS_OK);
  queue->onFrame(kHandle, frame(DLSDK_FRAME_DELTA, kT0, 'a'), 0, 0);
  queue->onFrame(kHandle, frame(DLSDK_FRAME_AUDIO, kT0, 'b', 14), 0, 0);
  queue->onFrame(99, frame(DLSDK_FRAME_KEY, kT0, 'x'), 0, 0);  // another stream
  EXPECT_TRUE(filesUnder(video_).empty());
  queue->onFrame(kHandle, frame(DLSDK_FRAME_KEY, kT0, 'k'), 640, 480);
  queue->onFrame(kHandle, frame(DLSDK_FRAME_DELTA, kT0 + 1, 'd'), 640, 480);
  queue->onFrame(kHandle, frame(144, kT0 + 1, 'p'), 640, 480);  // private data: never written

  const std::string folder = video_ + "00-11-22-33-44-55/3";
  const std::string path = folder + "/1_2024_05_06_07_08_09_1.mp4";
  std::string answered;
  EXPECT_EQ(queue->stop(kHandle, true, &answered), KS_OK);
  EXPECT_EQ(answered, path);
  ASSERT_TRUE(queue->waitIdle(5s));
  EXPECT_EQ(contents(path), std::string("\x01k\x02" "dEND", 7));
  ASSERT_EQ(announced().size(), 1u);
  EXPECT_EQ(announced()[0].first, static_cast<ui::HWND>(100 + kHandle));
  EXPECT_EQ(announced()[0].second, path);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(queue->jobCount(), 0u);
}

// Each way a file ends by itself: it is announced once with what was
// written before the ending frame, and no further file starts until the
// page stops and starts again.
TEST_F(RecordingQueueTest, AFileEndsByItselfOnceAndTheNextStartsOnlyAfterStopAndStart) {
  struct Case {
    const char* name;
    int kind;  // the frame after a key frame and an audio frame
    uint32_t time;
    int format;
    int width;
    int failAt;        // the writer's failing input, 0 none
    std::string file;  // what the file holds in the end; empty: no file
  };
  const std::string head("\x01k\x08" "a", 4);
  const std::vector<Case> cases = {
      {"duration over", DLSDK_FRAME_DELTA, kT0 + 901, 2, 640, 0, head + "END"},
      // Written; the next frame, one second later, ends the file.
      {"duration reached", DLSDK_FRAME_DELTA, kT0 + 900, 2, 640, 0, head + "\x02z" + "END"},
      {"video format", DLSDK_FRAME_DELTA, kT0 + 1, 3, 640, 0, head + "END"},
      {"audio format", DLSDK_FRAME_AUDIO, kT0 + 1, 15, 640, 0, head + "END"},
      {"picture size", DLSDK_FRAME_KEY, kT0 + 1, 2, 1280, 0, head + "END"},
      // The writer fails at its n-th write: the file keeps what came before.
      {"first write fails", DLSDK_FRAME_DELTA, kT0 + 1, 2, 640, 1, ""},
      {"second write fails", DLSDK_FRAME_DELTA, kT0 + 1, 2, 640, 2, "\x01k"},
      {"third write fails", DLSDK_FRAME_DELTA, kT0 + 1, 2, 640, 3, head},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log_ = std::make_shared<WriterLog>();
    log_->failAt = c.failAt;
    {
      std::lock_guard guard(mutex_);
      announced_.clear();
    }
    fs::remove_all(video_);
    auto queue = makeQueue();
    ASSERT_EQ(queue->start(target(), 900), KS_OK);
    queue->onFrame(kHandle, frame(DLSDK_FRAME_KEY, kT0, 'k'), 640, 480);
    queue->onFrame(kHandle, frame(DLSDK_FRAME_AUDIO, kT0, 'a', 14), 640, 480);
    queue->onFrame(kHandle, frame(c.kind, c.time, 'z', c.format), c.width, 480);
    // Later frames, key frames too, start nothing while the cell still records.
    queue->onFrame(kHandle, frame(DLSDK_FRAME_KEY, c.time + 1, 'n'), 640, 480);
    queue->onFrame(kHandle, frame(DLSDK_FRAME_KEY, c.time + 2, 'n'), 640, 480);
    ASSERT_TRUE(queue->waitIdle(5s));
    const std::string first = video_ + "00-11-22-33-44-55/0/1_2024_05_06_07_08_09_1.mp4";
    const size_t files = c.file.empty() ? 0u : 1u;
    ASSERT_EQ(announced().size(), files);
    EXPECT_EQ(filesUnder(video_).size(), files);
    if (files == 1) {
      EXPECT_EQ(contents(first), c.file);
    }
    EXPECT_EQ(log_->opens, 1);
    EXPECT_EQ(log_->finishes, 1);
    std::string answered;
    queue->stop(kHandle, true, &answered);
    EXPECT_EQ(answered, c.file.empty() ? "" : first);
    ASSERT_TRUE(queue->waitIdle(5s));
    // Stop and start: a new file at the next key frame.
    log_->failAt = 0;
    ASSERT_EQ(queue->start(target(), 900), KS_OK);
    queue->onFrame(kHandle, frame(DLSDK_FRAME_KEY, c.time + 3, 'm'), 640, 480);
    queue->stop(kHandle, true, &answered);
    EXPECT_EQ(answered, video_ + "00-11-22-33-44-55/0/1_2024_05_06_07_08_09_2.mp4");
    ASSERT_TRUE(queue->waitIdle(5s));
    EXPECT_EQ(announced().size(), files + 1);
  }
}

TEST_F(RecordingQueueTest, StartAndStopConsiderRunningJobsOnly) {
  auto queue = makeQueue();
  ASSERT_EQ(queue->start(target(), 900), KS_OK);
  ASSERT_EQ(queue->start(target(), 900), KS_OK);  // twice: one job
  EXPECT_EQ(queue->jobCount(), 1u);
  queue->onFrame(kHandle, frame(DLSDK_FRAME_KEY, kT0, 'k'), 640, 480);
  queue->onFrame(kHandle, frame(DLSDK_FRAME_DELTA, kT0 + 901, 'd'), 640, 480);  // ends by duration
  // The cell closes before the worker came by: the ended file stays
  // announced, a stop picks no ended job.
  queue->stop(kHandle, false);
  // Start right after a stop records anew, before the worker removed the old job.
  ASSERT_EQ(queue->start(target(), 900), KS_OK);
  queue->onFrame(kHandle, frame(DLSDK_FRAME_KEY, kT0 + 902, 'k'), 640, 480);
  std::string answered;
  queue->stop(kHandle, true, &answered);
  EXPECT_EQ(answered, video_ + "00-11-22-33-44-55/0/1_2024_05_06_07_08_09_2.mp4");
  ASSERT_TRUE(queue->waitIdle(5s));
  EXPECT_EQ(announced().size(), 2u);
  EXPECT_EQ(filesUnder(video_).size(), 2u);
}

TEST_F(RecordingQueueTest, AnUnannouncedStopDeletesOnlyItsOwnFile) {
  auto queue = makeQueue();
  const std::string device = video_ + "00-11-22-33-44-55";
  ASSERT_EQ(queue->start(target(1, 0), 900), KS_OK);
  ASSERT_EQ(queue->start(target(2, 1), 900), KS_OK);
  ASSERT_EQ(queue->start(target(3, 2), 900), KS_OK);  // never sees a key frame
  queue->onFrame(1, frame(DLSDK_FRAME_KEY, kT0, 'k'), 640, 480);
  queue->onFrame(2, frame(DLSDK_FRAME_KEY, kT0, 'k'), 640, 480);
  fs::create_directories(device + "/0");
  std::ofstream(device + "/0/older.mp4") << "older";
  queue->stop(1, false);
  queue->stop(3, false);
  ASSERT_TRUE(queue->waitIdle(5s));
  EXPECT_FALSE(fs::exists(device + "/0/1_2024_05_06_07_08_09_1.mp4"));
  EXPECT_EQ(contents(device + "/0/older.mp4"), "older");  // the channel folder is not empty: kept
  queue->stop(2, true);
  ASSERT_TRUE(queue->waitIdle(5s));
  EXPECT_TRUE(fs::exists(device + "/1/1_2024_05_06_07_08_09_2.mp4"));
  ASSERT_EQ(announced().size(), 1u);
  EXPECT_EQ(announced()[0].second, device + "/1/1_2024_05_06_07_08_09_2.mp4");

  // Alone in its channel folder, the folder goes with the file.
  ASSERT_EQ(queue->start(target(4, 5), 900), KS_OK);
  queue->onFrame(4, frame(DLSDK_FRAME_KEY, kT0, 'k'), 640, 480);
  queue->stop(4, false);
  ASSERT_TRUE(queue->waitIdle(5s));
  EXPECT_FALSE(fs::exists(device + "/5"));
  EXPECT_TRUE(fs::exists(device + "/1"));
}

// Streams that end, stop and start again on threads of their own while the
// worker runs: every file is finalised and announced exactly once.
TEST_F(RecordingQueueTest, EveryEndedJobIsFinalisedOnceUnderLoad) {
  auto queue = makeQueue();
  constexpr int kStreams = 6;
  constexpr int kRounds = 40;
  std::vector<std::thread> streams;
  for (int s = 0; s < kStreams; ++s) {
    streams.emplace_back([&, s] {
      const int32_t handle = 200 + s;
      std::deque<std::vector<uint8_t>> bytes;
      auto make = [&](int kind, uint32_t time) {
        auto& b = bytes.emplace_back(std::vector<uint8_t>{static_cast<uint8_t>(kind)});
        DLSDK_MediaFrame f{};
        f.data = b.data();
        f.length = 1;
        f.frameType = kind;
        f.formatCode = 2;
        f.timeStamp = time;
        return f;
      };
      for (int r = 0; r < kRounds; ++r) {
        queue->start(target(handle, s), 1);
        queue->onFrame(handle, make(DLSDK_FRAME_KEY, kT0), 640, 480);
        if (r % 2 == 0) queue->onFrame(handle, make(DLSDK_FRAME_DELTA, kT0 + 5), 640, 480);  // ends by itself
        queue->stop(handle, true);
      }
    });
  }
  for (auto& t : streams) t.join();
  ASSERT_TRUE(queue->waitIdle(10s));
  EXPECT_EQ(log_->opens, kStreams * kRounds);
  EXPECT_EQ(log_->finishes, kStreams * kRounds);
  EXPECT_EQ(announced().size(), static_cast<size_t>(kStreams * kRounds));
  EXPECT_EQ(filesUnder(video_).size(), static_cast<size_t>(kStreams * kRounds));
  EXPECT_EQ(queue->jobCount(), 0u);
}

TEST_F(RecordingQueueTest, ShutdownFinalisesEndedJobsAndTheEndKeepsRunningFiles) {
  auto queue = makeQueue();
  ASSERT_EQ(queue->start(target(1, 0), 900), KS_OK);
  ASSERT_EQ(queue->start(target(2, 1), 900), KS_OK);
  queue->onFrame(1, frame(DLSDK_FRAME_KEY, kT0, 'k'), 640, 480);
  queue->onFrame(2, frame(DLSDK_FRAME_KEY, kT0, 'k'), 640, 480);
  queue->stop(1, true);
  queue->shutdown();
  EXPECT_EQ(announced().size(), 1u);
  queue.reset();  // the running job's file is closed, with its trailer, unannounced
  EXPECT_EQ(announced().size(), 1u);
  EXPECT_EQ(log_->finishes, 2);
  EXPECT_EQ(contents(video_ + "00-11-22-33-44-55/1/1_2024_05_06_07_08_09_2.mp4"), std::string("\x01kEND", 5));
}

}  // namespace
}  // namespace ksplugs
