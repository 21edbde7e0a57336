// Reading the update database back through the project's own client, as the
// administrator of the test server.
#pragma once

#include <string>
#include <vector>

#include "dbclient/DbConnection.h"
#include "dbclient/DbQuery.h"
#include "testsupport/testsupport.h"

namespace agenttest {

using Row = std::vector<std::string>;

// A query of `sql` on a connection of the administrator, handed to `use`.
template <class Use>
void AsAdministrator(int port, const std::string& sql, Use use) {
    dbclient::TDbConnection connection;
    connection.SetHost("127.0.0.1");
    connection.SetPortNumber(static_cast<std::uint32_t>(port));
    connection.SetUserName(testsupport::MariaDbServer::kAdminUser);
    connection.SetUserPassword(testsupport::MariaDbServer::kAdminPassword);
    connection.SetConnected(true);
    dbclient::TDbQuery query;
    query.SetDatabase(&connection);
    query.SetRawText(true);
    query.SQL().Add(sql);
    use(query);
}

inline void ExecuteSql(int port, const std::string& sql) {
    AsAdministrator(port, sql, [](dbclient::TDbQuery& query) { query.ExecSQL(); });
}

// Every row of a query, each field as text (NULL as the empty text).
inline std::vector<Row> QueryRows(int port, const std::string& sql) {
    std::vector<Row> rows;
    AsAdministrator(port, sql, [&](dbclient::TDbQuery& query) {
        query.Open();
        for (query.First(); !query.Eof(); query.Next()) {
            Row row;
            for (int i = 0; i < query.FieldCount(); ++i)
                row.push_back(query.Fields()[i].AsString());
            rows.push_back(std::move(row));
        }
    });
    return rows;
}

}  // namespace agenttest
