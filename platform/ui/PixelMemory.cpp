#include "platform/ui/PixelMemory.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace ui {

namespace {

class HeapPixels : public PixelMemory {
 public:
  HeapPixels(std::unique_ptr<uint32_t[]> block, int stride, int rows)
      : PixelMemory(reinterpret_cast<uint8_t*>(block.get()), stride, rows), block_(std::move(block)) {}

 private:
  std::unique_ptr<uint32_t[]> block_;
};

}  // namespace

std::shared_ptr<PixelMemory> PixelMemory::allocate(int stride, int rows) {
  if (stride <= 0 || rows <= 0 || stride % 4 != 0) return nullptr;
  const size_t words = static_cast<size_t>(stride / 4) * static_cast<size_t>(rows);
  std::unique_ptr<uint32_t[]> block(new (std::nothrow) uint32_t[words]);
  if (!block) return nullptr;
  return std::make_shared<HeapPixels>(std::move(block), stride, rows);
}

void PixelMemory::keepPicture(const PixelMemory* from, int fromWidth, int fromHeight, int width, int height,
                              uint32_t fill) {
  for (int y = 0; y < std::min(height, rows_); ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data_ + static_cast<size_t>(y) * stride_);
    int kept = 0;
    if (from && y < fromHeight) {
      kept = std::min(width, fromWidth);
      if (from != this) {
        std::memcpy(row, from->data() + static_cast<size_t>(y) * from->stride(), static_cast<size_t>(kept) * 4);
      }
    }
    std::fill(row + kept, row + width, fill);
  }
}

}  // namespace ui
