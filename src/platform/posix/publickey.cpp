// Every public-key operation through OpenSSL's libcrypto, loaded at run time.
#include "platform/publickey.h"

#include "platform/libcrypto.h"

namespace platform::publickey {

std::optional<std::string> RsaOaepEncrypt(std::string_view pem, std::string_view message,
                                          std::string& error) {
    return libcrypto::RsaOaepEncrypt(pem, message, error);
}

Verdict VerifyEcdsaP256(std::string_view spkiDer, const Sha256Digest& digest,
                        std::string_view derSignature, std::string& error) {
    return libcrypto::VerifyEcdsaP256(spkiDer, digest, derSignature, error);
}

std::optional<std::string> SignEcdsaP256(std::string_view privateKeyPem, const Sha256Digest& digest,
                                         std::string& error) {
    return libcrypto::SignEcdsaP256(privateKeyPem, digest, error);
}

}  // namespace platform::publickey
