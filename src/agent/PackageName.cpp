#include "agent/PackageName.h"

#include "agent/MessageText.h"
#include "platform/exception.h"

namespace agent {

namespace {

bool IsControl(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u < 32 || u == 127;
}

}  // namespace

void ValidatePackageName(const std::string& nomeVersao) {
    bool plain = !nomeVersao.empty() && nomeVersao != "." && nomeVersao != "..";
    for (const char c : nomeVersao)
        plain = plain && c != '/' && c != '\\' && c != ':' && !IsControl(c);
    if (!plain) {
        throw platform::Exception(
            "Nome de arquivo inválido em nome_versao: " + QuotedForMessage(nomeVersao) +
            ". O pacote deve ter um nome de arquivo simples, sem pasta.");
    }
}

void ValidatePackageLink(const std::string& linkSistema) {
    for (const char c : linkSistema) {
        if (IsControl(c)) {
            throw platform::Exception(
                "Endereço inválido em link_sistema: " + QuotedForMessage(linkSistema) +
                ". O endereço do pacote não pode conter caracteres de controle.");
        }
    }
    // The download speaks HTTP only: another scheme would be asked for as plain HTTP at
    // that scheme's port.
    const auto sep = linkSistema.find("://");
    if (sep != std::string::npos) {
        std::string scheme = linkSistema.substr(0, sep);
        for (char& c : scheme)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (scheme != "http" && scheme != "https") {
            throw platform::Exception(
                "Endereço inválido em link_sistema: " + QuotedForMessage(linkSistema) +
                ". O pacote é baixado somente por http:// ou https://.");
        }
    }
}

}  // namespace agent
