#include "agent/PackageName.h"

#include "agent/MessageText.h"
#include "platform/exception.h"

namespace agent {

void ValidatePackageName(const std::string& nomeVersao) {
    bool plain = !nomeVersao.empty() && nomeVersao != "." && nomeVersao != "..";
    for (const char c : nomeVersao) {
        const unsigned char u = static_cast<unsigned char>(c);
        plain = plain && c != '/' && c != '\\' && c != ':' && u >= 32 && u != 127;
    }
    if (!plain) {
        throw platform::Exception(
            "Nome de arquivo inválido em nome_versao: " + QuotedForMessage(nomeVersao) +
            ". O pacote deve ter um nome de arquivo simples, sem pasta.");
    }
}

}  // namespace agent
