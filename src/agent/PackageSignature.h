// What the publisher signs for a package: the package's bytes (as their SHA-256) bound to
// the system, the client and the version it was published for, and the name it is stored
// under, so a signature cannot be moved to another row.
#pragma once

#include <string>

namespace agent {

// The signed message, UTF-8, each line ended by LF (the last one too):
//   travik-package-v1
//   id_sistema=<decimal>
//   codigo_cliente=<decimal>
//   versao=<vl_versao as the SELECT returns it>
//   nome_versao=<nome_versao>
//   sha256=<64 lower-case hexadecimal digits>
std::string SignedPackageMessage(long long idSistema, long long codigoCliente,
                                 const std::string& versao, const std::string& nomeVersao,
                                 const std::string& sha256Hex);

}  // namespace agent
