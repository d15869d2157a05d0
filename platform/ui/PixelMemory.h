#pragma once
// The memory under a window's image: rows of 32-bit pixels that the window
// system draws into and that a desktop backend may keep and show as they
// are, without copying them (an X11 shared segment, the headless desktop's
// record of what a window presented). A backend allocates it
// (Backend::allocatePixels), so it can be memory its display reads.
//
// Threads: mutex() guards the pixels between writers (the window system
// holds it with the window's image lock) and readers in this process (the
// headless desktop's captures). Readers outside the process, a display
// server reading after a present returned, are waited for with
// waitReaders() before the pixels change.
#include <cstdint>
#include <memory>
#include <mutex>

namespace ui {

class PixelMemory {
 public:
  virtual ~PixelMemory() = default;
  PixelMemory(const PixelMemory&) = delete;
  PixelMemory& operator=(const PixelMemory&) = delete;

  uint8_t* data() const { return data_; }
  int stride() const { return stride_; }  // bytes per row
  int rows() const { return rows_; }
  std::recursive_mutex& mutex() { return mutex_; }
  // Returns once nothing outside this process still reads what was shown
  // from this memory; ordinary memory has no such reader.
  virtual void waitReaders() {}

  // Makes the first rows of this memory a width x height picture: what fits
  // of `from`'s fromWidth x fromHeight picture stays (`from` may be this
  // memory, whose rows then stay where they are), the rest is `fill`. The
  // caller holds what guards both.
  void keepPicture(const PixelMemory* from, int fromWidth, int fromHeight, int width, int height, uint32_t fill);

  // Ordinary memory of rows x stride bytes; null when there is not enough.
  static std::shared_ptr<PixelMemory> allocate(int stride, int rows);

 protected:
  PixelMemory(uint8_t* data, int stride, int rows) : data_(data), stride_(stride), rows_(rows) {}

 private:
  uint8_t* const data_;
  const int stride_;
  const int rows_;
  std::recursive_mutex mutex_;
};

}  // namespace ui
