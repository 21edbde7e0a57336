// The statements of the version exchange with the update database.
#pragma once

#include <cstdint>
#include <string>

namespace agent {

// REPLACE of this installation's row in controle_versao. The two texts are escaped for
// a string literal, so whatever they hold they are stored as they are; texts without
// quotes, backslashes or line breaks appear unchanged.
std::string ReplaceControleVersaoStatement(std::int32_t viIdEmpresa,
                                           const std::string& vsVersaoExecutavel,
                                           const std::string& enderecoMac,
                                           std::int32_t viIdSistema);

// REPLACE of this installation's run outcome in controle_resultado, with the server's
// time. The texts are escaped for string literals as in ReplaceControleVersaoStatement.
std::string ReplaceControleResultadoStatement(std::int32_t codigoCliente, std::int32_t idSistema,
                                              const std::string& cpu, const std::string& versaoAlvo,
                                              const std::string& nomeVersao,
                                              const std::string& resultado,
                                              const std::string& mensagem);

// SELECT of the newer versions of the system published for every client, highest id
// first. `vsVersaoAtual` must have passed ValidateCurrentVersion: it stands unquoted.
std::string SelectVersaoGeralStatement(std::int32_t viIdSistema, const std::string& vsVersaoAtual);

// SELECT of the newer versions of the system published for one client, lowest id first.
std::string SelectVersaoClienteStatement(std::int32_t viIdSistema, const std::string& vsVersaoAtual,
                                         std::int32_t viIdEmpresa);

}  // namespace agent
