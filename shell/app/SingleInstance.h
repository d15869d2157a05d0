#pragma once
// The guard that keeps one shell per user: an abstract Unix socket named
// after the guard and the user id. The kernel releases it when the process
// ends, however it ends, so a crashed shell never blocks the next one.
#include <string>

namespace kestrova {

class SingleInstance {
 public:
  // `name` is the guard's name ("Kestrova_Flow"); the user id is appended.
  explicit SingleInstance(std::string name);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Takes the guard; false when another process holds it (or it cannot be
  // made, which is treated the same: better one shell than two).
  bool acquire();
  bool held() const { return fd_ >= 0; }
  void release();

  // The guard name from KESTROVA_INSTANCE_NAME, else "Kestrova_Flow".
  static std::string configuredName();

 private:
  std::string name_;
  int fd_ = -1;  // the bound socket while held
};

}  // namespace kestrova
