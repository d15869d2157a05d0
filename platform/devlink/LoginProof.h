#pragma once
// The cryptography of the DevLink login, shared by the SDK and the device
// simulator: random nonces, the key derived from a password, the proof a
// client sends and its constant-time check. Built on OpenSSL's libcrypto.
//
// key   = PBKDF2-HMAC-SHA-256(password, salt, iterations), 32 bytes
// proof = HMAC-SHA-256(key, "DevLink login 2" || server nonce || client nonce
//                           || user field (32 bytes, zero-padded))
//
// Neither the password nor the key is ever logged; LoginKey wipes itself.
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "platform/devlink/WireFormat.h"

namespace devlink {

class LoginKey {
 public:
  static constexpr size_t kSize = 32;
  LoginKey() = default;
  ~LoginKey();
  LoginKey(const LoginKey& other) = default;
  LoginKey& operator=(const LoginKey& other) = default;

  // False when the derivation failed (out of memory in libcrypto).
  static bool derive(const std::string& password, std::span<const uint8_t> salt, uint32_t iterations, LoginKey& out);

  std::array<uint8_t, wire::kProofSize> proof(std::span<const uint8_t, wire::kServerNonceSize> serverNonce,
                                              std::span<const uint8_t, wire::kClientNonceSize> clientNonce,
                                              const std::string& user) const;

 private:
  std::array<uint8_t, kSize> bytes_{};
};

// Fills `out` from the system's random generator; false when it cannot.
bool randomBytes(std::span<uint8_t> out);

// Equal contents, compared in time that does not depend on where they differ.
bool proofsEqual(std::span<const uint8_t, wire::kProofSize> a, std::span<const uint8_t, wire::kProofSize> b);

}  // namespace devlink
