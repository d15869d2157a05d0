#pragma once
// The number in the names of the library's own files: recordings and
// snapshots share one counter, so no two files of a run get the same number.
//
// Threads: any; the counter is one atomic.
#include <atomic>
#include <cstdint>

namespace ksplugs {

class FileCounter {
 public:
  // The next file number: 1 for the first file.
  int32_t next() { return value_.fetch_add(1, std::memory_order_relaxed) + 1; }
  // Sets the counter so that the next number is value + 1.
  void set(int32_t value) { value_.store(value, std::memory_order_relaxed); }

 private:
  std::atomic<int32_t> value_{0};
};

}  // namespace ksplugs
