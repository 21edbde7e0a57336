// Ed25519 signatures (RFC 8032), signing only. The secret may have any length: its
// SHA-512 gives the secret scalar (first half, clamped) and the prefix of the per-message
// nonce (second half). With a 32-byte seed this is RFC 8032's Ed25519; MariaDB's ed25519
// accounts use the password itself as the secret.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace crypto {

using TEd25519PublicKey = std::array<std::uint8_t, 32>;
using TEd25519Signature = std::array<std::uint8_t, 64>;

// The encoded public key of a secret.
TEd25519PublicKey Ed25519PublicKey(std::string_view secret);
// The signature of `message` (the encoded point R, then the scalar S).
TEd25519Signature Ed25519Sign(std::string_view secret, std::string_view message);

}  // namespace crypto
