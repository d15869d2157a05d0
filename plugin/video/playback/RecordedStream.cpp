#include "plugin/video/playback/RecordedStream.h"

#include <ctime>

#include "plugin/session/CDVSDevice.h"

namespace ksplugs {

namespace {

DLSDK_Time sdkTime(const SystemTime& t) {
  return DLSDK_Time{t.year, t.month, t.day, t.hour, t.minute, t.second};
}

bool leapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

}  // namespace

RecordedStream::~RecordedStream() {
  if (isOpen() && soundOn_) DLSDK_StreamStopSound(handle_);
  close();
}

bool RecordedStream::validTime(const SystemTime& t) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.year < 1970 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1) return false;
  const int days = kDays[t.month - 1] + (t.month == 2 && leapYear(t.year) ? 1 : 0);
  return t.day <= days && t.hour < 24 && t.minute < 60 && t.second < 60;
}

bool RecordedStream::fromSeconds(int64_t seconds, SystemTime& out) {
  if (seconds <= 0) return false;
  const time_t value = static_cast<time_t>(seconds);
  std::tm parts{};
  if (gmtime_r(&value, &parts) == nullptr || parts.tm_year + 1900 > 9999) return false;
  out.year = static_cast<uint16_t>(parts.tm_year + 1900);
  out.month = static_cast<uint16_t>(parts.tm_mon + 1);
  out.day = static_cast<uint16_t>(parts.tm_mday);
  out.hour = static_cast<uint16_t>(parts.tm_hour);
  out.minute = static_cast<uint16_t>(parts.tm_min);
  out.second = static_cast<uint16_t>(parts.tm_sec);
  return true;
}

DLSDK_HistoryStreamRequest RecordedStream::dayRequest(int channel, const SystemTime& day, int typeMask,
                                                      bool mainStream, uint16_t mediaPort) {
  DLSDK_HistoryStreamRequest request{};
  request.reserved1 = 1;
  request.channel = channel;
  request.reserved2 = 0;
  request.start = DLSDK_Time{day.year, day.month, day.day, 0, 0, 0};
  request.end = DLSDK_Time{day.year, day.month, day.day, 23, 59, 59};
  request.typeMask = typeMask;
  request.reserved3 = 1;
  request.subStream = mainStream ? 0 : 1;
  request.mediaPort = mediaPort;
  return request;
}

int RecordedStream::open(WebPlug_NCL::CDVSDevice* device, int channel, const SystemTime& time, int typeMask,
                         bool mainStream, ui::HWND surface) {
  if (isOpen()) return 0;
  if (device == nullptr || device->loginHandle() == -1 || channel < 0 || !validTime(time)) return kNotOpen;
  const DLSDK_HistoryStreamRequest request =
      dayRequest(channel, time, typeMask, mainStream, static_cast<uint16_t>(device->mediaPort()));
  int32_t handle = -1;
  int rc = DLSDK_HistoryStreamMultiTypeCreate(&handle, device->loginHandle(), &request);
  if (rc != 0) return rc;
  rc = DLSDK_StreamOpenEx(handle, 1, 1, 0xFFFFFF, 2, 0, 0, 704, 576);
  if (rc == 0) {
    const DLSDK_Time at = sdkTime(time);
    DLSDK_HistoryStreamPosition(handle, 2, &at);
    // A stream that does not play would read as playing to the page.
    rc = DLSDK_StreamPlay(handle, surface);
  }
  if (rc != 0) {
    DLSDK_StreamStop(handle);
    DLSDK_HistoryStreamDestroy(handle);
    return rc;
  }
  DLSDK_StreamSetVolume(handle, 0xFFFF);
  handle_ = handle;
  channel_ = channel;
  surface_ = surface;
  state_ = State::kPlaying;
  soundOn_ = false;
  asked_ = time;
  frameAtAsk_ = 0;
  return 0;
}

int RecordedStream::close() {
  if (!isOpen()) return 0;
  DLSDK_StreamStop(handle_);
  DLSDK_HistoryStreamDestroy(handle_);
  handle_ = -1;
  channel_ = -1;
  surface_ = 0;
  soundOn_ = false;
  state_ = State::kClosed;
  return 0;
}

int RecordedStream::pauseToggle() {
  if (!isOpen()) return 0;
  const bool pausing = state_ == State::kPlaying;
  DLSDK_StreamPause(handle_, pausing ? 1 : 0);
  state_ = pausing ? State::kPaused : State::kPlaying;
  return 0;
}

int RecordedStream::resume() {
  if (!isOpen()) return kNotOpen;
  // Back to the normal rate, and playing again if paused or stepping.
  const int rc = DLSDK_StreamPlay(handle_, surface_);
  if (state_ == State::kPaused) DLSDK_StreamPause(handle_, 0);
  state_ = State::kPlaying;
  return rc;
}

int RecordedStream::speed(bool fast) {
  if (!isOpen()) return kNotOpen;
  return fast ? DLSDK_HistoryStreamFast(handle_) : DLSDK_HistoryStreamSlow(handle_);
}

int RecordedStream::step(bool back) {
  if (!isOpen()) return kNotOpen;
  state_ = State::kPaused;
  return back ? DLSDK_HistoryStreamOneByOneBack(handle_) : DLSDK_HistoryStreamOneByOne(handle_);
}

int RecordedStream::setSound(bool on) {
  if (!isOpen()) return kNotOpen;
  int rc = on ? DLSDK_StreamPlaySound(handle_) : DLSDK_StreamStopSound(handle_);
  if (rc == DLSDK_ERR_ALREADY) rc = 0;
  if (rc == 0) soundOn_ = on;
  return rc;
}

int RecordedStream::seek(const SystemTime& time) {
  if (!isOpen()) return kNotOpen;
  if (!validTime(time)) return kNotOpen;
  const DLSDK_Time at = sdkTime(time);
  const int rc = DLSDK_HistoryStreamPosition(handle_, 2, &at);
  if (rc == 0) {
    asked_ = time;
    int64_t now = 0;
    frameAtAsk_ = DLSDK_StreamGetAbsoluteTime(handle_, &now) == 0 ? now : 0;
  }
  return rc;
}

int RecordedStream::snapshot(const std::string& path) {
  if (!isOpen() || path.empty()) return kNotOpen;
  return DLSDK_StreamSnapShot(handle_, path.c_str());
}

void RecordedStream::refresh() {
  if (isOpen() && state_ != State::kPlaying) DLSDK_StreamRefreshPlay(handle_);
}

int RecordedStream::getTime(SystemTime& out) {
  if (!isOpen()) return kNotOpen;
  int64_t seconds = 0;
  const int rc = DLSDK_StreamGetAbsoluteTime(handle_, &seconds);
  if (rc != 0) return rc;
  SystemTime frame = out;
  // Until a frame from the asked place is shown, the asked time stands.
  if (seconds == frameAtAsk_ || !fromSeconds(seconds, frame)) frame = asked_;
  out.year = frame.year;
  out.month = frame.month;
  out.day = frame.day;
  out.hour = frame.hour;
  out.minute = frame.minute;
  out.second = frame.second;
  return 0;
}

}  // namespace ksplugs
