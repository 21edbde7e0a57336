#include "agent/RunOutcome.h"

#include <algorithm>

#include "agent/MessageText.h"
#include "agent/RegistryStatements.h"
#include "agent/RunSettings.h"
#include "agent/UpdateDatabase.h"
#include "dbclient/DbConnection.h"
#include "dbclient/DbQuery.h"

namespace agent {

namespace {

constexpr unsigned kReportTimeoutMs = 10000;
// The columns' widths in controle_resultado: a longer (hostile) value is cut rather than
// refused by the server.
constexpr std::size_t kMessageCharacters = 1000;
constexpr std::size_t kVersionCharacters = 64;
constexpr std::size_t kNameCharacters = 255;

}  // namespace

std::string StoredOutcomeMessage(const std::string& mensagem) {
    return FirstCharacters(mensagem, kMessageCharacters);
}

void ReportRunOutcome(platform::Application& app, const TRunOutcome& outcome) noexcept {
    try {
        dbclient::TDbConnection connection;
        ConnectUpdateDatabase(app, connection,
                              std::min(kReportTimeoutMs, DatabaseTimeoutMilliseconds()));
        dbclient::TDbQuery query;
        query.SetDatabase(&connection);
        query.SetRawText(true);
        query.SQL().Add(ReplaceControleResultadoStatement(
            outcome.codigo_cliente, outcome.id_sistema, outcome.cpu,
            FirstCharacters(outcome.versao_alvo, kVersionCharacters),
            FirstCharacters(outcome.nome_versao, kNameCharacters), outcome.resultado,
            StoredOutcomeMessage(outcome.mensagem)));
        query.ExecSQL();
    } catch (...) {
        // Nothing to tell the person: the run's own outcome stands.
    }
}

}  // namespace agent
