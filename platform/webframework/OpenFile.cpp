#include "platform/webframework/OpenFile.h"

#include <unistd.h>

namespace webframework {

OpenFile::~OpenFile() { close(); }

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.release();
  }
  return *this;
}

void OpenFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace webframework
