#include "agent/PackageSignature.h"

namespace agent {

std::string SignedPackageMessage(long long idSistema, long long codigoCliente,
                                 const std::string& versao, const std::string& nomeVersao,
                                 const std::string& sha256Hex) {
    return "travik-package-v1\nid_sistema=" + std::to_string(idSistema) +
           "\ncodigo_cliente=" + std::to_string(codigoCliente) + "\nversao=" + versao +
           "\nnome_versao=" + nomeVersao + "\nsha256=" + sha256Hex + "\n";
}

}  // namespace agent
