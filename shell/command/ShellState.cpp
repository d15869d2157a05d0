#include "shell/command/ShellState.h"

namespace kestrova {

ShellState& shellState() {
  static ShellState state;
  return state;
}

}  // namespace kestrova
