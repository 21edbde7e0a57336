#include "agent/RegistryStatements.h"

#include "dbclient/SqlEscape.h"

namespace agent {

namespace {

constexpr const char* kSelectVersao =
    "SELECT *,CONCAT(v_major,LPAD(v_minor,4,0),LPAD(v_release,4,0),LPAD(v_build,4,0)) vl_versao "
    "FROM versao WHERE id_sistema = ";
constexpr const char* kNewerThan =
    " AND CAST(CONCAT(v_major,LPAD(v_minor,4,0),LPAD(v_release,4,0),LPAD(v_build,4,0))AS SIGNED) "
    "> ";

}  // namespace

std::string ReplaceControleVersaoStatement(std::int32_t viIdEmpresa,
                                           const std::string& vsVersaoExecutavel,
                                           const std::string& enderecoMac,
                                           std::int32_t viIdSistema) {
    return "REPLACE INTO controle_versao (codigo_cliente, versao, cpu, id_sistema, "
           "data_hora_atualizacao) VALUES  (" +
           std::to_string(viIdEmpresa) + ", \"" +
           dbclient::EscapeStringLiteral(vsVersaoExecutavel) + "\",\"" +
           dbclient::EscapeStringLiteral(enderecoMac) + "\", " + std::to_string(viIdSistema) +
           ", now()); ";
}

std::string ReplaceControleResultadoStatement(std::int32_t codigoCliente, std::int32_t idSistema,
                                              const std::string& cpu, const std::string& versaoAlvo,
                                              const std::string& nomeVersao,
                                              const std::string& resultado,
                                              const std::string& mensagem) {
    const auto text = [](const std::string& value) {
        return "\"" + dbclient::EscapeStringLiteral(value) + "\"";
    };
    return "REPLACE INTO controle_resultado (codigo_cliente, id_sistema, cpu, versao_alvo, "
           "nome_versao, resultado, mensagem, data_hora_resultado) VALUES (" +
           std::to_string(codigoCliente) + ", " + std::to_string(idSistema) + ", " + text(cpu) +
           ", " + text(versaoAlvo) + ", " + text(nomeVersao) + ", " + text(resultado) + ", " +
           text(mensagem) + ", now())";
}

std::string SelectVersaoGeralStatement(std::int32_t viIdSistema, const std::string& vsVersaoAtual) {
    return kSelectVersao + std::to_string(viIdSistema) + kNewerThan + vsVersaoAtual +
           " AND codigo_cliente = 0  ORDER BY id DESC ";
}

std::string SelectVersaoClienteStatement(std::int32_t viIdSistema, const std::string& vsVersaoAtual,
                                         std::int32_t viIdEmpresa) {
    return kSelectVersao + std::to_string(viIdSistema) + kNewerThan + vsVersaoAtual +
           " AND codigo_cliente = " + std::to_string(viIdEmpresa) + " ORDER BY id ASC ";
}

}  // namespace agent
