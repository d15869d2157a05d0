#pragma once
// The shell process from start to exit: crash handler, single-instance
// guard, the window system, the hidden main window and its loop.

namespace kestrova {

class CKestrovaApp {
 public:
  // The whole life of the process; answers the exit status (ExitCode.h).
  // A start that fails says why on stderr.
  int run();
};

}  // namespace kestrova
