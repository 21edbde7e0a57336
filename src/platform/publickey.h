// Public-key cryptography of the system: OpenSSL's libcrypto on POSIX (loaded by name at
// run time), the system's CryptoAPI and CNG on Windows (loaded by name). Nothing here is
// our own arithmetic; these are the operations the database login, the package
// signatures and the release tool need.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform::publickey {

using Sha256Digest = std::array<std::uint8_t, 32>;

// RSA-OAEP (SHA-1, MGF1 with SHA-1) encryption of `message` under an RSA public key in
// PEM ("BEGIN PUBLIC KEY" or "BEGIN RSA PUBLIC KEY"). The cipher text, or nothing with a
// reason in `error`.
std::optional<std::string> RsaOaepEncrypt(std::string_view pem, std::string_view message,
                                          std::string& error);

enum class Verdict {
    Valid,        // the key accepts the signature
    Invalid,      // a well-formed key that does not accept it
    Unavailable,  // the key could not be used or the system's library is missing (`error`)
};

// ECDSA P-256 verification of a DER signature (SEQUENCE of r and s) over a SHA-256
// digest, with the public key as DER SubjectPublicKeyInfo.
Verdict VerifyEcdsaP256(std::string_view spkiDer, const Sha256Digest& digest,
                        std::string_view derSignature, std::string& error);

// ECDSA P-256 signature (DER) over a SHA-256 digest with a private key in PEM (PKCS#8
// "BEGIN PRIVATE KEY" or SEC1 "BEGIN EC PRIVATE KEY"). Needs the OpenSSL libraries on
// every platform (on Windows their DLLs beside the program); nothing with a reason in
// `error` otherwise.
std::optional<std::string> SignEcdsaP256(std::string_view privateKeyPem, const Sha256Digest& digest,
                                         std::string& error);

}  // namespace platform::publickey
