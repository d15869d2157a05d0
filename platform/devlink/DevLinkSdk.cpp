// The C functions of the SDK: argument checks, then the objects behind the
// handles. No exception leaves a function here.
#include "platform/devlink/DevLinkSdk.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "platform/devlink/DisplayTable.h"
#include "platform/devlink/DrawPool.h"
#include "platform/devlink/LoginSession.h"
#include "platform/devlink/MediaStream.h"
#include "platform/devlink/RecordQuery.h"
#include "platform/devlink/SdkContext.h"
#include "platform/devlink/TalkChannel.h"

// Callers fill these records by offset; their layouts are fixed.
static_assert(sizeof(DLSDK_LoginInfo) == 324 && offsetof(DLSDK_LoginInfo, commandPort) == 256 &&
              offsetof(DLSDK_LoginInfo, user) == 260 && offsetof(DLSDK_LoginInfo, password) == 292);
static_assert(sizeof(DLSDK_Time) == 12);
static_assert(sizeof(DLSDK_LiveStreamRequest) == 24 && offsetof(DLSDK_LiveStreamRequest, streamType) == 8 &&
              offsetof(DLSDK_LiveStreamRequest, mediaPort) == 12);
static_assert(sizeof(DLSDK_HistoryStreamRequest) == 48 && offsetof(DLSDK_HistoryStreamRequest, start) == 12 &&
              offsetof(DLSDK_HistoryStreamRequest, end) == 24 && offsetof(DLSDK_HistoryStreamRequest, typeMask) == 36 &&
              offsetof(DLSDK_HistoryStreamRequest, subStream) == 44 &&
              offsetof(DLSDK_HistoryStreamRequest, mediaPort) == 46);
static_assert(sizeof(DLSDK_RecordQueryRequest) == 44 && offsetof(DLSDK_RecordQueryRequest, begin) == 12 &&
              offsetof(DLSDK_RecordQueryRequest, end) == 27);
static_assert(sizeof(DLSDK_RecordQueryItem) == 44 && offsetof(DLSDK_RecordQueryItem, begin) == 8 &&
              offsetof(DLSDK_RecordQueryItem, end) == 23);
static_assert(sizeof(DLSDK_TalkRequest) == 16 && offsetof(DLSDK_TalkRequest, codec) == 8);
static_assert(offsetof(DLSDK_MediaFrame, data) == sizeof(void*) && offsetof(DLSDK_MediaFrame, year) % 2 == 0);
static_assert(sizeof(void*) != 4 || (offsetof(DLSDK_MediaFrame, length) == 8 && offsetof(DLSDK_MediaFrame, year) == 12 &&
                                     offsetof(DLSDK_MediaFrame, frameType) == 28));

namespace {

using namespace devlink;

SdkContext& sdk() { return SdkContext::instance(); }

// A text in a fixed field must end inside it.
bool fieldText(const char* field, size_t size, std::string& out) {
  const void* end = std::memchr(field, 0, size);
  if (!end) return false;
  out.assign(field, static_cast<const char*>(end) - field);
  return true;
}

wire::WireTime toWire(const DLSDK_Time& t) {
  return wire::WireTime{t.year, t.month, t.day, t.hour, t.minute, t.second};
}

// "YYYYMMDDhhmmss" in a 15-byte field.
bool parseQueryText(const char* field, wire::WireTime& out) {
  std::string text;
  if (!fieldText(field, 15, text) || text.size() != 14) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const auto num = [&](size_t at, size_t n) { return static_cast<uint16_t>(std::stoi(text.substr(at, n))); };
  out = wire::WireTime{num(0, 4), num(4, 2), num(6, 2), num(8, 2), num(10, 2), num(12, 2)};
  return wire::isValidTime(out);
}

// `t` is a valid time (the reply decoder checked it), so the text has 14 digits.
void formatQueryText(char* field, const wire::WireTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04u%02u%02u%02u%02u%02u", t.year, t.month, t.day, t.hour, t.minute, t.second);
  std::memcpy(field, text, 14);
  field[14] = 0;
}

// Runs a function body so that nothing escapes across the C boundary.
template <class F>
int guarded(F&& body) {
  try {
    if (!sdk().started()) return DLSDK_ERR_NOT_INITIALISED;
    return body();
  } catch (const std::bad_alloc&) {
    return DLSDK_ERR_NO_MEMORY;
  } catch (...) {
    return DLSDK_ERR_FAILED;
  }
}

int openStream(int32_t* streamHandle, int32_t loginHandle, MediaStream::Kind kind, uint16_t port,
               uint16_t openType, std::span<const uint8_t> body) {
  auto login = sdk().find<LoginSession>(loginHandle);
  if (!login) return DLSDK_ERR_INVALID_HANDLE;
  std::shared_ptr<MediaStream> stream;
  if (const int rc = MediaStream::open(kind, login->host(), port, openType, body, stream); rc != DLSDK_OK) return rc;
  const int32_t handle = sdk().add(stream);
  if (handle == -1) {
    stream->close();
    return DLSDK_ERR_NO_MEMORY;
  }
  stream->start(handle);
  *streamHandle = handle;
  return DLSDK_OK;
}

int closeStream(int32_t handle, MediaStream::Kind kind) {
  auto stream = sdk().find<MediaStream>(handle);
  if (!stream || stream->kind() != kind) return DLSDK_ERR_INVALID_HANDLE;
  if (!sdk().remove<MediaStream>(handle)) return DLSDK_ERR_INVALID_HANDLE;
  // Drawing ends before the frames stop, so no picture outlives the handle.
  if (auto renderer = DisplayTable::instance().remove(handle)) {
    stream->attachSink(nullptr);
    renderer->shutdown();
  }
  stream->close();
  return DLSDK_OK;
}

std::shared_ptr<MediaStream> historyStream(int32_t handle, int& rc) {
  auto stream = sdk().find<MediaStream>(handle);
  if (!stream) {
    rc = DLSDK_ERR_INVALID_HANDLE;
  } else if (stream->kind() != MediaStream::Kind::kHistory) {
    rc = DLSDK_ERR_NOT_AVAILABLE;
    stream.reset();
  }
  return stream;
}

int historyControl(int32_t handle, uint16_t op, const wire::WireTime& time = {}) {
  int rc = DLSDK_OK;
  auto stream = historyStream(handle, rc);
  if (!stream) return rc;
  auto renderer = DisplayTable::instance().find(handle);
  // A step shows what it brings although playback is paused; it is armed
  // before the device answers because the frames may come first.
  if (renderer && (op == wire::kStepForward || op == wire::kStepBack)) renderer->armStep();
  rc = stream->control(op, 0, time);
  if (rc != DLSDK_OK || !renderer) return rc;
  if (op == wire::kFaster) renderer->changeRate(1);
  if (op == wire::kSlower) renderer->changeRate(-1);
  if (op == wire::kPosition) renderer->resetPacing();
  return rc;
}

}  // namespace

extern "C" {

int DLSDK_StartUp(void) {
  sdk().startUp();
  return DLSDK_OK;
}

int DLSDK_CleanUp(void) {
  try {
    for (auto& renderer : DisplayTable::instance().removeAll()) renderer->shutdown();
    // No drawing thread outlives the SDK (the library may be unloaded next).
    DrawPool::instance().stop();
    sdk().cleanUp();
  } catch (...) {
  }
  return DLSDK_OK;
}

int DLSDK_SetAttribute(int32_t id, int32_t value) {
  return guarded([&]() -> int { return sdk().setAttribute(id, value); });
}

int DLSDK_UserLogin(int32_t* loginHandle, const DLSDK_LoginInfo* info) {
  if (loginHandle) *loginHandle = -1;
  return guarded([&]() -> int {
    if (!loginHandle || !info) return DLSDK_ERR_INVALID_PARAMETER;
    std::string address, user, password;
    if (!fieldText(info->address, sizeof info->address, address) || address.empty() ||
        !fieldText(info->user, sizeof info->user, user) ||
        !fieldText(info->password, sizeof info->password, password) || info->commandPort == 0 ||
        info->commandPort > 65535) {
      return DLSDK_ERR_INVALID_PARAMETER;
    }
    std::shared_ptr<LoginSession> session;
    const int rc = LoginSession::open(address, static_cast<uint16_t>(info->commandPort), user, password, session);
    if (rc != DLSDK_OK) return rc;
    const int32_t handle = sdk().add(session);
    if (handle == -1) {
      session->logout();
      return DLSDK_ERR_NO_MEMORY;
    }
    *loginHandle = handle;
    return DLSDK_OK;
  });
}

int DLSDK_UserLogout(int32_t loginHandle) {
  return guarded([&]() -> int {
    auto session = sdk().remove<LoginSession>(loginHandle);
    if (!session) return DLSDK_ERR_INVALID_HANDLE;
    session->logout();
    // The handle is gone whatever the device answered.
    return DLSDK_OK;
  });
}

int DLSDK_RealStreamConnect(int32_t* streamHandle, int32_t loginHandle, const DLSDK_LiveStreamRequest* request) {
  if (streamHandle) *streamHandle = -1;
  return guarded([&]() -> int {
    if (!streamHandle || !request || request->channel < 0 || request->channel > 0xFFFF ||
        request->mediaPort == 0 ||
        (request->streamType != DLSDK_STREAM_MAIN && request->streamType != DLSDK_STREAM_SUB &&
         request->streamType != DLSDK_STREAM_THIRD)) {
      return DLSDK_ERR_INVALID_PARAMETER;
    }
    auto login = sdk().find<LoginSession>(loginHandle);
    if (!login) return DLSDK_ERR_INVALID_HANDLE;
    const auto body = wire::encode(wire::LiveOpenRequest{login->token(), static_cast<uint16_t>(request->channel),
                                                         static_cast<uint16_t>(request->streamType)});
    return openStream(streamHandle, loginHandle, MediaStream::Kind::kLive, request->mediaPort, wire::kLiveOpen, body);
  });
}

int DLSDK_RealStreamDisconnect(int32_t streamHandle) {
  return guarded([&]() -> int { return closeStream(streamHandle, MediaStream::Kind::kLive); });
}

int DLSDK_StreamMediaCB(int32_t streamHandle, DLSDK_MediaCallback callback, void* context) {
  return guarded([&]() -> int {
    auto stream = sdk().find<MediaStream>(streamHandle);
    if (!stream) return DLSDK_ERR_INVALID_HANDLE;
    stream->setCallback(callback, context);
    return DLSDK_OK;
  });
}

int DLSDK_StreamEndCB(int32_t streamHandle, DLSDK_StreamEndCallback callback, void* context) {
  return guarded([&]() -> int {
    auto stream = sdk().find<MediaStream>(streamHandle);
    if (!stream) return DLSDK_ERR_INVALID_HANDLE;
    return stream->setEndCallback(callback, context) ? DLSDK_OK : DLSDK_ERR_CONNECT;
  });
}

int DLSDK_StreamMediaControl(int32_t handle, int32_t command) {
  return guarded([&]() -> int {
    if (command != 1 && command != 2) return DLSDK_ERR_INVALID_PARAMETER;
    if (auto talk = sdk().find<TalkChannel>(handle)) return command == 1 ? talk->start() : talk->stop();
    auto stream = sdk().find<MediaStream>(handle);
    if (!stream) return DLSDK_ERR_INVALID_HANDLE;
    // A history stream started here is being fetched, not watched: the
    // device sends as fast as the frames are taken.
    return command == 1 ? stream->control(wire::kStart, 1) : stream->control(wire::kPause, 0);
  });
}

int DLSDK_ForceIFrame(int32_t loginHandle, int32_t channel) {
  return guarded([&]() -> int {
    if (channel < 0 || channel > 0xFFFF) return DLSDK_ERR_INVALID_PARAMETER;
    auto login = sdk().find<LoginSession>(loginHandle);
    if (!login) return DLSDK_ERR_INVALID_HANDLE;
    return login->request(wire::kForceKeyFrame,
                          wire::encode(wire::ForceKeyFrameRequest{static_cast<uint16_t>(channel)}), nullptr);
  });
}

int DLSDK_HistoryStreamMultiTypeQueryConnect(int32_t* queryHandle, int32_t loginHandle,
                                             const DLSDK_RecordQueryRequest* request) {
  if (queryHandle) *queryHandle = -1;
  return guarded([&]() -> int {
    wire::RecordQueryRequest r;
    if (!queryHandle || !request || request->channel < 0 || request->channel > 0xFFFF ||
        !parseQueryText(request->begin, r.begin) || !parseQueryText(request->end, r.end)) {
      return DLSDK_ERR_INVALID_PARAMETER;
    }
    r.channel = static_cast<uint16_t>(request->channel);
    r.typeMask = static_cast<uint32_t>(request->typeMask);
    auto login = sdk().find<LoginSession>(loginHandle);
    if (!login) return DLSDK_ERR_INVALID_HANDLE;
    wire::Message reply;
    if (const int rc = login->request(wire::kRecordQuery, wire::encode(r), &reply); rc != DLSDK_OK) return rc;
    std::vector<wire::RecordItem> items;
    if (!wire::decode(reply.body, items)) return DLSDK_ERR_PROTOCOL;
    const int32_t handle = sdk().add(std::make_shared<RecordQuery>(request->channel, std::move(items)));
    if (handle == -1) return DLSDK_ERR_NO_MEMORY;
    *queryHandle = handle;
    return DLSDK_OK;
  });
}

int DLSDK_HistoryStreamMultiTypeQueryNext(int32_t queryHandle, DLSDK_RecordQueryItem* item) {
  return guarded([&]() -> int {
    if (!item) return DLSDK_ERR_INVALID_PARAMETER;
    auto query = sdk().find<RecordQuery>(queryHandle);
    if (!query) return DLSDK_ERR_INVALID_HANDLE;
    const auto next = query->next();
    if (!next) return DLSDK_ERR_NO_MORE_DATA;
    std::memset(item, 0, sizeof *item);
    item->channel = query->channel();
    item->recordType = static_cast<int32_t>(next->type);
    formatQueryText(item->begin, next->begin);
    formatQueryText(item->end, next->end);
    return DLSDK_OK;
  });
}

int DLSDK_HistoryStreamQueryDisconnect(int32_t queryHandle) {
  return guarded([&]() -> int { return sdk().remove<RecordQuery>(queryHandle) ? DLSDK_OK : DLSDK_ERR_INVALID_HANDLE; });
}

int DLSDK_HistoryStreamMultiTypeCreate(int32_t* streamHandle, int32_t loginHandle,
                                       const DLSDK_HistoryStreamRequest* request) {
  if (streamHandle) *streamHandle = -1;
  return guarded([&]() -> int {
    if (!streamHandle || !request || request->channel < 0 || request->channel > 0xFFFF ||
        request->mediaPort == 0 || request->subStream > 1) {
      return DLSDK_ERR_INVALID_PARAMETER;
    }
    wire::HistoryOpenRequest r;
    r.begin = toWire(request->start);
    r.end = toWire(request->end);
    const auto from = wire::calendarSeconds(r.begin);
    const auto to = wire::calendarSeconds(r.end);
    if (!from || !to || *from > *to) return DLSDK_ERR_INVALID_PARAMETER;
    auto login = sdk().find<LoginSession>(loginHandle);
    if (!login) return DLSDK_ERR_INVALID_HANDLE;
    r.token = login->token();
    r.channel = static_cast<uint16_t>(request->channel);
    r.subStream = request->subStream;
    r.typeMask = static_cast<uint32_t>(request->typeMask);
    return openStream(streamHandle, loginHandle, MediaStream::Kind::kHistory, request->mediaPort,
                      wire::kHistoryOpen, wire::encode(r));
  });
}

int DLSDK_HistoryStreamDestroy(int32_t streamHandle) {
  return guarded([&]() -> int { return closeStream(streamHandle, MediaStream::Kind::kHistory); });
}

int DLSDK_HistoryStreamFast(int32_t streamHandle) {
  return guarded([&]() -> int { return historyControl(streamHandle, wire::kFaster); });
}

int DLSDK_HistoryStreamSlow(int32_t streamHandle) {
  return guarded([&]() -> int { return historyControl(streamHandle, wire::kSlower); });
}

int DLSDK_HistoryStreamOneByOne(int32_t streamHandle) {
  return guarded([&]() -> int { return historyControl(streamHandle, wire::kStepForward); });
}

int DLSDK_HistoryStreamOneByOneBack(int32_t streamHandle) {
  return guarded([&]() -> int { return historyControl(streamHandle, wire::kStepBack); });
}

int DLSDK_HistoryStreamPosition(int32_t streamHandle, int32_t mode, const DLSDK_Time* time) {
  return guarded([&]() -> int {
    if (mode != 2 || !time || !wire::isValidTime(toWire(*time))) return DLSDK_ERR_INVALID_PARAMETER;
    return historyControl(streamHandle, wire::kPosition, toWire(*time));
  });
}

int DLSDK_StreamGetAbsoluteTime(int32_t streamHandle, int64_t* seconds) {
  return guarded([&]() -> int {
    if (!seconds) return DLSDK_ERR_INVALID_PARAMETER;
    auto stream = sdk().find<MediaStream>(streamHandle);
    if (!stream) return DLSDK_ERR_INVALID_HANDLE;
    *seconds = stream->lastTime();
    return DLSDK_OK;
  });
}

int DLSDK_VoiceStreamConnect(DLSDK_TalkRequest* request, int32_t loginHandle, int32_t reserved) {
  if (request) request->handle = -1;
  return guarded([&]() -> int {
    if (!request) return DLSDK_ERR_INVALID_PARAMETER;
    auto login = sdk().find<LoginSession>(loginHandle);
    if (!login) return DLSDK_ERR_INVALID_HANDLE;
    std::shared_ptr<TalkChannel> talk;
    // The talk connection goes to the command port the login used.
    if (const int rc = TalkChannel::open(login->host(), login->port(), login->token(), request->codec, talk);
        rc != DLSDK_OK) {
      return rc;
    }
    const int32_t handle = sdk().add(talk);
    if (handle == -1) {
      talk->close();
      return DLSDK_ERR_NO_MEMORY;
    }
    request->handle = handle;
    return DLSDK_OK;
  });
}

int DLSDK_VoiceStreamDisconnect(int32_t talkHandle) {
  return guarded([&]() -> int {
    auto talk = sdk().remove<TalkChannel>(talkHandle);
    if (!talk) return DLSDK_ERR_INVALID_HANDLE;
    talk->close();
    return DLSDK_OK;
  });
}

int DLSDK_VoiceStreamSendData(int32_t talkHandle, const uint8_t* data, int32_t length) {
  return guarded([&]() -> int {
    if (!data || length <= 0) return DLSDK_ERR_INVALID_PARAMETER;
    auto talk = sdk().find<TalkChannel>(talkHandle);
    if (!talk) return DLSDK_ERR_INVALID_HANDLE;
    return talk->queue(data, static_cast<size_t>(length));
  });
}

}  // extern "C"
