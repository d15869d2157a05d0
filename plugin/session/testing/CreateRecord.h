#pragma once
// Tests only: a complete creation record as the shell fills it.
#include <cstdint>
#include <cstdlib>
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

}  // namespace ksplugs::testing
