#pragma once
// Arrays handed back in a settings record's result area: zero-filled malloc
// blocks, which the shell releases with free(). A count whose byte size
// would overflow gets no block.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace ksplugs {

template <typename T>
T* allocateResultArray(size_t count) {
  if (count == 0 || count > std::numeric_limits<size_t>::max() / sizeof(T)) return nullptr;
  return static_cast<T*>(std::calloc(count, sizeof(T)));
}

}  // namespace ksplugs
