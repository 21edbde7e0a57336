#include "admin/PackageSigning.h"

#include "agent/PackageSignature.h"
#include "crypto/Sha256.h"
#include "download/NetUtil.h"
#include "platform/exception.h"
#include "platform/fs.h"
#include "platform/publickey.h"

namespace admin {

namespace {

namespace pk = platform::publickey;

pk::Sha256Digest MessageDigest(const std::string& message) {
    return crypto::Sha256(message);
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

std::string ReadKeyFile(const std::string& path, const std::string& option) {
    try {
        platform::fs::FileStream file(path, platform::fs::OpenMode::Read,
                                      platform::fs::ShareMode::DenyNone);
        std::string text(static_cast<std::size_t>(file.Size()), '\0');
        text.resize(file.Read(text.data(), text.size()));
        return text;
    } catch (const platform::Exception& error) {
        throw platform::Exception("Não foi possível ler a chave de " + option + ": " +
                                  error.Message());
    }
}

std::string SignPackage(const std::string& privateKeyPem, const NewVersion& version,
                        const std::string& sha256Hex) {
    const std::string message = agent::SignedPackageMessage(
        version.sistema, version.cliente, version.version.CompositeText(), version.nome, sha256Hex);
    std::string error;
    const auto signature = pk::SignEcdsaP256(privateKeyPem, MessageDigest(message), error);
    if (!signature)
        throw platform::Exception(
            "Não foi possível assinar o pacote: " + error +
            ". A chave de --key deve ser uma chave privada ECDSA P-256 em PEM (PKCS#8 ou "
            "SEC1); no Windows, libcrypto-3-x64.dll (OpenSSL 3) deve estar na pasta de "
            "travik-publish.exe. Nada foi publicado.");
    return download::EncodeBase64(*signature);
}

std::vector<std::string> PublicKeysFromPem(const std::string& pem) {
    std::vector<std::string> keys;
    for (std::size_t at = pem.find("-----BEGIN "); at != std::string::npos;
         at = pem.find("-----BEGIN ", at + 1)) {
        const auto labelEnd = pem.find("-----", at + 11);
        if (labelEnd == std::string::npos) break;
        const std::string label = pem.substr(at + 11, labelEnd - at - 11);
        if (label != "PUBLIC KEY")
            throw platform::Exception("O arquivo de --public-key tem um bloco \"" + label +
                                      "\": dê só chaves públicas (BEGIN PUBLIC KEY).");
        const auto end = pem.find("-----END PUBLIC KEY-----", labelEnd);
        if (end == std::string::npos) break;
        std::string body;
        for (std::size_t i = labelEnd + 5; i < end; ++i)
            if (pem[i] != '\r' && pem[i] != '\n' && pem[i] != ' ' && pem[i] != '\t') body += pem[i];
        const auto der = download::DecodeBase64(body);
        if (!der) throw platform::Exception("Uma chave de --public-key não é PEM válido.");
        keys.push_back(*der);
    }
    if (keys.empty())
        throw platform::Exception(
            "O arquivo de --public-key não tem nenhuma chave pública (BEGIN PUBLIC KEY).");
    return keys;
}

std::string SignatureProblem(const PublishedVersion& version, const std::string& sha256Hex,
                             const std::vector<std::string>& publicKeysDer) {
    if (!version.assinatura || Trimmed(*version.assinatura).empty())
        return "a versão não tem assinatura";
    const auto der = download::DecodeBase64(Trimmed(*version.assinatura));
    if (!der) return "a assinatura não é Base64";
    const auto digest = MessageDigest(agent::SignedPackageMessage(
        version.sistema, version.cliente, version.vlVersao, version.nome, sha256Hex));
    std::string problem =
        "nenhuma das chaves aceita a assinatura (outra chave, outro arquivo, "
        "ou assinada para outra versão, cliente ou nome)";
    for (const auto& key : publicKeysDer) {
        std::string error;
        switch (pk::VerifyEcdsaP256(key, digest, *der, error)) {
            case pk::Verdict::Valid:
                return std::string();
            case pk::Verdict::Invalid:
                break;
            case pk::Verdict::Unavailable:
                problem = "não foi possível verificar: " + error;
                break;
        }
    }
    return problem;
}

}  // namespace admin
