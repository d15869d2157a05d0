#pragma once
// The exit statuses of the shell program. Each failure that ends the shell
// at start-up has its own status and a line on stderr that says why; README
// lists them.
namespace kestrova {

enum ExitCode : int {
  kExitOk = 0,               // ended normally (closed, a signal, an upgrade)
  kExitNoWindow = 1,         // the hidden main window could not be created
  kExitAlreadyRunning = 2,   // another shell of the same user is running
  kExitNoServer = 3,         // the WebSocket server could not start (port taken or not a port)
  kExitNoInstanceGuard = 4,  // the single-instance guard could not be made
};

}  // namespace kestrova
