#pragma once
// Waiting for activity to end: a value that has stopped changing.
#include <chrono>
#include <thread>

namespace kstest {

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
