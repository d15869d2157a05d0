// Feeds arbitrary bytes to what the shell's services read from outside: a
// page's base64 WAV (decoded, parsed and transcoded with a bounded number of
// samples) and an upgrade service's reply. The first byte chooses.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sys/Base64.h"
#include "shell/services/AudioTranscoder.h"
#include "shell/services/UpgradeWatcher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 4) {
    case 0: {
      // The bytes as a WAV file, through the page's base64 entry point.
      std::string out;
      kestrova::transcodeBase64Wav(sys::base64Encode(text), 1 << 16, (data[0] & 4) != 0, out);
      break;
    }
    case 1: {
      std::string out;
      kestrova::transcodeBase64Wav(text, 1 << 16, false, out);
      break;
    }
    case 2: {
      kestrova::WavInfo info;
      kestrova::parseWav(std::span<const uint8_t>(data + 1, size - 1), info);
      break;
    }
    default: {
      const std::string url = kestrova::UpgradeWatcher::packageUrl(std::string(text));
      kestrova::UpgradeWatcher::sameSchemeAndHost("http://upgrade.example:8090", url);
      break;
    }
  }
  return 0;
}
