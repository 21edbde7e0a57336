// The public-key operations through OpenSSL's libcrypto, loaded by name at run time (on
// Windows its DLL beside the program first). The POSIX backend uses it for all of them,
// the Windows backend for signing, which the system's libraries cannot do with a PEM key.
#pragma once

#include "platform/publickey.h"

namespace platform::libcrypto {

std::optional<std::string> RsaOaepEncrypt(std::string_view pem, std::string_view message,
                                          std::string& error);
publickey::Verdict VerifyEcdsaP256(std::string_view spkiDer, const publickey::Sha256Digest& digest,
                                   std::string_view derSignature, std::string& error);
std::optional<std::string> SignEcdsaP256(std::string_view privateKeyPem,
                                         const publickey::Sha256Digest& digest, std::string& error);

}  // namespace platform::libcrypto
