// travik-sql: the administrator's query tool. Runs a statement text on a MySQL server
// through the project's own client and prints every result.
//
//   travik-sql [--db HOST[:PORT]] [--user USER] [--database DB] [STATEMENT | --file FILE]
//
// Without a statement or a file the text is read from standard input. A text may hold
// several statements separated by ";": each result with rows prints a header line of the
// column names, then one line per row, the values separated by tabs (NULL as the empty
// text); a result without rows prints the number of affected rows. The password comes
// from TRAVIK_ADMIN_PASSWORD or the terminal. Errors go to standard error with exit
// status 1; a wrong command line gives 2.
#include <exception>
#include <iostream>
#include <iterator>
#include <string>

#include "admin/AdminSession.h"
#include "admin/CommandLine.h"
#include "dbclient/MysqlResult.h"
#include "platform/console.h"
#include "platform/eventloop.h"
#include "platform/exception.h"
#include "platform/fs.h"

namespace {

constexpr const char* kUsage =
    "Uso: travik-sql [--db HOST[:PORTA]] [--user USUÁRIO] [--database BANCO] "
    "[COMANDO_SQL | --file ARQUIVO]\n"
    "Sem comando nem arquivo, o texto vem da entrada padrão. A senha vem de "
    "TRAVIK_ADMIN_PASSWORD ou é pedida no terminal.\n";

void Print(const std::string& text) {
    platform::console::Write(platform::console::Stream::Output, text);
}

std::string ReadWholeFile(const std::string& path) {
    platform::fs::FileStream stream(path, platform::fs::OpenMode::Read,
                                    platform::fs::ShareMode::DenyNone);
    std::string text;
    char buffer[65536];
    for (std::size_t n; (n = stream.Read(buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    return text;
}

void PrintResult(dbclient::TMysqlResult& result) {
    std::string header;
    for (int i = 0; i < result.FieldsCount(); ++i)
        header += (i > 0 ? "\t" : "") + result.FieldDef(i)->Name;
    Print(header + "\n");
    for (result.First(); !result.Eof(); result.Next()) {
        std::string line;
        for (int i = 0; i < result.FieldsCount(); ++i) {
            const char* value = result.FieldValue(i);
            line += (i > 0 ? "\t" : "") + std::string(value ? value : "");
        }
        Print(line + "\n");
    }
}

// Sends the text once and prints each of its results in order; the first failing
// statement ends the text with its error.
void RunText(dbclient::TDbConnection& db, const std::string& text) {
    dbclient::TMysqlClient& client = db.Handle()->Client();
    bool ok = false;
    auto result = client.query(text, true, ok);
    for (;;) {
        if (!ok)
            throw platform::Exception("MySQL Error Code: (" + std::to_string(client.LastErrorNo()) +
                                      ") " + client.LastError());
        if (result)
            PrintResult(*result);
        else
            Print(std::to_string(client.AffectedRows()) + " row(s) affected\n");
        if (!client.moreResults()) break;
        result = client.nextResult(true, ok);
    }
}

}  // namespace

int main(int argc, char** argv) {
    auto args = platform::eventloop::CommandLineArguments(argc, argv);
    if (!args.empty()) args.erase(args.begin());
    try {
        const admin::CommandLine line(args,
                                      {{"db"}, {"user"}, {"database"}, {"file"}, {"help", false}});
        if (line.Has("help")) {
            Print(kUsage);
            return 0;
        }
        if (line.Words().size() > 1 || (line.Words().size() == 1 && line.Has("file")))
            throw admin::UsageError(
                "dê um só comando SQL, ou --file; a senha nunca é um argumento");
        std::string text;
        if (!line.Words().empty())
            text = line.Words().front();
        else if (line.Has("file"))
            text = ReadWholeFile(line.Required("file"));
        else
            text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        if (text.find_first_not_of(" \t\r\n;") == std::string::npos)
            throw admin::UsageError("nenhum comando SQL");

        admin::AdminSession session({line.Value("db").value_or(""),
                                     line.Value("user").value_or("root"),
                                     line.Value("database").value_or("atualizacaodb")});
        RunText(session.Database(), text);
        return 0;
    } catch (const admin::UsageError& error) {
        platform::console::Write(platform::console::Stream::Error,
                                 "travik-sql: " + std::string(error.what()) + "\n" + kUsage);
        return 2;
    } catch (const std::exception& error) {
        platform::console::Write(platform::console::Stream::Error,
                                 std::string(error.what()) + "\n");
        return 1;
    }
}
