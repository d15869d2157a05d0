#pragma once
// The recording download of one device: a time range of one channel, fetched
// from the device as fast as it sends and written into a local file, either
// converted to MP4 or as the device's own frames.
//
// Life of one download:
//   idle --claim()--> claimed --start()--> running --finish--> stopping --Stop--> idle
//   A claim that does not lead to a download goes back with release(); a
//   start() that fails releases the claim itself.
// The claim is the "already running" check: one compare-exchange, so two
// commands can never both start, even while a Save-As dialog sits between
// the check and the start.
//
// The finish flag is set by compare-exchange when the data ends, the range
// ends, the stream dies, a write fails or the page interrupts; whoever sets
// it asks the task's one worker thread to run Stop. Stop is the only place
// that closes anything: the stream first (which waits for a callback in
// progress, so no frame comes after), then the converter (which writes the
// trailer through the file), then the file; each field is cleared as its
// resource is taken, and "idle" is published last.
//
// Threads: claim/release/start/progress/interrupt run on command threads;
// the data and end callbacks on the stream's SDK thread; Stop on the worker.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/devlink/DevLinkSdk.h"
#include "plugin/api/ksplugs.h"
#include "plugin/download/Mp4Converter.h"

namespace WebPlug_NCL {
class CDVSDevice;
}

namespace ksplugs {

// What a start needs, built by the device entry from the page's record.
struct DownloadRequest {
  bool mainStream = false;
  int32_t format = 1;  // 1 MP4; every other value writes the device's frames
  int32_t channel = 0;
  int32_t taskId = 0;
  std::string path;             // UTF-8
  bool chosenByUser = false;    // from the Save-As dialog: may replace a file
  SystemTime startTime{};       // local calendar time; both on one day
  SystemTime endTime{};
  int64_t startSeconds = 0;     // startTime as seconds since 1970
  int64_t endSeconds = 0;
};

// A recording the device listed: [begin, end] in seconds since 1970.
struct RecordedSpan {
  int64_t begin = 0;
  int64_t end = 0;
};

class DownloadTask {
 public:
  // Progress of a finished or interrupted download.
  static constexpr uint32_t kDone = 10005;
  // Recordings read from one query at most; a device listing more is cut.
  static constexpr int kMaxRecordings = 100000;

  // `converter` null: MP4 downloads are refused with 1001.
  explicit DownloadTask(const Mp4Converter* converter = mp4Converter()) : converter_(converter) {}
  ~DownloadTask();
  DownloadTask(const DownloadTask&) = delete;
  DownloadTask& operator=(const DownloadTask&) = delete;

  // The session the download logs in with; owned by the device entry.
  void setSession(WebPlug_NCL::CDVSDevice* session) { session_ = session; }
  WebPlug_NCL::CDVSDevice* session() const { return session_; }

  // Takes the task for a start: false while a download is claimed or runs.
  bool claim();
  // Gives back a claim that did not lead to start().
  void release();
  // Starts the claimed task (the session is logged in). 0, or the code; on
  // failure the claim is released and nothing the page named was touched.
  int start(const DownloadRequest& request);
  // 0 and the progress in 1/10000 (0 before any download, 10005 once a
  // download ended or was interrupted and the task is free again; a running
  // download reads 0 to 10004), or, after a download that died
  // (lost device 3002, failed write 3006), that code until the next start.
  int progress(uint32_t* value) const;
  // Ends a running download and waits until it is idle. Always 0.
  int interrupt();
  // Interrupts and ends the worker thread: the device's teardown, when no
  // command thread holds the device any more.
  void shutdown();

  // The first moment of [ws, we] that some recording covers, if any: for a
  // recording with s <= ws < e that is ws, otherwise its start s when
  // ws < s <= we. Recordings come in any order.
  static std::optional<int64_t> rangeStart(const std::vector<RecordedSpan>& recordings, int64_t ws, int64_t we);

  // Whether this build can write the format (MP4 needs the converter).
  bool supports(int32_t format) const { return format != 1 || converter_ != nullptr; }
  bool running() const;
  int32_t taskId() const { return taskId_.load(std::memory_order_acquire); }

 private:
  enum State : int { kIdle, kClaimed, kRunning, kStopping };

  int queryRange(int32_t login, const DownloadRequest& request);
  int openStream(int32_t login, const DownloadRequest& request, int32_t* stream);
  // Sets the finish flag once per download and wakes the worker for Stop;
  // `code` is remembered for progress() when it is not 0.
  void finish(int code);
  void stop();
  void workerLoop();
  // Starts the worker on first use; false once shutdown() ended it.
  bool ensureWorker();
  void waitUntilIdle();
  bool writeAll(const uint8_t* data, size_t length);

  static int onFrame(int32_t stream, const DLSDK_MediaFrame* frame, void* context);
  static void onStreamEnd(int32_t stream, int32_t reason, void* context);
  static int onOutput(int32_t handle, int32_t kind, int64_t position, const uint8_t* data, int32_t length,
                      int32_t reserved1, int64_t reserved2, int64_t reserved3, void* context);

  const Mp4Converter* const converter_;
  WebPlug_NCL::CDVSDevice* session_ = nullptr;  // set once before the entry is shared

  std::atomic<int> state_{kIdle};
  // 1 from the end of a download until the next start clears it, so a
  // second interrupt finds nothing to do. Changed only by compare-exchange
  // (set) and by start() while claimed (cleared).
  std::atomic<int> finish_{1};
  std::atomic<int> failure_{0};          // the code a died download left; cleared by start()
  std::atomic<bool> everStarted_{false};

  // Written by start() before the stream's callbacks are registered and by
  // stop() after the stream is destroyed; the callbacks run only in
  // between, so the SDK thread and the worker never touch them together.
  std::atomic<int32_t> stream_{-1};
  std::atomic<int32_t> converterHandle_{-1};
  std::atomic<int> fd_{-1};
  std::atomic<int32_t> mode_{3};
  std::atomic<int32_t> taskId_{0};
  // Read by progress() on command threads without a lock; each is atomic.
  std::atomic<int64_t> rangeStart_{0};
  std::atomic<int64_t> rangeEnd_{0};
  std::atomic<int64_t> position_{0};

  std::mutex workerMutex_;
  std::condition_variable workerCv_;
  std::thread worker_;         // guarded by workerMutex_ (started once, joined by shutdown)
  bool stopWanted_ = false;    // guarded by workerMutex_
  bool quit_ = false;          // guarded by workerMutex_
};

}  // namespace ksplugs
