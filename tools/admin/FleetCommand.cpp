// fleet: what the machines report in controle_versao (and controle_resultado), where a
// machine is one row (client, system, cpu). One report per run: the summary (per system
// and version, then per client), the machines behind the newest version published for
// them, the machines that stopped reporting, or the machines whose last update failed.
#include <algorithm>
#include <map>
#include <set>

#include "admin/Commands.h"
#include "admin/TextTable.h"
#include "admin/VersionNumber.h"
#include "admin/VersionRows.h"
#include "dbclient/DbQuery.h"

namespace admin {

namespace {

struct Machine {
    std::int64_t cliente = 0;
    std::int64_t sistema = 0;
    std::string cpu;
    std::string versao;
    std::string relato;  // "yyyy-mm-dd hh:nn:ss", the server's time of the last report
};

struct FleetFilter {
    std::optional<std::int64_t> sistema;
    std::optional<std::int64_t> cliente;

    std::string Where(const std::string& extra = "") const {
        std::string where;
        if (sistema) where += " AND id_sistema = " + std::to_string(*sistema);
        if (cliente) where += " AND codigo_cliente = " + std::to_string(*cliente);
        if (!extra.empty()) where += " AND " + extra;
        return where.empty() ? where : " WHERE" + where.substr(4);
    }
};

std::vector<Machine> ReadMachines(dbclient::TDbConnection& db, const std::string& where) {
    std::vector<Machine> machines;
    ForEachRow(db,
               "SELECT codigo_cliente, id_sistema, cpu, versao, data_hora_atualizacao FROM "
               "controle_versao" +
                   where + " ORDER BY id_sistema, codigo_cliente, cpu",
               [&](dbclient::TDbQuery& q) {
                   machines.push_back({q.Fields()[0].AsLargeInt(), q.Fields()[1].AsLargeInt(),
                                       q.Fields()[2].AsString(), q.Fields()[3].AsString(),
                                       q.Fields()[4].AsString()});
               });
    return machines;
}

// The composite number of a reported version text; nothing when it is not A.B.C.D.
std::optional<std::uint64_t> ReportedComposite(const std::string& versao) {
    const auto version = ParseVersion(versao);
    if (!version) return std::nullopt;
    return version->Composite();
}

// Newest first; texts that are not A.B.C.D after every version, in text order.
bool NewerFirst(const std::string& a, const std::string& b) {
    const auto ca = ReportedComposite(a), cb = ReportedComposite(b);
    if (ca && cb) return *ca != *cb ? *ca > *cb : a < b;
    if (ca || cb) return ca.has_value();
    return a < b;
}

struct Report {
    std::vector<std::pair<std::string, TextTable>> tables;  // title, table
    std::vector<std::string> notes;
};

Report Summary(const std::vector<Machine>& machines) {
    struct VersionCount {
        std::size_t maquinas = 0;
        std::set<std::int64_t> clientes;
        std::string ultimo;
    };
    const auto byVersion = [](const std::pair<std::int64_t, std::string>& a,
                              const std::pair<std::int64_t, std::string>& b) {
        return a.first != b.first ? a.first < b.first : NewerFirst(a.second, b.second);
    };
    std::map<std::pair<std::int64_t, std::string>, VersionCount, decltype(byVersion)> versions(
        byVersion);
    struct ClientKey {
        std::int64_t cliente, sistema;
        std::string versao;
        bool operator<(const ClientKey& o) const {
            if (cliente != o.cliente) return cliente < o.cliente;
            if (sistema != o.sistema) return sistema < o.sistema;
            return versao != o.versao && NewerFirst(versao, o.versao);
        }
    };
    std::map<ClientKey, std::size_t> clients;
    for (const auto& m : machines) {
        auto& count = versions[{m.sistema, m.versao}];
        ++count.maquinas;
        count.clientes.insert(m.cliente);
        count.ultimo = std::max(count.ultimo, m.relato);
        ++clients[{m.cliente, m.sistema, m.versao}];
    }
    TextTable perVersion({"id_sistema", "versao", "maquinas", "clientes", "ultimo_relato"});
    for (const auto& [key, count] : versions)
        perVersion.Add({std::to_string(key.first), key.second, std::to_string(count.maquinas),
                        std::to_string(count.clientes.size()), count.ultimo});
    TextTable perClient({"codigo_cliente", "id_sistema", "versao", "maquinas"});
    for (const auto& [key, count] : clients)
        perClient.Add({std::to_string(key.cliente), std::to_string(key.sistema), key.versao,
                       std::to_string(count)});
    Report report;
    report.tables.emplace_back("Máquinas por sistema e versão:", std::move(perVersion));
    report.tables.emplace_back("Versões por cliente:", std::move(perClient));
    return report;
}

Report Behind(dbclient::TDbConnection& db, const std::vector<Machine>& machines) {
    // The newest composite number published per system and client (0: every client).
    std::map<std::pair<std::int64_t, std::int64_t>, std::uint64_t> newest;
    ForEachRow(db,
               "SELECT id_sistema, codigo_cliente, MAX(CAST(CONCAT(v_major,LPAD(v_minor,4,0),"
               "LPAD(v_release,4,0),LPAD(v_build,4,0)) AS UNSIGNED)) FROM versao GROUP BY "
               "id_sistema, codigo_cliente",
               [&](dbclient::TDbQuery& q) {
                   newest[{q.Fields()[0].AsLargeInt(), q.Fields()[1].AsLargeInt()}] =
                       static_cast<std::uint64_t>(q.Fields()[2].AsLargeInt());
               });
    TextTable table(
        {"codigo_cliente", "id_sistema", "cpu", "versao", "versao_publicada", "ultimo_relato"});
    std::size_t unknown = 0;
    for (const auto& m : machines) {
        std::optional<std::uint64_t> target;
        for (const std::int64_t cliente : {std::int64_t{0}, m.cliente})
            if (const auto found = newest.find({m.sistema, cliente}); found != newest.end())
                target = std::max(target.value_or(0), found->second);
        if (!target) continue;
        const auto reported = ReportedComposite(m.versao);
        if (!reported) {
            ++unknown;
            continue;
        }
        if (*reported < *target)
            table.Add({std::to_string(m.cliente), std::to_string(m.sistema), m.cpu, m.versao,
                       VersionFromComposite(*target).Dotted(), m.relato});
    }
    Report report;
    report.tables.emplace_back("Máquinas abaixo da versão mais nova publicada para elas:",
                               std::move(table));
    if (unknown > 0)
        report.notes.push_back(std::to_string(unknown) +
                               " máquina(s) relatam uma versão que não tem a forma A.B.C.D: "
                               "versão desconhecida, não comparada.");
    return report;
}

Report Silent(const std::vector<Machine>& machines, std::int64_t days) {
    TextTable table({"codigo_cliente", "id_sistema", "cpu", "versao", "ultimo_relato"});
    std::vector<const Machine*> sorted;
    for (const auto& m : machines) sorted.push_back(&m);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const Machine* a, const Machine* b) { return a->relato < b->relato; });
    for (const Machine* m : sorted)
        table.Add(
            {std::to_string(m->cliente), std::to_string(m->sistema), m->cpu, m->versao, m->relato});
    Report report;
    report.tables.emplace_back(
        "Máquinas sem relato há " + std::to_string(days) + " dia(s) ou mais:", std::move(table));
    return report;
}

// The machines whose last run ended in an error, newest first: the message is the error
// box the person saw, its lines joined with " / " in the aligned table.
Report Failures(dbclient::TDbConnection& db, const FleetFilter& filter,
                std::optional<std::int64_t> days, bool csv) {
    std::string extra = "resultado = 'erro'";
    if (days)
        extra += " AND data_hora_resultado >= NOW() - INTERVAL " + std::to_string(*days) + " DAY";
    TextTable table({"codigo_cliente", "id_sistema", "cpu", "versao_alvo", "nome_versao",
                     "mensagem", "data_hora"});
    ForEachRow(
        db,
        "SELECT codigo_cliente, id_sistema, cpu, versao_alvo, nome_versao, mensagem, "
        "data_hora_resultado FROM controle_resultado" +
            filter.Where(extra) +
            " ORDER BY data_hora_resultado DESC, codigo_cliente, id_sistema, cpu",
        [&](dbclient::TDbQuery& q) {
            std::string versao = q.Fields()[3].AsString();
            // The composite number as A.B.C.D; any other text as it is.
            if (!versao.empty() && versao.size() <= 18 &&
                versao.find_first_not_of("0123456789") == std::string::npos)
                versao = VersionFromComposite(std::stoull(versao)).Dotted();
            std::string mensagem = q.Fields()[5].AsString();
            if (!csv) {
                for (std::size_t at; (at = mensagem.find('\n')) != std::string::npos;)
                    mensagem.replace(at, 1, " / ");
            }
            table.Add({q.Fields()[0].AsString(), q.Fields()[1].AsString(), q.Fields()[2].AsString(),
                       versao, q.Fields()[4].AsString(), mensagem, q.Fields()[6].AsString()});
        });
    Report report;
    report.tables.emplace_back(
        "Máquinas cuja última atualização falhou" +
            (days ? " nos últimos " + std::to_string(*days) + " dia(s)" : std::string()) + ":",
        std::move(table));
    return report;
}

void PrintReport(const Report& report, bool csv) {
    for (std::size_t i = 0; i < report.tables.size(); ++i) {
        const auto& [title, table] = report.tables[i];
        if (csv) {
            Print((i > 0 ? "\n" : "") + table.Csv());
        } else {
            Print((i > 0 ? "\n" : "") + title + "\n" +
                  (table.Empty() ? "  (nenhuma)\n" : table.Aligned()));
        }
    }
    // Notes stay out of the comma-separated output, which a script reads.
    for (const auto& note : report.notes) {
        if (csv)
            platform::console::Write(platform::console::Stream::Error, note + "\n");
        else
            Print("\n" + note + "\n");
    }
}

}  // namespace

int Fleet(const CommandLine& line, AdminSession& session) {
    auto allowed = kConnectionOptions;
    allowed.insert(allowed.end(),
                   {"system", "client", "behind", "silent", "failures", "days", "csv"});
    line.AllowOnly(allowed, "fleet");
    FleetFilter filter{line.Number("system", kMaxCode), line.Number("client", kMaxCode)};
    const auto silentDays = line.Number("silent", 36500);
    const auto failureDays = line.Number("days", 36500);
    if (int(line.Has("behind")) + int(silentDays.has_value()) + int(line.Has("failures")) > 1)
        throw UsageError("--behind, --silent e --failures são relatórios diferentes: dê um só");
    if (silentDays && *silentDays == 0)
        throw UsageError("--silent deve ser um número de dias >= 1");
    if (failureDays && (!line.Has("failures") || *failureDays == 0))
        throw UsageError("--days vale com --failures, e deve ser um número de dias >= 1");

    auto& db = session.Database();
    Report report;
    if (line.Has("failures")) {
        report = Failures(db, filter, failureDays, line.Has("csv"));
    } else if (silentDays) {
        report = Silent(ReadMachines(db, filter.Where("data_hora_atualizacao < NOW() - INTERVAL " +
                                                      std::to_string(*silentDays) + " DAY")),
                        *silentDays);
    } else if (line.Has("behind")) {
        report = Behind(db, ReadMachines(db, filter.Where()));
    } else {
        const auto machines = ReadMachines(db, filter.Where());
        if (machines.empty() && !line.Has("csv")) {
            Print("Nenhuma máquina relatou ainda" +
                  std::string(filter.sistema || filter.cliente ? " com esse filtro" : "") + ".\n");
            return 0;
        }
        report = Summary(machines);
    }
    PrintReport(report, line.Has("csv"));
    return 0;
}

}  // namespace admin
