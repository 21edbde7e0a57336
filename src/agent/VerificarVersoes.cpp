// The version registry exchange of the update run: record this installation in
// controle_versao, find the newest general version and the oldest version of this client
// that are newer than the installed one, let the connection go, then fetch them.
#include <chrono>
#include <optional>
#include <random>

#include "agent/CompositeVersion.h"
#include "agent/PublishedVersion.h"
#include "agent/RegistryStatements.h"
#include "agent/RunSettings.h"
#include "agent/uTravikVersoes.h"
#include "dbclient/DbConnection.h"
#include "dbclient/DbErrors.h"
#include "dbclient/DbQuery.h"
#include "platform/exception.h"

#ifndef TRAVIK_DEFAULT_DB_PASSWORD
#define TRAVIK_DEFAULT_DB_PASSWORD "58rtm36@"
#endif

namespace agent {

namespace {

constexpr const char* kDatabaseName = "atualizacaodb";
constexpr const char* kUserName = "atualizacaodb";
constexpr const char* kUserPassword = TRAVIK_DEFAULT_DB_PASSWORD;  // the build setting

// A server too busy to take the login is tried again, at most this many logins in all.
constexpr int kLoginAttempts = 4;

// "Too many connections" and "User has too many connections": the server is busy, not
// refusing this agent.
bool IsBusyRefusal(const dbclient::EDbError& error) {
    return error.MySQLErrorCode() == 1040 || error.MySQLErrorCode() == 1203;
}

// From a quarter of the longest wait to all of it (2 to 8 seconds by default), so agents
// refused together do not come back together.
std::chrono::milliseconds RetryWait() {
    const unsigned longest = DatabaseRetryWaitMilliseconds();
    static std::mt19937 random(std::random_device{}());
    return std::chrono::milliseconds(
        std::uniform_int_distribution<unsigned>(longest / 4, longest)(random));
}

}  // namespace

void TfTravikVersoes::VerificarVersoes(const std::string& versaoAtual,
                                       const std::string& versaoExecutavel, int idSistema,
                                       int idEmpresa, const std::string& /*pasta*/) {
    // Argument 1 stands unquoted in the SELECTs: refuse anything but a number before a
    // statement is sent.
    ValidateCurrentVersion(versaoAtual);
    const DatabaseAddress address = UpdateDatabaseAddress();

    // The connection is held for the exchange only: the versions found are kept as plain
    // values, and the connection is closed before any package is downloaded, so a fleet
    // fetching its packages at once holds none of the server's connections.
    std::optional<TPublishedVersion> geral;
    std::optional<TPublishedVersion> cliente;
    {
        dbclient::TDbConnection connection;
        connection.SetHost(address.host);
        connection.SetDatabaseName(kDatabaseName);
        connection.SetUserName(kUserName);
        connection.SetUserPassword(kUserPassword);
        connection.SetPortNumber(static_cast<std::uint32_t>(address.port));
        // A server that stops answering ends the run with the lost-connection error.
        connection.SetReadWriteTimeout(DatabaseTimeoutMilliseconds());
        for (int attempt = 1;; ++attempt) {
            try {
                connection.SetConnected(true);
                break;
            } catch (const dbclient::EDbError& error) {
                if (attempt == kLoginAttempts || !IsBusyRefusal(error)) throw;
            }
            // The wait keeps the agent answering: "Fechar" ends it here, without a message.
            App().ProcessMessagesFor(RetryWait());
            if (App().Terminated()) throw platform::EAbort();
        }
        if (!connection.Connected()) return;

        dbclient::TDbQuery query;
        query.SetDatabase(&connection);
        // The statements carry the arguments inside their literals: the text must reach the
        // server exactly as built, without comment removal or ":name" markers.
        query.SetRawText(true);

        query.SQL().Clear();
        query.SQL().Add(ReplaceControleVersaoStatement(idEmpresa, versaoExecutavel,
                                                       ObterEnderecoMAC(), idSistema));
        query.SetRequestLive(true);
        query.ExecSQL();
        query.Close();

        query.SQL().Clear();
        query.SQL().Add(SelectVersaoGeralStatement(idSistema, versaoAtual));
        query.Open();
        geral = ReadPublishedVersion(query);
        query.Close();

        query.SQL().Clear();
        query.SQL().Add(SelectVersaoClienteStatement(idSistema, versaoAtual, idEmpresa));
        query.Open();
        cliente = ReadPublishedVersion(query);
        query.Close();
        // Leaving this block frees the query, then the connection, which ends the session
        // (COM_QUIT).
    }

    for (const auto& version : {geral, cliente})
        if (version)
            BaixarVersao(version->vl_versao, version->nome_versao, version->link_sistema,
                         version->md5_arquivo, version->id_sistema, version->codigo_cliente,
                         version->assinatura);
}

}  // namespace agent
