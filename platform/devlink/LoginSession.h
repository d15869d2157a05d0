#pragma once
// A login on a device: the command connection and the session token that
// media and talk connections present. Requests on it run one at a time on
// the caller's thread, each bounded by the command time-out.
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "platform/devlink/HandleObject.h"
#include "platform/devlink/Socket.h"
#include "platform/devlink/WireFormat.h"

namespace devlink {

class LoginSession : public HandleObject {
 public:
  // Connects and logs in; answers a DLSDK_ code.
  static int open(const std::string& host, uint16_t port, const std::string& user, const std::string& password,
                  std::shared_ptr<LoginSession>& out);

  // Sends a request and waits for its reply. Answers the transport's code,
  // else the device's result code (with the reply in *reply). Any transport
  // or protocol failure closes the connection for good.
  int request(uint16_t type, std::span<const uint8_t> body, wire::Message* reply);

  int logout();
  void close() override;

  const std::string& host() const { return host_; }
  uint16_t port() const { return port_; }
  wire::SessionToken token() const { return token_; }
  int channelCount() const { return channelCount_; }

 private:
  LoginSession(std::string host, uint16_t port, Socket socket)
      : host_(std::move(host)), port_(port), socket_(std::move(socket)) {}
  // The challenge and the proof (LoginProof); answers a DLSDK_ code and, on
  // success, sets the token and the channel count.
  int authenticate(const std::string& user, const std::string& password);
  int requestLocked(uint16_t type, std::span<const uint8_t> body, wire::Message* reply);

  const std::string host_;
  const uint16_t port_;
  wire::SessionToken token_;  // set once at login, before the session is shared
  int channelCount_ = 0;      // set once at login, before the session is shared

  std::mutex mutex_;
  Socket socket_;              // guarded by mutex_ (shutdownBoth() also without it)
  wire::MessageReader reader_; // guarded by mutex_
  uint32_t nextRequestId_ = 1; // guarded by mutex_
  bool broken_ = false;        // guarded by mutex_
};

}  // namespace devlink
