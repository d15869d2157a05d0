#pragma once
// The shell process from start to exit: crash handler, single-instance
// guard, the window system, the hidden main window and its loop.

namespace kestrova {

class CKestrovaApp {
 public:
  // The whole life of the process; answers the exit status (0, also when
  // another instance is already running).
  int run();
};

}  // namespace kestrova
