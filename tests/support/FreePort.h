#pragma once
// A TCP port on 127.0.0.1 that was free a moment ago, for tests that start
// servers.
#include <cstdint>

namespace kstest {

uint16_t freeTcpPort();

}  // namespace kstest
