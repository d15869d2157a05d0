#pragma once
// Process-wide values of the shell that the user-interface thread, the
// upgrade watcher and the command handlers share. Each is a single atomic
// word: writers and readers never need more than that, so the shell holds no
// lock.
#include <atomic>
#include <cstdint>

namespace kestrova {

struct ShellState {
  // The hidden main window; set before the WebSocket server starts.
  std::atomic<uint32_t> dialogWindow{0};
  // Display scale in percent (100 at 96 dots per inch).
  std::atomic<uint32_t> dpiRadio{100};
  // Set once by the upgrade watcher; while set, every command answers 1008.
  std::atomic<bool> upgradePending{false};
};

ShellState& shellState();

}  // namespace kestrova
