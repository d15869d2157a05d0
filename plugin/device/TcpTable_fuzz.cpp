// Feeds arbitrary text to the TCP table reader as the kernel's IPv4 or IPv6
// table (the first byte chooses).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "plugin/device/TcpTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  ksplugs::TcpTable::parse(text, (data[0] & 1) != 0);
  return 0;
}
