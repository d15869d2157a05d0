#pragma once
// Standard base64 (RFC 4648 alphabet, '=' padding, no line breaks).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sys {

std::string base64Encode(const void* data, size_t size);
inline std::string base64Encode(std::string_view bytes) { return base64Encode(bytes.data(), bytes.size()); }

// Strict decoding: the length must be a multiple of 4, only alphabet
// characters and trailing padding are accepted. Returns nothing on any error.
std::optional<std::vector<uint8_t>> base64Decode(std::string_view text);

}  // namespace sys
