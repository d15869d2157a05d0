#include "platform/ui/PixelMemory.h"

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

}  // namespace ui
