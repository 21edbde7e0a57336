// withdraw: deletes a published version; the next run of every agent no longer sees it.
#include "admin/Commands.h"
#include "admin/VersionRows.h"
#include "platform/exception.h"

namespace admin {

int Withdraw(const CommandLine& line, AdminSession& session) {
    auto allowed = kConnectionOptions;
    allowed.push_back("id");
    line.AllowOnly(allowed, "withdraw");
    const auto id = line.Number("id", kMaxCode);
    if (!id) throw UsageError("falta --id");

    auto& db = session.Database();
    const auto version = FindVersion(db, *id);
    if (!version)
        throw platform::Exception("Nenhuma versão com id " + std::to_string(*id) +
                                  ". Veja as publicadas com: travik-publish list");
    Print("Retirando a versão:\n" + DescribeVersion(*version));
    if (!DeleteVersion(db, *id))
        throw platform::Exception("A versão id " + std::to_string(*id) +
                                  " já não existia: foi retirada por outra sessão.");
    Print(
        "Retirada. A próxima execução de cada agente já não a vê. Quem já a baixou e a "
        "registrou em versao.ini continua com ela: para corrigir, publique uma versão nova "
        "e mais alta.\n");
    return 0;
}

}  // namespace admin
