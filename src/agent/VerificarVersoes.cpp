// The version registry exchange of the update run: record this installation in
// controle_versao, then fetch the newest general version and the oldest version of this
// client that are newer than the installed one.
#include "agent/CompositeVersion.h"
#include "agent/RegistryStatements.h"
#include "agent/RunSettings.h"
#include "agent/uTravikVersoes.h"
#include "dbclient/DbConnection.h"
#include "dbclient/DbQuery.h"

namespace agent {

namespace {

constexpr const char* kDatabaseName = "atualizacaodb";
constexpr const char* kUserName = "atualizacaodb";
constexpr const char* kUserPassword = "58rtm36@";

}  // namespace

void TfTravikVersoes::VerificarVersoes(const std::string& versaoAtual,
                                       const std::string& versaoExecutavel, int idSistema,
                                       int idEmpresa, const std::string& /*pasta*/) {
    // Argument 1 stands unquoted in the SELECTs: refuse anything but a number before a
    // statement is sent.
    ValidateCurrentVersion(versaoAtual);
    const DatabaseAddress address = UpdateDatabaseAddress();

    dbclient::TDbConnection connection;
    connection.SetHost(address.host);
    connection.SetDatabaseName(kDatabaseName);
    connection.SetUserName(kUserName);
    connection.SetUserPassword(kUserPassword);
    connection.SetPort(static_cast<std::uint32_t>(address.port));
    // A server that stops answering ends the run with the lost-connection error.
    connection.SetReadWriteTimeout(DatabaseTimeoutMilliseconds());
    connection.SetConnected(true);
    if (!connection.Connected()) return;

    dbclient::TDbQuery query;
    query.SetDatabase(&connection);
    // The statements carry the arguments inside their literals: the text must reach the
    // server exactly as built, without comment removal or ":name" markers.
    query.SetRawText(true);

    query.SQL().Clear();
    query.SQL().Add(
        ReplaceControleVersaoStatement(idEmpresa, versaoExecutavel, ObterEnderecoMAC(), idSistema));
    query.SetRequestLive(true);
    query.ExecSQL();
    query.Close();

    const auto baixarPrimeira = [&] {
        if (query.RecordCount() == 0) return;
        const std::string link = query.FieldByName("link_sistema").AsString();
        const std::string md5 = query.FieldByName("md5_arquivo").AsString();
        const std::string nome = query.FieldByName("nome_versao").AsString();
        const std::string versao = query.FieldByName("vl_versao").AsString();
        BaixarVersao(versao, nome, link, md5);
    };

    query.SQL().Clear();
    query.SQL().Add(SelectVersaoGeralStatement(idSistema, versaoAtual));
    query.Open();
    baixarPrimeira();
    query.Close();

    query.SQL().Clear();
    query.SQL().Add(SelectVersaoClienteStatement(idSistema, versaoAtual, idEmpresa));
    query.Open();
    baixarPrimeira();
}

}  // namespace agent
