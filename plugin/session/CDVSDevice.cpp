#include "plugin/session/CDVSDevice.h"

#include <cstdlib>
#include <cstring>

#include "platform/devlink/DevLinkSdk.h"
#include "platform/sys/Utf.h"
#include "plugin/api/SdkResult.h"
#include "plugin/session/StreamKind.h"

namespace WebPlug_NCL {

using ksplugs::StreamKind;

namespace {

template <size_t N>
std::string fieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

template <size_t N>
std::u16string fieldText(const char16_t (&field)[N]) {
  return std::u16string(field, sys::utf16Length(field, N));
}

}  // namespace

CDVSDevice::~CDVSDevice() = default;

void CDVSDevice::copyFrom(DeviceCreateParam& record) {
  uniqueId_ = record.uniqueId;
  ownerConnection_.store(record.connectionId, std::memory_order_release);
  resShowBitrate_ = fieldText(record.resShowBitrate);
  resMainStream_ = fieldText(record.resMainStream);
  resSubStream_ = fieldText(record.resSubStream);
  resThirdStream_ = fieldText(record.resThirdStream);
  multilens_ = record.multilens != 0;
  protocol_ = record.protocol;
  address_ = fieldText(record.address);
  user_ = fieldText(record.usr);
  password_ = fieldText(record.pwd);
  commandPort_ = record.cmdPort;
  mediaPort_ = record.mediaPort;
  channelCount_ = record.totalChannel < 0 ? 0 : record.totalChannel;
  mac_ = fieldText(record.MAC);
  for (char& c : mac_) {
    if (c == ':') c = '-';
  }
  cert_ = fieldText(record.cert);
  role_ = fieldText(record.role);
  keeper_ = std::make_shared<LoginKeeper>(LoginKeeper::Account{address_, commandPort_, user_, password_});
  // Taken last: nothing after it can throw, so a copy that fails part-way
  // leaves the block with the caller, who frees it.
  streams_.reset(record.stream);
  record.stream = nullptr;
}

const std::u16string& CDVSDevice::menuText(uint32_t menuId) const {
  static const std::u16string kNone;
  switch (menuId) {
    case kMenuShowBitrate:
      return resShowBitrate_;
    case StreamKind::kMenuMain:
      return resMainStream_;
    case StreamKind::kMenuSub:
      return resSubStream_;
    case StreamKind::kMenuThird:
      return resThirdStream_;
    default:
      return kNone;
  }
}

uint8_t CDVSDevice::streamOf(int channel) const {
  if (channel < 0 || channel >= channelCount_ || !streams_) return kDefaultStream;
  return streams_.get()[channel];
}

void CDVSDevice::updateOwner(uint32_t connection) {
  if (connection != 0) ownerConnection_.store(connection, std::memory_order_release);
}

int CDVSDevice::login() { return keeper_->login(); }

int CDVSDevice::logout() {
  std::lock_guard lock(handleLock_);
  // Talk needs the login.
  talkStopLocked();
  keeper_->logout();
  return KS_OK;
}

int CDVSDevice::talkStart(int32_t codec) {
  std::lock_guard lock(handleLock_);
  const int32_t login = loginHandle();
  if (login == -1) return KS_E_INVALID;
  if (talkHandle_.load() != -1) return KS_OK;
  DLSDK_TalkRequest request;
  std::memset(&request, 0, sizeof request);
  request.handle = -1;
  request.reserved1 = 0;
  request.codec = codec;
  request.reserved2 = 1;
  int code = DLSDK_VoiceStreamConnect(&request, login, request.reserved1);
  if (code == DLSDK_OK && request.handle == -1) code = DLSDK_ERR_FAILED;
  if (code == DLSDK_OK) code = DLSDK_StreamMediaControl(request.handle, 1);
  if (code != DLSDK_OK) {
    // Never leave a half-opened talk channel behind.
    if (request.handle != -1) DLSDK_VoiceStreamDisconnect(request.handle);
    return ksplugs::MapSdkResult(code);
  }
  talkHandle_.store(request.handle, std::memory_order_release);
  // Without a microphone the channel sends silence.
  microphone_ = ksplugs::TalkMicrophone::open(request.handle, codec);
  return KS_OK;
}

int CDVSDevice::talkStop() {
  std::lock_guard lock(handleLock_);
  talkStopLocked();
  return KS_OK;
}

bool CDVSDevice::talkHearsMicrophone() {
  std::lock_guard lock(handleLock_);
  return microphone_ && !microphone_->ended();
}

void CDVSDevice::talkStopLocked() {
  // The capture ends before the channel it feeds.
  microphone_.reset();
  const int32_t handle = talkHandle_.exchange(-1);
  if (handle != -1) {
    DLSDK_StreamMediaControl(handle, 2);
    DLSDK_VoiceStreamDisconnect(handle);
  }
}

}  // namespace WebPlug_NCL
