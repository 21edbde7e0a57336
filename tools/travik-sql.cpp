// travik-sql: runs one statement on a MySQL server through the project's own client and
// prints the result, for administrators and the demo (e.g. to read controle_versao back).
//
//   travik-sql HOST[:PORT] USER PASSWORD DATABASE STATEMENT
//
// A statement with a result prints a header line of the column names, then one line per
// row, the values separated by tabs (NULL as the empty text); any other statement prints
// the number of affected rows. Errors go to standard error with exit status 1.
#include <cctype>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "agent/RunSettings.h"
#include "dbclient/DbConnection.h"
#include "dbclient/DbQuery.h"
#include "platform/eventloop.h"

namespace {

void PrintLine(const std::string& line) {
    std::printf("%s\n", line.c_str());
}

bool ReturnsRows(const std::string& sql) {
    std::size_t i = sql.find_first_not_of(" \t\r\n(");
    std::string word;
    for (; i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])); ++i)
        word += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[i])));
    return word == "SELECT" || word == "SHOW" || word == "DESCRIBE" || word == "EXPLAIN" ||
           word == "WITH";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s HOST[:PORT] USER PASSWORD DATABASE STATEMENT\n", argv[0]);
        return 2;
    }
    // In UTF-8 on every platform (Windows hands argv over in the ANSI code page).
    const std::vector<std::string> args = platform::eventloop::CommandLineArguments(argc, argv);
    if (args.size() != 6) {
        std::fprintf(stderr, "usage: %s HOST[:PORT] USER PASSWORD DATABASE STATEMENT\n", argv[0]);
        return 2;
    }
    try {
        const agent::DatabaseAddress address = agent::ParseDatabaseAddress(args[1]);
        dbclient::TDbConnection connection;
        connection.SetHost(address.host);
        connection.SetPortNumber(static_cast<std::uint32_t>(address.port));
        connection.SetUserName(args[2]);
        connection.SetUserPassword(args[3]);
        connection.SetDatabaseName(args[4]);
        connection.SetConnected(true);

        dbclient::TDbQuery query;
        query.SetDatabase(&connection);
        query.SetRawText(true);
        query.SQL().Add(args[5]);
        if (!ReturnsRows(args[5])) {
            query.ExecSQL();
            PrintLine(std::to_string(query.RowsAffected()) + " row(s) affected");
            return 0;
        }
        query.Open();
        std::string header;
        for (int i = 0; i < query.FieldCount(); ++i)
            header += (i > 0 ? "\t" : "") + query.Fields()[i].FieldName();
        PrintLine(header);
        for (query.First(); !query.Eof(); query.Next()) {
            std::string line;
            for (int i = 0; i < query.FieldCount(); ++i)
                line += (i > 0 ? "\t" : "") + query.Fields()[i].AsString();
            PrintLine(line);
        }
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
