#include "plugin/download/DownloadTask.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "platform/sys/TimeText.h"
#include "plugin/api/SdkResult.h"
#include "plugin/download/TargetFile.h"
#include "plugin/session/CDVSDevice.h"

namespace ksplugs {

namespace {

constexpr int32_t kAllRecordTypes = 63;

bool validTime(const SystemTime& t) {
  return t.year >= 1970 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 &&
         t.hour < 24 && t.minute < 60 && t.second < 60;
}

// Local calendar time to seconds, converted as the page's times are, so a
// time that a fall back shows twice means the same instant on both sides.
// Nothing for fields that no calendar has.
std::optional<int64_t> localSeconds(int year, int month0, int day, int hour, int minute, int second) {
  if (year < 1601 || year > 30827 || month0 < 0 || month0 > 11 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
      second > 60) {
    return std::nullopt;
  }
  sys::CalendarTime t;
  t.year = static_cast<uint16_t>(year);
  t.month = static_cast<uint16_t>(month0 + 1);
  t.day = static_cast<uint16_t>(day);
  t.hour = static_cast<uint16_t>(hour);
  t.minute = static_cast<uint16_t>(minute);
  t.second = static_cast<uint16_t>(second);
  return sys::localToSeconds(t);
}

// "YYYYMMDDhhmmss" within a 15-byte field, as the device lists recordings.
std::optional<int64_t> parseQueryText(const char (&text)[15]) {
  int v[14];
  for (int i = 0; i < 14; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    v[i] = text[i] - '0';
  }
  const int year = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
  const int month = v[4] * 10 + v[5];
  const int day = v[6] * 10 + v[7];
  const int hour = v[8] * 10 + v[9];
  const int minute = v[10] * 10 + v[11];
  const int second = v[12] * 10 + v[13];
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return std::nullopt;
  }
  return localSeconds(year, month - 1, day, hour, minute, second);
}

void queryText(char (&field)[15], const SystemTime& date, int hour, int minute, int second) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", date.year, date.month, date.day, hour, minute, second);
  std::copy_n(text, 14, field);
  field[14] = '\0';
}

DLSDK_Time sdkTime(const SystemTime& date, const SystemTime& clock) {
  return DLSDK_Time{date.year, date.month, date.day, clock.hour, clock.minute, clock.second};
}

}  // namespace

DownloadTask::~DownloadTask() { shutdown(); }

bool DownloadTask::claim() {
  int idle = kIdle;
  return state_.compare_exchange_strong(idle, kClaimed, std::memory_order_acq_rel);
}

void DownloadTask::release() {
  int claimed = kClaimed;
  state_.compare_exchange_strong(claimed, kIdle, std::memory_order_acq_rel);
}

bool DownloadTask::running() const {
  const int state = state_.load(std::memory_order_acquire);
  return state == kRunning || state == kStopping;
}

std::optional<int64_t> DownloadTask::rangeStart(const std::vector<RecordedSpan>& recordings, int64_t ws, int64_t we) {
  std::optional<int64_t> start;
  for (const RecordedSpan& r : recordings) {
    if (r.begin > we || r.end < ws) continue;
    std::optional<int64_t> candidate;
    if (r.begin <= ws && ws < r.end) candidate = ws;
    else if (ws < r.begin) candidate = r.begin;
    if (candidate && (!start || *candidate < *start)) start = candidate;
  }
  return start;
}

int DownloadTask::queryRange(int32_t login, const DownloadRequest& request) {
  DLSDK_RecordQueryRequest query{};
  query.channel = request.channel;
  query.reserved1 = 1;
  query.typeMask = kAllRecordTypes;
  queryText(query.begin, request.startTime, 0, 0, 0);
  queryText(query.end, request.startTime, 23, 59, 59);
  int32_t handle = -1;
  if (const int rc = DLSDK_HistoryStreamMultiTypeQueryConnect(&handle, login, &query); rc != DLSDK_OK) {
    return MapSdkResult(rc);
  }
  std::vector<RecordedSpan> recordings;
  DLSDK_RecordQueryItem item{};
  while (recordings.size() < static_cast<size_t>(kMaxRecordings) &&
         DLSDK_HistoryStreamMultiTypeQueryNext(handle, &item) == DLSDK_OK) {
    const auto begin = parseQueryText(item.begin);
    const auto end = parseQueryText(item.end);
    if (begin && end && *begin <= *end) recordings.push_back({*begin, *end});
  }
  DLSDK_HistoryStreamQueryDisconnect(handle);
  const auto start = rangeStart(recordings, request.startSeconds, request.endSeconds);
  if (!start) return KS_E_NO_RECORDING;
  rangeStart_.store(*start, std::memory_order_release);
  rangeEnd_.store(request.endSeconds, std::memory_order_release);
  position_.store(*start, std::memory_order_release);
  return KS_OK;
}

int DownloadTask::openStream(int32_t login, const DownloadRequest& request, int32_t* stream) {
  DLSDK_HistoryStreamRequest r{};
  r.reserved1 = 1;
  r.channel = request.channel;
  r.reserved2 = 0;
  r.start = sdkTime(request.startTime, request.startTime);
  r.end = sdkTime(request.startTime, request.endTime);
  r.typeMask = kAllRecordTypes;
  r.reserved3 = 1;
  r.subStream = request.mainStream ? 0 : 1;
  r.mediaPort = static_cast<uint16_t>(session_->mediaPort());
  *stream = -1;
  const int rc = DLSDK_HistoryStreamMultiTypeCreate(stream, login, &r);
  if (rc != DLSDK_OK) {
    if (*stream != -1) DLSDK_HistoryStreamDestroy(*stream);
    *stream = -1;
    return MapSdkResult(rc);
  }
  return KS_OK;
}

int DownloadTask::start(const DownloadRequest& request) {
  if (state_.load(std::memory_order_acquire) != kClaimed) return KS_E_BUSY;
  // Once the download runs, the claim has become the download; a failure
  // from then on ends it through Stop instead of releasing.
  bool claimed = true;
  const int result = [&]() -> int {
    if (session_ == nullptr) return KS_E_INVALID;
    const int32_t login = session_->loginHandle();
    if (login == -1) return KS_E_NOT_READY;
    const SystemTime& s = request.startTime;
    const SystemTime& e = request.endTime;
    if (!validTime(s) || !validTime(e) || s.year != e.year || s.month != e.month || s.day != e.day ||
        request.endSeconds <= request.startSeconds || request.channel < 0 || request.channel > 0xFFFF) {
      return KS_E_INVALID;
    }
    const bool mp4 = request.format == 1;
    if (!supports(request.format)) return KS_E_NOT_SUPPORTED;
    // A page's path is checked before anything happens, and only created
    // once the device has the recordings and opened the stream, so a failed
    // start leaves no file behind.
    if (!request.chosenByUser) {
      if (const int rc = TargetFile::checkPagePath(request.path, mp4); rc != KS_OK) return rc;
    }
    if (const int rc = queryRange(login, request); rc != KS_OK) return rc;
    int32_t stream = -1;
    if (const int rc = openStream(login, request, &stream); rc != KS_OK) return rc;
    int fd = -1;
    bool created = true;
    const int fileResult = request.chosenByUser ? TargetFile::openChosen(request.path, &fd, &created)
                                                : TargetFile::createForPage(request.path, mp4, &fd);
    if (fileResult != KS_OK) {
      DLSDK_HistoryStreamDestroy(stream);
      return KS_E_FILE;
    }
    // Without its worker nothing would ever stop the download.
    if (!ensureWorker()) {
      DLSDK_HistoryStreamDestroy(stream);
      ::close(fd);
      if (created) ::unlink(request.path.c_str());
      return KS_E_NOT_READY;
    }

    // The download's fields, before any callback can run.
    mode_.store(mp4 ? 1 : 3, std::memory_order_release);
    converterHandle_.store(-1, std::memory_order_release);
    fd_.store(fd, std::memory_order_release);
    stream_.store(stream, std::memory_order_release);
    taskId_.store(request.taskId, std::memory_order_release);
    failure_.store(0, std::memory_order_release);
    finish_.store(0, std::memory_order_release);
    everStarted_.store(true, std::memory_order_release);
    state_.store(kRunning, std::memory_order_release);

    int rc = DLSDK_StreamEndCB(stream, &DownloadTask::onStreamEnd, this);
    if (rc == DLSDK_OK) rc = DLSDK_StreamMediaCB(stream, &DownloadTask::onFrame, this);
    if (rc == DLSDK_OK) rc = DLSDK_StreamMediaControl(stream, 1);
    if (rc != DLSDK_OK) {
      claimed = false;
      finish(MapSdkResult(rc));
      waitUntilIdle();
      // Nothing was written; a file this start created goes again.
      if (created) ::unlink(request.path.c_str());
      return MapSdkResult(rc);
    }
    return KS_OK;
  }();
  if (result != KS_OK && claimed) release();
  return result;
}

int DownloadTask::progress(uint32_t* value) const {
  *value = 0;
  if (!everStarted_.load(std::memory_order_acquire)) return KS_OK;
  if (!running()) {
    if (const int failure = failure_.load(std::memory_order_acquire); failure != KS_OK) return failure;
    *value = kDone;
    return KS_OK;
  }
  const int64_t start = rangeStart_.load(std::memory_order_acquire);
  const int64_t end = rangeEnd_.load(std::memory_order_acquire);
  const int64_t position = position_.load(std::memory_order_acquire);
  const double span = static_cast<double>(std::max<int64_t>(end - start, 1));
  const double ratio = std::trunc(static_cast<double>(position - start) / span * 10000.0 + 5.0);
  // 10005 is the page's sign that the file is complete and the task free;
  // a download at its last second, still writing, reads one less.
  *value = static_cast<uint32_t>(std::clamp(ratio, 0.0, static_cast<double>(kDone - 1)));
  return KS_OK;
}

int DownloadTask::interrupt() {
  if (!running()) return KS_OK;
  finish(0);
  waitUntilIdle();
  return KS_OK;
}

void DownloadTask::shutdown() {
  interrupt();
  std::thread worker;
  {
    std::lock_guard lock(workerMutex_);
    quit_ = true;
    worker = std::move(worker_);
  }
  workerCv_.notify_all();
  if (worker.joinable()) worker.join();
}

void DownloadTask::finish(int code) {
  int running = 0;
  if (!finish_.compare_exchange_strong(running, 1, std::memory_order_acq_rel)) return;
  if (code != KS_OK) failure_.store(code, std::memory_order_release);
  int state = kRunning;
  state_.compare_exchange_strong(state, kStopping, std::memory_order_acq_rel);
  {
    std::lock_guard lock(workerMutex_);
    stopWanted_ = true;
  }
  workerCv_.notify_all();
}

bool DownloadTask::ensureWorker() {
  std::lock_guard lock(workerMutex_);
  if (quit_) return false;
  if (worker_.joinable()) return true;
  try {
    worker_ = std::thread([this] { workerLoop(); });
  } catch (const std::system_error&) {
    return false;  // no thread to be had: the start is refused
  }
  return true;
}

void DownloadTask::workerLoop() {
  std::unique_lock lock(workerMutex_);
  for (;;) {
    workerCv_.wait(lock, [this] { return stopWanted_ || quit_; });
    if (stopWanted_) {
      stopWanted_ = false;
      lock.unlock();
      stop();
      lock.lock();
      workerCv_.notify_all();
      continue;
    }
    if (quit_) return;
  }
}

void DownloadTask::waitUntilIdle() {
  std::unique_lock lock(workerMutex_);
  // A worker that has quit cannot stop anything; shutdown() interrupts first.
  workerCv_.wait(lock, [this] { return !running() || quit_; });
}

void DownloadTask::stop() {
  // The stream first: destroying it waits for a callback in progress, so
  // no frame reaches the converter or the file afterwards. Closing its
  // connection is what ends the device's sending; a stop command before it
  // would only wait out the reply time-out of a device that stalls.
  if (const int32_t stream = stream_.exchange(-1, std::memory_order_acq_rel); stream != -1) {
    DLSDK_HistoryStreamDestroy(stream);
  }
  // The converter writes what it holds and the trailer into the file.
  if (const int32_t converter = converterHandle_.exchange(-1, std::memory_order_acq_rel); converter != -1) {
    converter_->destroy(converter);
  }
  if (const int fd = fd_.exchange(-1, std::memory_order_acq_rel); fd != -1) ::close(fd);
  taskId_.store(0, std::memory_order_release);
  position_.store(rangeEnd_.load(std::memory_order_acquire), std::memory_order_release);
  state_.store(kIdle, std::memory_order_release);
}

bool DownloadTask::writeAll(const uint8_t* data, size_t length) {
  const int fd = fd_.load(std::memory_order_acquire);
  if (fd < 0) return false;
  while (length > 0) {
    const ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

int DownloadTask::onFrame(int32_t, const DLSDK_MediaFrame* frame, void* context) {
  auto* self = static_cast<DownloadTask*>(context);
  if (frame == nullptr || frame->data == nullptr || frame->length <= 0) return 0;
  if (self->finish_.load(std::memory_order_acquire) != 0) return 0;
  // The recorded key frame without payload marks the end of the data.
  if (frame->frameType == DLSDK_FRAME_RECORDED_KEY && frame->length <= 32) {
    self->finish(KS_OK);
    return 0;
  }
  // A frame whose date no calendar has belongs to no range.
  const auto when =
      localSeconds(frame->year + 1900, frame->month, frame->day, frame->hour, frame->minute, frame->second);
  if (!when) return 0;
  const int64_t seconds = *when;
  if (seconds < self->rangeStart_.load(std::memory_order_acquire)) return 0;
  if (seconds > self->rangeEnd_.load(std::memory_order_acquire)) {
    self->finish(KS_OK);
    return 0;
  }
  self->position_.store(seconds, std::memory_order_release);

  if (self->mode_.load(std::memory_order_acquire) != 1) {
    if (!self->writeAll(frame->data, static_cast<size_t>(frame->length))) self->finish(KS_E_FILE);
    return 0;
  }
  int32_t converter = self->converterHandle_.load(std::memory_order_acquire);
  if (converter == -1) {
    // The converter opens on the first frame, and that frame (the range's
    // key frame) is its first input.
    if (self->converter_->create(&converter, &DownloadTask::onOutput, self) != CONVERTER_OK || converter == -1) {
      self->finish(KS_E_FILE);
      return 0;
    }
    self->converterHandle_.store(converter, std::memory_order_release);
  }
  const int rc = self->converter_->input(converter, frame->data, frame->length);
  if (rc != CONVERTER_OK && rc != CONVERTER_ERR_BAD_FRAME) self->finish(KS_E_FILE);
  return 0;
}

void DownloadTask::onStreamEnd(int32_t, int32_t reason, void* context) {
  auto* self = static_cast<DownloadTask*>(context);
  self->finish(reason == DLSDK_OK ? KS_OK : MapSdkResult(reason));
}

int DownloadTask::onOutput(int32_t, int32_t, int64_t, const uint8_t* data, int32_t length, int32_t, int64_t,
                           int64_t, void* context) {
  auto* self = static_cast<DownloadTask*>(context);
  if (length < 0 || (length > 0 && data == nullptr)) return 1;
  return self->writeAll(data, static_cast<size_t>(length)) ? 0 : 1;
}

}  // namespace ksplugs
