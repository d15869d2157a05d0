#pragma once
// Local recording of live streams into MP4 files: one job per recorded
// stream, keyed by the stream's handle. A job starts its file at the stream's
// first key frame, feeds every frame through its MP4 writer and ends the
// file after the duration, at a change of the stream's format or picture
// size, or at the first failed write (the fragmented prefix stays playable).
// A worker thread finalises ended jobs every 150 ms (sooner when woken):
// it closes the file and announces it to the cell, or, for a job stopped
// without announcement, deletes that file and its channel folder when empty.
// An ended job starts no further file; the page stops and starts again.
//
// Files go to "<video work folder><MAC>/<channel>/1_<Y>_<MM>_<DD>_<hh>_<mm>_<ss>_<n>.mp4"
// with the shared file counter. A MAC text that is not one plain folder name
// refuses the recording (3006), so nothing is ever created or deleted
// outside the video work folder. Folders are made 0700, files 0600, created
// new and never through a link.
//
// Threads: start and stop on command or UI threads, onFrame on the SDK's
// media threads, finalising on the worker. lock_ guards the job list and
// each job's finished/announce marks; each job's own write lock guards its
// file and writer, so writing one file never holds up the other streams.
// Locks are never nested.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/devlink/DevLinkSdk.h"
#include "platform/sys/TimeText.h"
#include "platform/ui/Types.h"
#include "plugin/files/FileCounter.h"
#include "plugin/recording/Mp4Writer.h"

namespace ksplugs {

// What a recording is started for.
struct RecordingTarget {
  int channel = 0;
  int32_t streamHandle = -1;
  std::string macText;  // the device's folder name below the video work folder
  ui::HWND cell = 0;    // the window the finished files are announced to
};

class RecordingQueue {
 public:
  // Announces a finished file to a cell window (posted; the window may be
  // gone by then, which a post survives).
  using Announce = std::function<void(ui::HWND cell, const std::string& path)>;

  struct Options {
    Mp4WriterFactory writers;  // empty: recordings answer 1006
    std::shared_ptr<FileCounter> counter;
    std::function<sys::CalendarTime()> clock;  // empty: the local time
    std::function<std::string()> videoFolder;  // empty: the video work folder
    Announce announce;                         // empty: files are not announced
    std::chrono::milliseconds interval{150};   // the worker's pass interval
  };

  explicit RecordingQueue(Options options);
  // Shuts down (last finalise pass), then closes the files of jobs still
  // running without announcing them; their prefixes stay on disk.
  ~RecordingQueue();
  RecordingQueue(const RecordingQueue&) = delete;
  RecordingQueue& operator=(const RecordingQueue&) = delete;

  // Starts recording the target's stream in a file of at most
  // durationSeconds. 0 (also when it already records); 3006 when the MAC
  // text names no plain folder; 1006 without an MP4 writer; 1000 without a
  // stream handle.
  int start(const RecordingTarget& target, uint32_t durationSeconds);
  // Ends the stream's running recording, announcing its file or not. The
  // path is the running file's, or else the last file this recording
  // ended with, or empty when nothing was recorded. Always 0.
  int stop(int32_t streamHandle, bool announce, std::string* path = nullptr);
  // Every frame of every open live stream, with the stream's picture size.
  void onFrame(int32_t streamHandle, const DLSDK_MediaFrame& frame, int width, int height);
  // From now on a recording that ends without announcement keeps its file
  // instead of deleting it: when the library shuts down, cells close and
  // stop their recordings, and the user's recordings must not go with them.
  void keepUnannouncedFiles();
  // Signals the worker, which makes one last finalise pass and ends; waits
  // for it. Later recordings are still kept but finalised only by the
  // destructor.
  void shutdown();

  // Jobs in the list, finished or not (tests and benchmarks).
  size_t jobCount();
  // Waits until every ended job is finalised (announced or deleted), at
  // most `limit`.
  bool waitIdle(std::chrono::milliseconds limit);
  // How long each onFrame held lock_ (the list lookup), in nanoseconds, while
  // collecting (benchmarks).
  void collectLockTimes(bool on);
  std::vector<int64_t> takeLockTimes();

 private:
  struct Job;

  void worker();
  void finalise(Job& job);
  bool startFile(Job& job, const DLSDK_MediaFrame& frame);
  // Writes one frame; true when the file ends with it (duration, a format
  // or size change, a failed write). Under the job's write lock.
  bool feed(Job& job, const DLSDK_MediaFrame& frame, int width, int height);
  void endJob(Job& job, std::string endedWith);
  std::string deviceFolder(const std::string& macText) const;

  const Options options_;  // never changed
  std::mutex lock_;
  std::condition_variable wake_;               // lock_
  std::vector<std::shared_ptr<Job>> jobs_;     // lock_; in start order
  std::map<int32_t, std::string> endedPaths_;  // lock_; per stream: the file its recording last ended with
  bool stopping_ = false;                      // lock_
  std::atomic<bool> keepFiles_{false};         // set once at shut-down; read by finalise
  size_t finalising_ = 0;                      // lock_; jobs the worker took out and finalises now
  bool woken_ = false;                         // lock_
  bool collect_ = false;                       // lock_
  std::vector<int64_t> holdNanos_;             // lock_
  std::thread worker_;                         // started in the constructor, joined by shutdown()
  std::once_flag joined_;
};

}  // namespace ksplugs
