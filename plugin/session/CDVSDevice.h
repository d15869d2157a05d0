#pragma once
// One device's session: the connection data copied from the creation record,
// the cell-menu texts the page supplied, and the device's login and talk
// handles.
//
// While talk is open the microphone (TalkMicrophone) feeds the channel when
// the process has one; talkStop() and logout() end it.
//
// Threads: the copied data is written once by copyFrom() before the session
// is shared and only read afterwards. The owner connection changes with any
// command that names one, so it is atomic. The login lives in a LoginKeeper
// (made anew by copyFrom() only) that the work connecting live streams
// shares, so that work may outlive the session. The talk handle is read
// without a lock (atomic) and changed only under handleLock_, so that two
// commands on the same device cannot both open a talk channel; the
// microphone lives under handleLock_ too.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "plugin/api/ksplugs.h"
#include "plugin/session/LoginKeeper.h"
#include "plugin/session/TalkMicrophone.h"

namespace WebPlug_NCL {

class CDVSDevice {
 public:
  // Menu command id of the video cell's bitrate item; the stream items are
  // StreamKind's.
  static constexpr uint32_t kMenuShowBitrate = 0x8011;
  // The stream byte answered for a channel the device does not have.
  static constexpr uint8_t kDefaultStream = 2;

  CDVSDevice() = default;
  ~CDVSDevice();
  CDVSDevice(const CDVSDevice&) = delete;
  CDVSDevice& operator=(const CDVSDevice&) = delete;

  // Fills every field from the record and takes over its `stream` block (the
  // record's pointer becomes null). Text fields are read only up to their
  // width, so an unterminated field cannot run past the record.
  void copyFrom(DeviceCreateParam& record);

  // Logs in unless logged in already. Answers 0 or the mapped SDK code; a
  // failure without a specific code answers 3007 (login failed).
  int login();
  // Ends talk when it is open, then logs out when logged in. Always 0.
  int logout();
  // Opens a talk channel with the codec, starts sending and starts the
  // microphone. Needs a login (1000 otherwise); 0 when talk runs already.
  int talkStart(int32_t codec);
  // Stops the microphone, then stops and closes the talk channel when one
  // is open. Always 0.
  int talkStop();
  // The microphone feeds the open talk channel.
  bool talkHearsMicrophone();

  // The page's text for a cell menu item, empty for an unknown id.
  const std::u16string& menuText(uint32_t menuId) const;
  // The stream byte of a channel; kDefaultStream outside the channel range.
  uint8_t streamOf(int channel) const;

  uint32_t uniqueId() const { return uniqueId_; }
  uint32_t ownerConnection() const { return ownerConnection_.load(std::memory_order_acquire); }
  // A non-zero connection becomes the owner; zero changes nothing.
  void updateOwner(uint32_t connection);

  uint32_t protocol() const { return protocol_; }
  const std::string& user() const { return user_; }
  const std::string& password() const { return password_; }
  uint32_t commandPort() const { return commandPort_; }
  uint32_t mediaPort() const { return mediaPort_; }
  // The MAC text with '-' where the record had ':'; it names the device's folders.
  const std::string& macText() const { return mac_; }
  const std::string& certificate() const { return cert_; }
  const std::string& role() const { return role_; }
  int32_t talkHandle() const { return talkHandle_.load(std::memory_order_acquire); }

  // The host address used to log in.
  const std::string& address() const { return address_; }
  int channelCount() const { return channelCount_; }
  // -1 while not logged in.
  int32_t loginHandle() const { return keeper_->handle(); }
  // The login, for work that may outlive the session.
  std::shared_ptr<LoginKeeper> loginKeeper() const { return keeper_; }
  bool talkActive() const { return talkHandle() != -1; }
  bool multilens() const { return multilens_; }

 private:
  // Written by copyFrom() only, before the session is shared.
  uint32_t uniqueId_ = 0;
  std::u16string resShowBitrate_;
  std::u16string resMainStream_;
  std::u16string resSubStream_;
  std::u16string resThirdStream_;
  bool multilens_ = false;
  uint32_t protocol_ = 0;
  std::string address_;
  std::string user_ = "admin";
  std::string password_;
  uint32_t commandPort_ = 6060;
  uint32_t mediaPort_ = 6066;
  int channelCount_ = 0;
  std::string mac_;
  // The record's malloc block of channelCount_ bytes; freed with free().
  std::unique_ptr<uint8_t, void (*)(void*)> streams_{nullptr, &std::free};
  std::string cert_;
  std::string role_;

  std::atomic<uint32_t> ownerConnection_{0};
  // Replaced by copyFrom() only; before it, a login with the defaults above.
  std::shared_ptr<LoginKeeper> keeper_ =
      std::make_shared<LoginKeeper>(LoginKeeper::Account{address_, commandPort_, user_, password_});

  std::mutex handleLock_;
  std::atomic<int32_t> talkHandle_{-1};                  // changed only under handleLock_
  std::unique_ptr<ksplugs::TalkMicrophone> microphone_;  // guarded by handleLock_

  void talkStopLocked();
};

}  // namespace WebPlug_NCL
