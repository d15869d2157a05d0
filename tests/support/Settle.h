#pragma once
// Polling real state with a deadline: a condition that comes true, and a
// value that has stopped changing.
#include <chrono>
#include <thread>

namespace kstest {

// Polls `condition` until it holds; false when it still did not at `limit`.
// For state another thread changes without telling this one.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Polls value() until it has kept one value for `quiet`; false when it was
// still changing at `limit`. For checks that something has stopped (no more
// frames after a stop, no more bytes after a close): a slow run only takes
// longer to settle, and something that never stops fails at the limit.
template <class Read>
bool settles(Read value, std::chrono::milliseconds quiet, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + limit;
  auto last = value();
  auto since = Clock::now();
  while (Clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto now = value();
    if (now != last) {
      last = now;
      since = Clock::now();
    } else if (Clock::now() - since >= quiet) {
      return true;
    }
  }
  return false;
}

}  // namespace kstest
