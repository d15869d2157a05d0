#pragma once
// An open file that a handler hands to the server to be sent as the body of
// its answer. The server streams it in small pieces, so a response costs the
// same memory whatever the file's size. Move-only; closes the descriptor
// unless the server took it over.
#include <cstdint>

namespace webframework {

class OpenFile {
 public:
  OpenFile() = default;
  // Takes over `fd` (opened for reading, positioned at the start).
  explicit OpenFile(int fd) : fd_(fd) {}
  ~OpenFile();
  OpenFile(OpenFile&& other) noexcept : fd_(other.release()) {}
  OpenFile& operator=(OpenFile&& other) noexcept;
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Gives the descriptor up without closing it; -1 when none.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void close();

 private:
  int fd_ = -1;
};

}  // namespace webframework
