#include "plugin/overlay/OsdLattice.h"

#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "platform/devlinktext/DevLinkText.h"
#include "platform/sys/Base64.h"
#include "plugin/overlay/OsdOverlay.h"

namespace ksplugs {

static_assert(4 * ((DEVLINKTEXT_MAX_LATTICE_BYTES + 2) / 3) + 1 <= OsdLattice::kBufferBytes,
              "the base64 text of the largest lattice fits the buffer");

namespace {

constexpr int32_t kWeightBold = 700;
constexpr uint8_t kDefaultCharSet = 1;

}  // namespace

int OsdLattice::render(DeviceSettingsParam& record, void* (*allocate)(size_t count, size_t size)) {
  const OsdBlock& block = record.block.osd;
  if (block.count == 0 || block.text == nullptr || block.text[0] == nullptr) return KS_E_INVALID;
  const size_t bytes = strnlen(block.text[0], kMaxTextBytes + 1);
  if (bytes > kMaxTextBytes) return KS_E_SDK;
  const std::u16string text = OsdOverlay::convertLine(std::string_view(block.text[0], bytes));
  if (text.empty() || text.size() > DEVLINKTEXT_MAX_TEXT_UNITS) return KS_E_SDK;
  if (block.datetimeY < 0 || block.datetimeY > kMaxFontHeight) return KS_E_SDK;

  DevLinkTextLogFont font{};
  font.lfHeight = block.datetimeY == 0 ? kDefaultFontHeight : block.datetimeY;
  font.lfWeight = block.bold != 0 ? kWeightBold : 0;
  font.lfItalic = block.italic != 0 ? 1 : 0;
  font.lfUnderline = block.underline != 0 ? 1 : 0;
  font.lfStrikeOut = block.strikeOut != 0 ? 1 : 0;
  font.lfCharSet = kDefaultCharSet;
  // Every face renders as the rasteriser's own; the name is only recorded.
  std::strncpy(font.lfFaceName, "sans-serif", sizeof font.lfFaceName - 1);

  auto* buffer = static_cast<unsigned char*>(allocate(kBufferBytes, 1));
  if (buffer == nullptr) return KS_E_NO_MEMORY;
  // The raster goes into the same buffer as its text later: capped so that
  // the base64 text with its NUL fits the whole buffer.
  uint32_t length = DEVLINKTEXT_MAX_LATTICE_BYTES;
  int32_t width = 0;
  int32_t height = 0;
  if (DevLinkText_WStringToLattice(text.c_str(), &font, buffer, &length, &width, &height) != DEVLINKTEXT_OK ||
      length > DEVLINKTEXT_MAX_LATTICE_BYTES) {
    std::free(buffer);
    return KS_E_SDK;
  }
  try {
    const std::string encoded = sys::base64Encode(buffer, length);
    std::memset(buffer, 0, kBufferBytes);
    std::memcpy(buffer, encoded.c_str(), encoded.size() + 1);
  } catch (const std::bad_alloc&) {
    std::free(buffer);
    return KS_E_NO_MEMORY;
  }
  OsdResult& out = record.result.osd;
  out.outBase64 = reinterpret_cast<char*>(buffer);
  out.outWidth = width;
  out.outHeight = height;
  out.outLength = length;
  return KS_OK;
}

}  // namespace ksplugs
