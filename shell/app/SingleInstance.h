#pragma once
// The guard that keeps one shell per user: a listening Unix socket in the
// abstract namespace, named after the guard and the user id. The kernel
// releases it when the process ends, however it ends, so a crashed shell
// never blocks the next one.
//
// The abstract namespace is shared by every user of the machine, so a name
// that is taken proves nothing by itself: the guard connects to its holder
// and asks the kernel for the holder's user (SO_PEERCRED). Only a holder of
// the same user counts as another instance; a name held by another user is
// passed over for the next one ("<name><uid>-1", "-2", ...), which every
// shell of ours tries in the same order.
//
// Threads: acquire() and release() on one thread. While held, a small
// thread accepts and closes the connections of guards that come to check.
#include <string>
#include <thread>

namespace kestrova {

class SingleInstance {
 public:
  enum class Outcome {
    kAcquired,        // this process is the user's shell now
    kAlreadyRunning,  // another process of this user holds the guard
    kFailed,          // the guard could not be made at all
  };

  // `name` is the guard's name ("Kestrova_Flow"); the user id is appended.
  explicit SingleInstance(std::string name);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  Outcome acquire();
  bool held() const { return fd_ >= 0; }
  void release();

  // The guard name from KESTROVA_INSTANCE_NAME, else "Kestrova_Flow".
  static std::string configuredName();

 private:
  std::string name_;
  int fd_ = -1;          // the listening socket while held; acquire()/release() only
  std::thread drainer_;  // accepts and closes checking connections while held
};

}  // namespace kestrova
