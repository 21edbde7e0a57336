// list: the published versions, newest first.
#include "admin/Commands.h"
#include "admin/TextTable.h"
#include "admin/VersionRows.h"

namespace admin {

int List(const CommandLine& line, AdminSession& session) {
    auto allowed = kConnectionOptions;
    allowed.insert(allowed.end(), {"system", "client", "csv"});
    line.AllowOnly(allowed, "list");
    const auto sistema = line.Number("system", kMaxCode);
    const auto cliente = line.Number("client", kMaxCode);

    const auto versions = ListVersions(session.Database(), sistema, cliente);
    TextTable table({"id", "id_sistema", "codigo_cliente", "versao", "nome_versao", "link_sistema",
                     "assinada"});
    for (const auto& v : versions)
        table.Add({std::to_string(v.id), std::to_string(v.sistema), std::to_string(v.cliente),
                   v.dotted, v.nome, v.link,
                   v.assinatura && !v.assinatura->empty() ? "sim" : "não"});
    if (line.Has("csv")) {
        Print(table.Csv());
    } else if (table.Empty()) {
        Print("Nenhuma versão publicada" +
              std::string(sistema || cliente ? " com esse filtro" : "") + ".\n");
    } else {
        Print(table.Aligned());
    }
    return 0;
}

}  // namespace admin
