#pragma once
// Tests only: a complete creation record as the shell fills it, and a
// private temporary folder so that tests never wipe each other's work folders.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/sys/Utf.h"
#include "plugin/api/ksplugs.h"

namespace ksplugs::testing {

// Owns the record's stream block while the record still holds it.
struct CreateRecord {
  DeviceCreateParam param{};

  CreateRecord(const std::string& mac, uint16_t commandPort, uint16_t mediaPort, int channels = 4,
               uint32_t connection = 1, const std::string& user = "admin", const std::string& password = "admin") {
    param.protocol = 1;
    param.totalChannel = channels;
    param.cmdPort = commandPort;
    param.mediaPort = mediaPort;
    param.connectionId = connection;
    param.stream = static_cast<uint8_t*>(std::calloc(channels > 0 ? channels : 1, 1));
    for (int i = 0; i < channels; ++i) param.stream[i] = static_cast<uint8_t>(i % 2 == 0 ? 1 : 2);
    sys::copyUtf8Bounded(param.MAC, sizeof param.MAC, mac);
    sys::copyUtf8Bounded(param.usr, sizeof param.usr, user);
    sys::copyUtf8Bounded(param.pwd, sizeof param.pwd, password);
    sys::copyUtf8Bounded(param.address, sizeof param.address, "127.0.0.1");
    sys::copyUtf16Bounded(param.resShowBitrate, 64, u"Show bitrate");
    sys::copyUtf16Bounded(param.resMainStream, 64, u"Main stream");
    sys::copyUtf16Bounded(param.resSubStream, 64, u"Sub stream");
    sys::copyUtf16Bounded(param.resThirdStream, 64, u"Third stream");
  }
  ~CreateRecord() { std::free(param.stream); }
  CreateRecord(const CreateRecord&) = delete;
  CreateRecord& operator=(const CreateRecord&) = delete;
};

// Points TMPDIR at a fresh folder for the object's life and removes it after.
class ScopedTempDir {
 public:
  ScopedTempDir() {
    if (const char* old = std::getenv("TMPDIR")) previous_ = old;
    std::string pattern = std::filesystem::temp_directory_path().string() + "/kestrova-devices-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    setenv("TMPDIR", path_.c_str(), 1);
  }
  ~ScopedTempDir() {
    if (previous_) {
      setenv("TMPDIR", previous_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::optional<std::string> previous_;
};

}  // namespace ksplugs::testing
