#include "shell/app/SingleInstance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace kestrova {
namespace {

// Names held by other users that are passed over before giving up.
constexpr int kMaxForeignHolders = 8;

struct AbstractAddress {
  sockaddr_un address{};
  socklen_t length = 0;
};

bool makeAddress(const std::string& name, AbstractAddress& out) {
  out.address.sun_family = AF_UNIX;
  // An abstract name starts with a NUL byte and lives only in the kernel.
  if (name.size() + 1 > sizeof(out.address.sun_path)) return false;
  std::memcpy(out.address.sun_path + 1, name.data(), name.size());
  out.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  return true;
}

// The user of the process that listens on `address`: true with `uid` set
// when it could be asked. The connection waits for nothing: a holder whose
// queue is full cannot be asked.
bool holderUser(const AbstractAddress& address, uid_t& uid) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  bool known = false;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length) == 0) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    known = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 && size == sizeof credentials;
    if (known) uid = credentials.uid;
  }
  close(fd);
  return known;
}

}  // namespace

SingleInstance::SingleInstance(std::string name) : name_(std::move(name)) {}

SingleInstance::~SingleInstance() { release(); }

SingleInstance::Outcome SingleInstance::acquire() {
  if (fd_ >= 0) return Outcome::kAcquired;
  const uid_t self = getuid();
  const std::string base = name_ + std::to_string(self);
  for (int attempt = 0; attempt <= kMaxForeignHolders; ++attempt) {
    AbstractAddress address;
    if (!makeAddress(attempt == 0 ? base : base + "-" + std::to_string(attempt), address)) return Outcome::kFailed;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return Outcome::kFailed;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length) == 0) {
      if (listen(fd, 16) != 0) {
        close(fd);
        return Outcome::kFailed;
      }
      fd_ = fd;
      // Checking guards only connect, read the credentials and close; their
      // connections are taken off the queue so that it never fills up.
      drainer_ = std::thread([fd] {
        for (;;) {
          const int peer = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
          if (peer >= 0) {
            close(peer);
          } else if (errno != EINTR && errno != ECONNABORTED) {
            return;  // shut down by release()
          }
        }
      });
      return Outcome::kAcquired;
    }
    const int bindError = errno;
    close(fd);
    if (bindError != EADDRINUSE) return Outcome::kFailed;
    uid_t holder = 0;
    // A holder that cannot be asked is taken for one of ours: better one
    // shell than two.
    if (!holderUser(address, holder) || holder == self) return Outcome::kAlreadyRunning;
  }
  return Outcome::kFailed;
}

void SingleInstance::release() {
  if (fd_ >= 0) {
    // Wakes the drainer's accept() with an error before the descriptor goes.
    shutdown(fd_, SHUT_RDWR);
    if (drainer_.joinable()) drainer_.join();
    close(fd_);
    fd_ = -1;
  }
}

std::string SingleInstance::configuredName() {
  const char* name = std::getenv("KESTROVA_INSTANCE_NAME");
  return name != nullptr && *name != '\0' ? name : "Kestrova_Flow";
}

}  // namespace kestrova
