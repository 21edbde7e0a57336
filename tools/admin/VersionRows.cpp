#include "admin/VersionRows.h"

#include <charconv>

#include "dbclient/DbQuery.h"
#include "dbclient/SqlEscape.h"

namespace admin {

namespace {

// The composite number exactly as the agent's SELECT computes it.
constexpr const char* kComposite =
    "CONCAT(v_major,LPAD(v_minor,4,0),LPAD(v_release,4,0),LPAD(v_build,4,0))";

std::string Quoted(const std::string& text) {
    return "'" + dbclient::EscapeStringLiteral(text) + "'";
}

std::string SelectVersions(bool withSignature) {
    return std::string(
               "SELECT id, id_sistema, codigo_cliente, CONCAT_WS('.', v_major, v_minor, "
               "v_release, v_build) versao, ") +
           kComposite + " vl_versao, link_sistema, md5_arquivo, nome_versao, " +
           (withSignature ? "assinatura" : "NULL assinatura") + " FROM versao";
}

std::vector<PublishedVersion> ReadVersions(dbclient::TDbConnection& db, const std::string& where,
                                           const std::string& order) {
    std::vector<PublishedVersion> rows;
    ForEachRow(db, SelectVersions(HasSignatureColumn(db)) + where + order,
               [&](dbclient::TDbQuery& q) {
                   PublishedVersion v;
                   v.id = q.FieldByName("id").AsLargeInt();
                   v.sistema = q.FieldByName("id_sistema").AsLargeInt();
                   v.cliente = q.FieldByName("codigo_cliente").AsLargeInt();
                   v.dotted = q.FieldByName("versao").AsString();
                   v.vlVersao = q.FieldByName("vl_versao").AsString();
                   v.link = q.FieldByName("link_sistema").AsString();
                   v.md5 = q.FieldByName("md5_arquivo").AsString();
                   v.nome = q.FieldByName("nome_versao").AsString();
                   if (const auto& s = q.FieldByName("assinatura"); !s.IsNull())
                       v.assinatura = s.AsString();
                   rows.push_back(std::move(v));
               });
    return rows;
}

std::string SameVersionWhere(const NewVersion& v) {
    return " WHERE id_sistema = " + std::to_string(v.sistema) +
           " AND codigo_cliente = " + std::to_string(v.cliente) + " AND " + kComposite + " = '" +
           v.version.CompositeText() + "'";
}

}  // namespace

bool HasSignatureColumn(dbclient::TDbConnection& db) {
    bool found = false;
    ForEachRow(db, "SHOW COLUMNS FROM versao LIKE 'assinatura'",
               [&](dbclient::TDbQuery&) { found = true; });
    return found;
}

std::optional<PublishedVersion> FindVersion(dbclient::TDbConnection& db, std::int64_t id) {
    auto rows = ReadVersions(db, " WHERE id = " + std::to_string(id), "");
    if (rows.empty()) return std::nullopt;
    return rows.front();
}

std::vector<PublishedVersion> ListVersions(dbclient::TDbConnection& db,
                                           std::optional<std::int64_t> sistema,
                                           std::optional<std::int64_t> cliente) {
    std::string where;
    if (sistema) where += " AND id_sistema = " + std::to_string(*sistema);
    if (cliente) where += " AND codigo_cliente = " + std::to_string(*cliente);
    if (!where.empty()) where = " WHERE" + where.substr(4);
    return ReadVersions(
        db, where, std::string(" ORDER BY CAST(") + kComposite + " AS UNSIGNED) DESC, id DESC");
}

std::vector<std::int64_t> SameVersionIds(dbclient::TDbConnection& db, const NewVersion& v) {
    std::vector<std::int64_t> ids;
    ForEachRow(db, "SELECT id FROM versao" + SameVersionWhere(v) + " ORDER BY id",
               [&](dbclient::TDbQuery& q) { ids.push_back(q.Fields()[0].AsLargeInt()); });
    return ids;
}

std::optional<std::uint64_t> NewestComposite(dbclient::TDbConnection& db, std::int64_t sistema,
                                             std::int64_t cliente) {
    std::optional<std::uint64_t> newest;
    ForEachRow(db,
               std::string("SELECT MAX(CAST(") + kComposite +
                   " AS UNSIGNED)) FROM versao WHERE id_sistema = " + std::to_string(sistema) +
                   " AND codigo_cliente = " + std::to_string(cliente),
               [&](dbclient::TDbQuery& q) {
                   const std::string text = q.Fields()[0].AsString();
                   std::uint64_t value = 0;
                   const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
                   if (!text.empty() && r.ec == std::errc()) newest = value;
               });
    return newest;
}

std::vector<std::pair<std::int64_t, std::uint64_t>> ClientVersionsBelow(dbclient::TDbConnection& db,
                                                                        std::int64_t sistema,
                                                                        std::uint64_t composite) {
    std::vector<std::pair<std::int64_t, std::uint64_t>> clients;
    const std::string number = std::string("CAST(") + kComposite + " AS UNSIGNED)";
    ForEachRow(db,
               "SELECT codigo_cliente, MAX(" + number + ") FROM versao WHERE id_sistema = " +
                   std::to_string(sistema) + " AND codigo_cliente <> 0 AND " + number + " < " +
                   std::to_string(composite) + " GROUP BY codigo_cliente ORDER BY codigo_cliente",
               [&](dbclient::TDbQuery& q) {
                   clients.emplace_back(q.Fields()[0].AsLargeInt(),
                                        static_cast<std::uint64_t>(q.Fields()[1].AsLargeInt()));
               });
    return clients;
}

std::int64_t InsertVersion(dbclient::TDbConnection& db, const NewVersion& v) {
    std::string columns =
        "id_sistema, codigo_cliente, v_major, v_minor, v_release, v_build, link_sistema, "
        "md5_arquivo, nome_versao";
    std::string values = std::to_string(v.sistema) + ", " + std::to_string(v.cliente) + ", " +
                         std::to_string(v.version.major) + ", " + std::to_string(v.version.minor) +
                         ", " + std::to_string(v.version.release) + ", " +
                         std::to_string(v.version.build) + ", " + Quoted(v.link) + ", " +
                         Quoted(v.md5) + ", " + Quoted(v.nome);
    if (v.assinatura) {
        columns += ", assinatura";
        values += ", " + Quoted(*v.assinatura);
    }
    dbclient::TDbQuery query;
    query.SetDatabase(&db);
    query.SetRawText(true);
    query.SQL().Add("INSERT INTO versao (" + columns + ") VALUES (" + values + ")");
    query.ExecSQL();
    return db.GetLastInsertID();
}

bool DeleteVersion(dbclient::TDbConnection& db, std::int64_t id) {
    dbclient::TDbQuery query;
    query.SetDatabase(&db);
    query.SetRawText(true);
    query.SQL().Add("DELETE FROM versao WHERE id = " + std::to_string(id));
    query.ExecSQL();
    return query.RowsAffected() > 0;
}

std::string DescribeVersion(const PublishedVersion& v) {
    return "  id:             " + std::to_string(v.id) +
           "\n  id_sistema:     " + std::to_string(v.sistema) +
           "\n  codigo_cliente: " + std::to_string(v.cliente) +
           (v.cliente == 0 ? " (todos os clientes)" : "") + "\n  versão:         " + v.dotted +
           " (" + v.vlVersao + ")" + "\n  nome_versao:    " + v.nome +
           "\n  link_sistema:   " + v.link + "\n  md5_arquivo:    " + v.md5 +
           "\n  assinatura:     " +
           (v.assinatura && !v.assinatura->empty() ? *v.assinatura : "(nenhuma)") + "\n";
}

}  // namespace admin
