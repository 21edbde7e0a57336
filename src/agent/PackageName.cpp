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
}

}  // namespace agent
