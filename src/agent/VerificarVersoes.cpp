// The version registry exchange of the update run: record this installation in
// controle_versao, find the newest general version and the oldest version of this client
// that are newer than the installed one, let the connection go, fetch them, then report
// the run's outcome in controle_resultado.
#include <optional>

#include "agent/CompositeVersion.h"
#include "agent/PublishedVersion.h"
#include "agent/RegistryStatements.h"
#include "agent/RunOutcome.h"
#include "agent/RunSettings.h"
#include "agent/UpdateDatabase.h"
#include "agent/uTravikVersoes.h"
#include "dbclient/DbConnection.h"
#include "dbclient/DbErrors.h"
#include "dbclient/DbQuery.h"
#include "platform/application.h"
#include "platform/exception.h"

namespace agent {

void TfTravikVersoes::VerificarVersoes(const std::string& versaoAtual,
                                       const std::string& versaoExecutavel, int idSistema,
                                       int idEmpresa, const std::string& /*pasta*/) {
    // Argument 1 stands unquoted in the SELECTs: refuse anything but a number before a
    // statement is sent.
    ValidateCurrentVersion(versaoAtual);

    // The connection is held for the exchange only: the versions found are kept as plain
    // values, and the connection is closed before any package is downloaded, so a fleet
    // fetching its packages at once holds none of the server's connections.
    std::optional<TPublishedVersion> geral;
    std::optional<TPublishedVersion> cliente;
    std::string cpu;
    try {
        dbclient::TDbConnection connection;
        ConnectUpdateDatabase(App(), connection, DatabaseTimeoutMilliseconds());
        if (!connection.Connected()) return;

        dbclient::TDbQuery query;
        query.SetDatabase(&connection);
        // The statements carry the arguments inside their literals: the text must reach the
        // server exactly as built, without comment removal or ":name" markers.
        query.SetRawText(true);

        cpu = ObterEnderecoMAC();
        query.SQL().Clear();
        query.SQL().Add(
            ReplaceControleVersaoStatement(idEmpresa, versaoExecutavel, cpu, idSistema));
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
    } catch (const dbclient::EDbError&) {
        // SIGINT or SIGTERM interrupts the wait for the server: that is the person
        // closing the agent, not a database failure.
        AbortIfCloseRequested(App());
        throw;
    }

    // The outcome is reported for the last version tried: the one that failed, or the
    // last one fetched.
    TRunOutcome outcome{.codigo_cliente = idEmpresa, .id_sistema = idSistema, .cpu = cpu};
    try {
        for (const auto& version : {geral, cliente}) {
            if (!version) continue;
            outcome.versao_alvo = version->vl_versao;
            outcome.nome_versao = version->nome_versao;
            BaixarVersao(version->vl_versao, version->nome_versao, version->link_sistema,
                         version->md5_arquivo, version->id_sistema, version->codigo_cliente,
                         version->assinatura);
        }
    } catch (const platform::EAbort&) {
        throw;  // closed by the person: no outcome
    } catch (const std::exception& error) {
        outcome.resultado = "erro";
        outcome.mensagem = platform::MessageWithPeriod(error.what());  // as the box shows it
        ReportRunOutcome(App(), outcome);
        AbortIfCloseRequested(App());  // "Fechar" during the report's wait: no box
        throw;
    }
    if (geral || cliente) {
        outcome.resultado = "ok";
        ReportRunOutcome(App(), outcome);
        AbortIfCloseRequested(App());  // nor an alert
    }
}

}  // namespace agent
