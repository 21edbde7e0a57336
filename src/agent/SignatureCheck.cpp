#include "agent/SignatureCheck.h"

#include "crypto/Sha256.h"
#include "download/NetUtil.h"
#include "platform/publickey.h"

namespace agent {

TSignatureVerdict CheckSignature(std::span<const std::string_view> keys, const std::string& message,
                                 const std::string& assinatura, std::string& error) {
    constexpr std::string_view kBlanks = " \t\r\n";
    const std::size_t first = assinatura.find_first_not_of(kBlanks);
    if (first == std::string::npos) {
        error = "a versão não tem assinatura no banco de dados";
        return TSignatureVerdict::Refused;
    }
    const std::size_t last = assinatura.find_last_not_of(kBlanks);
    const auto der =
        download::DecodeBase64(std::string_view(assinatura).substr(first, last - first + 1));
    if (!der) {
        error = "a assinatura no banco de dados não é um texto Base64 válido";
        return TSignatureVerdict::Refused;
    }

    const platform::publickey::Sha256Digest digest = crypto::Sha256(message);
    bool unusable = false;
    for (const std::string_view key : keys) {
        std::string reason;
        switch (platform::publickey::VerifyEcdsaP256(key, digest, *der, reason)) {
            case platform::publickey::Verdict::Valid:
                return TSignatureVerdict::Accepted;
            case platform::publickey::Verdict::Invalid:
                break;
            case platform::publickey::Verdict::Unavailable:
                unusable = true;
                error = reason;
                break;
        }
    }
    if (unusable) return TSignatureVerdict::Unverifiable;
    error = "nenhuma chave do publicador aceita a assinatura deste arquivo para esta versão e "
            "este cliente";
    return TSignatureVerdict::Refused;
}

}  // namespace agent
