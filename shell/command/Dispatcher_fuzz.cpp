// Feeds arbitrary text to the shell's command dispatcher as a page's message
// and checks that a reply comes out. The library is not started, so every
// command that reaches it answers at once; the global-control commands,
// which reach out to cloud services, are left out.
#include <strings.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "shell/command/Dispatcher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (size_t at = 0; at + 10 <= text.size(); ++at) {
    if (strncasecmp(text.c_str() + at, "globalctrl", 10) == 0) return 0;
  }
  static kestrova::Dispatcher dispatcher{kestrova::CommandEnv{}};
  std::string reply;
  uint32_t msgId = 0;
  dispatcher.dispatch(text.c_str(), text.size(), 1, 40000, reply, &msgId);
  // Every message is answered: the standard reply at least.
  if (reply.empty()) std::abort();
  return 0;
}
