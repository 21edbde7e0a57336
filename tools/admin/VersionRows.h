// The published versions in atualizacaodb.versao, as the release tool reads and writes
// them through the project's database client.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "admin/VersionNumber.h"
#include "dbclient/DbConnection.h"
#include "dbclient/DbQuery.h"

namespace admin {

// Runs a SELECT and hands each row, as the open query, to `read`.
template <class Read>
void ForEachRow(dbclient::TDbConnection& db, const std::string& sql, Read read) {
    dbclient::TDbQuery query;
    query.SetDatabase(&db);
    query.SetRawText(true);
    query.SQL().Add(sql);
    query.Open();
    for (query.First(); !query.Eof(); query.Next()) read(query);
}

struct PublishedVersion {
    std::int64_t id = 0;
    std::int64_t sistema = 0;
    std::int64_t cliente = 0;  // 0: every client
    std::string dotted;        // the four parts as stored, "A.B.C.D"
    std::string vlVersao;      // the composite number as the agent's SELECT computes it
    std::string link;
    std::string md5;
    std::string nome;
    std::optional<std::string> assinatura;  // nothing when NULL or the column is missing
};

// What a new row holds.
struct NewVersion {
    std::int64_t sistema = 0;
    std::int64_t cliente = 0;
    VersionNumber version;
    std::string link;
    std::string md5;
    std::string nome;
    std::optional<std::string> assinatura;
};

// Whether versao has the column assinatura (db/schema.sql adds it).
bool HasSignatureColumn(dbclient::TDbConnection& db);

std::optional<PublishedVersion> FindVersion(dbclient::TDbConnection& db, std::int64_t id);

// Newest first (by composite number, then by id); a filter that is absent selects all.
std::vector<PublishedVersion> ListVersions(dbclient::TDbConnection& db,
                                           std::optional<std::int64_t> sistema,
                                           std::optional<std::int64_t> cliente);

// The ids of the rows with this system, client and composite number.
std::vector<std::int64_t> SameVersionIds(dbclient::TDbConnection& db, const NewVersion& v);

// The highest composite number published for the system and client; nothing when none.
std::optional<std::uint64_t> NewestComposite(dbclient::TDbConnection& db, std::int64_t sistema,
                                             std::int64_t cliente);

// The clients of the system with a version of their own older than `composite`, each
// with the newest such version.
std::vector<std::pair<std::int64_t, std::uint64_t>> ClientVersionsBelow(dbclient::TDbConnection& db,
                                                                        std::int64_t sistema,
                                                                        std::uint64_t composite);

// Inserts the row and gives its id.
std::int64_t InsertVersion(dbclient::TDbConnection& db, const NewVersion& v);

// Deletes the row; whether there was one.
bool DeleteVersion(dbclient::TDbConnection& db, std::int64_t id);

// The row as the tools print it, one "name: value" line per field.
std::string DescribeVersion(const PublishedVersion& v);

}  // namespace admin
