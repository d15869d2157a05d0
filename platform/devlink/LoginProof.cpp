#include "platform/devlink/LoginProof.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstring>

namespace devlink {
namespace {

// Separates this use of the key from any other the protocol may add later.
constexpr char kProofLabel[] = "DevLink login 2";

}  // namespace

LoginKey::~LoginKey() { OPENSSL_cleanse(bytes_.data(), bytes_.size()); }

bool LoginKey::derive(const std::string& password, std::span<const uint8_t> salt, uint32_t iterations, LoginKey& out) {
  if (iterations == 0 || iterations > wire::kMaxKeyIterations) return false;
  return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                           static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                           static_cast<int>(kSize), out.bytes_.data()) == 1;
}

std::array<uint8_t, wire::kProofSize> LoginKey::proof(std::span<const uint8_t, wire::kServerNonceSize> serverNonce,
                                                      std::span<const uint8_t, wire::kClientNonceSize> clientNonce,
                                                      const std::string& user) const {
  // The message is fixed in size: label, both nonces, the user name as its
  // zero-padded wire field (a name longer than the field never logs in).
  uint8_t message[sizeof kProofLabel - 1 + wire::kServerNonceSize + wire::kClientNonceSize + wire::kNameFieldSize]{};
  uint8_t* p = message;
  std::memcpy(p, kProofLabel, sizeof kProofLabel - 1);
  p += sizeof kProofLabel - 1;
  std::memcpy(p, serverNonce.data(), serverNonce.size());
  p += serverNonce.size();
  std::memcpy(p, clientNonce.data(), clientNonce.size());
  p += clientNonce.size();
  std::memcpy(p, user.data(), std::min(user.size(), wire::kNameFieldSize - 1));

  std::array<uint8_t, wire::kProofSize> out{};
  unsigned int length = 0;
  if (!HMAC(EVP_sha256(), bytes_.data(), static_cast<int>(bytes_.size()), message, sizeof message, out.data(),
            &length) ||
      length != out.size()) {
    // A proof that cannot be made is one no device accepts: fill it with
    // fresh random bytes rather than anything predictable.
    if (RAND_bytes(out.data(), static_cast<int>(out.size())) != 1) out.fill(0);
  }
  return out;
}

bool randomBytes(std::span<uint8_t> out) { return RAND_bytes(out.data(), static_cast<int>(out.size())) == 1; }

bool proofsEqual(std::span<const uint8_t, wire::kProofSize> a, std::span<const uint8_t, wire::kProofSize> b) {
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace devlink
