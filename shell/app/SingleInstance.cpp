#include "shell/app/SingleInstance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace kestrova {

SingleInstance::SingleInstance(std::string name) : name_(std::move(name)) {}

SingleInstance::~SingleInstance() { release(); }

bool SingleInstance::acquire() {
  if (fd_ >= 0) return true;
  const std::string abstractName = name_ + std::to_string(getuid());
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // An abstract name starts with a NUL byte and lives only in the kernel.
  if (abstractName.size() + 1 > sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path + 1, abstractName.data(), abstractName.size());
  const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + abstractName.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void SingleInstance::release() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

std::string SingleInstance::configuredName() {
  const char* name = std::getenv("KESTROVA_INSTANCE_NAME");
  return name != nullptr && *name != '\0' ? name : "Kestrova_Flow";
}

}  // namespace kestrova
