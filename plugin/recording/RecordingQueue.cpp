#include "plugin/recording/RecordingQueue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <utility>

#include "plugin/api/ksplugs.h"
#include "plugin/files/WorkFolders.h"

namespace ksplugs {

namespace {

// Frame kinds that start a file: key frames, recorded and forced ones.
bool startsFile(int kind) {
  return kind == DLSDK_FRAME_KEY || kind == DLSDK_FRAME_RECORDED_KEY || kind == DLSDK_FRAME_FORCED_KEY;
}

// Frame kinds that are never written: padding, device information and
// private data of the device.
bool skipped(int kind) {
  switch (kind) {
    case 0:
    case 128:
    case 129:
    case 130:
    case 134:
    case 144:
    case 192:
      return true;
    default:
      return false;
  }
}

bool writeAll(int fd, const uint8_t* data, size_t length) {
  while (length > 0) {
    const ssize_t wrote = ::write(fd, data, length);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (wrote == 0) return false;
    data += wrote;
    length -= static_cast<size_t>(wrote);
  }
  return true;
}

}  // namespace

struct RecordingQueue::Job {
  // Guarded by the queue's lock_; read without it once the worker took the
  // job out of the list.
  bool finished = false;
  bool announce = true;
  const int32_t streamHandle;
  const int channel;
  const uint32_t duration;
  const std::string macText;
  const ui::HWND cell;

  Job(const RecordingTarget& target, uint32_t durationSeconds)
      : streamHandle(target.streamHandle),
        channel(target.channel),
        duration(durationSeconds),
        macText(target.macText),
        cell(target.cell) {}

  // Everything below is guarded by `write`: the stream's media thread feeds
  // the file under it, and the worker finalises under it, so one stream's
  // file writing never holds up the frames of the others.
  std::mutex write;
  bool finalised = false;
  std::unique_ptr<Mp4Writer> writer;
  int width = 0;  // picture size seen by the last written frame; 0 at first
  int height = 0;
  int videoFormat = -1;  // until the file starts
  int audioFormat = -1;  // until the first audio frame
  int fd = -1;
  int64_t startTime = 0;      // seconds, from the first key frame's time stamp
  std::string channelFolder;  // empty until a file was created
  std::string path;           // empty until a file was created
  bool writeFailed = false;   // the first failed write ends the file
  int64_t written = 0;        // bytes in the file
};

RecordingQueue::RecordingQueue(Options options) : options_(std::move(options)) {
  worker_ = std::thread([this] { worker(); });
}

RecordingQueue::~RecordingQueue() {
  shutdown();
  // Jobs still running belong to streams of a library that is going away:
  // their files are closed with what they hold, not announced.
  std::vector<std::shared_ptr<Job>> left;
  {
    std::lock_guard guard(lock_);
    left.swap(jobs_);
  }
  for (auto& job : left) {
    std::lock_guard write(job->write);
    job->finalised = true;
    if (job->writer) job->writer->finish();
    job->writer.reset();
    if (job->fd != -1) ::close(job->fd);
    job->fd = -1;
  }
}

void RecordingQueue::keepUnannouncedFiles() { keepFiles_.store(true, std::memory_order_release); }

void RecordingQueue::shutdown() {
  {
    std::lock_guard guard(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  std::call_once(joined_, [this] {
    if (worker_.joinable()) worker_.join();
  });
}

std::string RecordingQueue::deviceFolder(const std::string& macText) const {
  if (!options_.videoFolder) return WorkFolders::deviceVideoFolder(macText);
  if (!WorkFolders::isPlainFolderName(macText)) return {};
  return options_.videoFolder() + macText;
}

int RecordingQueue::start(const RecordingTarget& target, uint32_t durationSeconds) {
  if (target.streamHandle == -1) return KS_E_INVALID;
  if (deviceFolder(target.macText).empty()) return KS_E_FILE;
  if (!options_.writers) return KS_E_UNAVAILABLE;
  auto job = std::make_shared<Job>(target, durationSeconds);
  std::lock_guard guard(lock_);
  for (const auto& existing : jobs_) {
    if (existing->streamHandle == target.streamHandle && !existing->finished) return KS_OK;
  }
  endedPaths_.erase(target.streamHandle);
  jobs_.push_back(std::move(job));
  return KS_OK;
}

int RecordingQueue::stop(int32_t streamHandle, bool announce, std::string* path) {
  std::shared_ptr<Job> running;
  std::string ended;
  {
    std::lock_guard guard(lock_);
    auto found = std::find_if(jobs_.begin(), jobs_.end(), [&](const std::shared_ptr<Job>& job) {
      return job->streamHandle == streamHandle && !job->finished;
    });
    if (found != jobs_.end()) {
      running = *found;
      running->finished = true;
      running->announce = announce;
    }
    if (auto it = endedPaths_.find(streamHandle); it != endedPaths_.end()) {
      ended = std::move(it->second);
      endedPaths_.erase(it);
    }
    woken_ = true;
  }
  wake_.notify_all();
  std::string where;
  if (running) {
    std::lock_guard write(running->write);
    where = running->path;
  }
  if (where.empty()) where = std::move(ended);
  if (path != nullptr) *path = std::move(where);
  return KS_OK;
}

void RecordingQueue::onFrame(int32_t streamHandle, const DLSDK_MediaFrame& frame, int width, int height) {
  std::shared_ptr<Job> job;
  {
    std::lock_guard guard(lock_);
    const auto taken = collect_ ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
    auto found = std::find_if(jobs_.begin(), jobs_.end(), [&](const std::shared_ptr<Job>& candidate) {
      return candidate->streamHandle == streamHandle && !candidate->finished;
    });
    if (found != jobs_.end()) job = *found;
    if (collect_) {
      holdNanos_.push_back(
          std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - taken).count());
    }
  }
  if (!job) return;
  // The file is written outside lock_: streams that are not recorded, and
  // other recordings, never wait for this one's disk or encoder.
  std::string endedWith;
  bool ended = false;
  {
    std::lock_guard write(job->write);
    if (job->finalised) return;  // stopped and finalised meanwhile
    bool ready = job->fd != -1;
    if (!ready && startsFile(frame.frameType)) ready = startFile(*job, frame);
    if (!ready || !feed(*job, frame, width, height)) return;
    ended = true;
    // A file that holds nothing is deleted by the worker: not a recording.
    if (!job->path.empty() && job->written > 0) endedWith = job->path;
  }
  if (ended) endJob(*job, std::move(endedWith));
}

bool RecordingQueue::startFile(Job& job, const DLSDK_MediaFrame& frame) {
  // The device's and the channel's folders, each a real folder of ours,
  // made from the work root down without following a link.
  std::string folder = deviceFolder(job.macText);
  if (folder.empty()) return false;
  folder += "/" + std::to_string(job.channel);

  const sys::CalendarTime t =
      options_.clock ? options_.clock() : sys::secondsToLocal(static_cast<int64_t>(std::time(nullptr)));
  const int number = options_.counter ? options_.counter->next() : 0;
  char name[96];
  std::snprintf(name, sizeof name, "/1_%d_%02d_%02d_%02d_%02d_%02d_%d.mp4", t.year, t.month, t.day, t.hour, t.minute,
                t.second, number);
  const std::string path = folder + name;
  const int fd = WorkFolders::createFile(path);
  if (fd == -1) return false;  // tried again at the next key frame

  std::unique_ptr<Mp4Writer> writer = options_.writers();
  Job* self = &job;
  // The output runs inside input() and finish(), always under the job's
  // write lock.
  const bool opened = writer && writer->open([self](const uint8_t* data, size_t length) {
    if (self->writeFailed || self->fd == -1) return false;
    if (!writeAll(self->fd, data, length)) {
      self->writeFailed = true;
      return false;
    }
    self->written += static_cast<int64_t>(length);
    return true;
  });
  if (!opened) {
    // No file without a writer: the next key frame tries again.
    ::close(fd);
    WorkFolders::removeEntry(path, false);
    WorkFolders::removeEntry(folder, true);
    return false;
  }
  job.fd = fd;
  job.writer = std::move(writer);
  job.path = path;
  job.channelFolder = folder;
  job.videoFormat = frame.formatCode;
  job.startTime = frame.timeStamp;
  return true;
}

bool RecordingQueue::feed(Job& job, const DLSDK_MediaFrame& frame, int width, int height) {
  const int kind = frame.frameType;
  if (skipped(kind)) return false;
  const bool audio = kind == DLSDK_FRAME_AUDIO;
  if (audio && job.audioFormat == -1) job.audioFormat = frame.formatCode;
  bool change = audio ? frame.formatCode != job.audioFormat : frame.formatCode != job.videoFormat;
  if (job.width != 0 && job.height != 0 && (width != job.width || height != job.height)) change = true;
  const int64_t elapsed = static_cast<int64_t>(frame.timeStamp) - job.startTime;
  if (change || elapsed > static_cast<int64_t>(job.duration)) return true;
  job.width = width;
  job.height = height;
  if (frame.data == nullptr || frame.length <= 0) return false;
  return !job.writer->input(frame.data, frame.length);
}

// The file ends here; the worker closes and announces it.
void RecordingQueue::endJob(Job& job, std::string endedWith) {
  {
    std::lock_guard guard(lock_);
    // A stop may have come first; its announce choice stands.
    if (job.finished) return;
    job.finished = true;
    if (!endedWith.empty()) endedPaths_[job.streamHandle] = std::move(endedWith);
    woken_ = true;
  }
  wake_.notify_all();
}

void RecordingQueue::worker() {
  std::unique_lock guard(lock_);
  for (;;) {
    wake_.wait_for(guard, options_.interval, [this] { return stopping_ || woken_; });
    woken_ = false;
    const bool last = stopping_;
    // Only the jobs taken out here are finalised, and none is taken out
    // without being finalised.
    std::vector<std::shared_ptr<Job>> done;
    for (auto it = jobs_.begin(); it != jobs_.end();) {
      if ((*it)->finished) {
        done.push_back(std::move(*it));
        it = jobs_.erase(it);
      } else {
        ++it;
      }
    }
    finalising_ = done.size();
    guard.unlock();
    for (auto& job : done) finalise(*job);
    done.clear();
    guard.lock();
    finalising_ = 0;
    if (last) return;
  }
}

bool RecordingQueue::waitIdle(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    {
      std::lock_guard guard(lock_);
      const bool pending =
          finalising_ > 0 || std::any_of(jobs_.begin(), jobs_.end(), [](const auto& job) { return job->finished; });
      if (!pending) return true;
      woken_ = true;
    }
    wake_.notify_all();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

void RecordingQueue::finalise(Job& job) {
  std::lock_guard write(job.write);
  job.finalised = true;
  if (job.writer) job.writer->finish();
  job.writer.reset();
  off_t size = 0;
  if (job.fd != -1) {
    struct stat info {};
    if (::fstat(job.fd, &info) == 0) size = info.st_size;
    ::close(job.fd);
    job.fd = -1;
  }
  if (job.path.empty()) return;  // never started a file: nothing to tidy
  if (job.announce && size > 0) {
    if (options_.announce) options_.announce(job.cell, job.path);
    return;
  }
  // Kept at shut-down: the file stays where it is, complete up to its end.
  if (size > 0 && keepFiles_.load(std::memory_order_acquire)) return;
  // Unannounced (the cell closed) or empty: only this job's own file goes,
  // and its channel folder when nothing else is left in it.
  WorkFolders::removeEntry(job.path, false);
  WorkFolders::removeEntry(job.channelFolder, true);
}

size_t RecordingQueue::jobCount() {
  std::lock_guard guard(lock_);
  return jobs_.size();
}

void RecordingQueue::collectLockTimes(bool on) {
  std::lock_guard guard(lock_);
  collect_ = on;
}

std::vector<int64_t> RecordingQueue::takeLockTimes() {
  std::lock_guard guard(lock_);
  return std::exchange(holdNanos_, {});
}

}  // namespace ksplugs
