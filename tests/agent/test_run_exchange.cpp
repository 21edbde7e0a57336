// The agent's exchange with the update database, seen from outside: the real binary
// against a real MariaDB (and nginx for the packages it finds).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AgentRun.h"
#include "DatabaseRows.h"
#include "dbclient/SqlEscape.h"

namespace {

using agenttest::AgentFolder;
using agenttest::Version;

constexpr const char* kReplace =
    "REPLACE INTO controle_versao (codigo_cliente, versao, cpu, id_sistema, "
    "data_hora_atualizacao) VALUES  (";
constexpr const char* kSelect =
    "SELECT *,CONCAT(v_major,LPAD(v_minor,4,0),LPAD(v_release,4,0),LPAD(v_build,4,0)) vl_versao "
    "FROM versao WHERE id_sistema = ";
constexpr const char* kNewer =
    " AND CAST(CONCAT(v_major,LPAD(v_minor,4,0),LPAD(v_release,4,0),LPAD(v_build,4,0))AS SIGNED) "
    "> ";

// A statement as the server's general log shows it: without the trailing blanks, line
// ends and semicolons of the text sent.
std::string Logged(std::string sql) {
    while (!sql.empty() &&
           (sql.back() == ' ' || sql.back() == ';' || sql.back() == '\r' || sql.back() == '\n'))
        sql.pop_back();
    return sql;
}

std::string SelectGeral(int sistema, const std::string& atual) {
    return Logged(kSelect + std::to_string(sistema) + kNewer + atual +
                  " AND codigo_cliente = 0  ORDER BY id DESC ");
}
std::string SelectCliente(int sistema, const std::string& atual, int cliente) {
    return Logged(kSelect + std::to_string(sistema) + kNewer + atual +
                  " AND codigo_cliente = " + std::to_string(cliente) + " ORDER BY id ASC ");
}

// One nginx with the packages and one MariaDB with the versions, for all tests.
class Exchange : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        www_ = std::make_unique<testsupport::TempDir>("travik-www");
        for (const char* name : {"a.zip", "b.zip", "c.zip", "d.zip"})
            testsupport::WriteFile(*www_ / name, std::string("package ") + name);
        // A package on a slow line: 64 KiB at 16 KiB/s.
        std::filesystem::create_directory(*www_ / "lento");
        testsupport::WriteFile(*www_ / "lento/e.zip", std::string(64 * 1024, 'e'));
        web_ = std::make_unique<testsupport::NginxServer>(www_->path(),
                                                          "location /lento/ { limit_rate 16k; }");
        const auto v = [](int id, int sistema, int cliente, int major, int minor, int release,
                          int build, const std::string& nome) {
            return agenttest::InsertVersion({id, sistema, cliente, major, minor, release, build,
                                             web_->url("/" + nome), agenttest::Md5Sum(*www_ / nome),
                                             nome});
        };
        std::string rows;
        // System 10: only an old version.
        rows += v(1, 10, 0, 1, 0, 0, 0, "a.zip");
        // System 20: general versions 2.0.0.1 (id 2) and 3.0.0.0 (id 3, lower id wins by
        // number but not by id) and 2.5.0.0 (id 4, the highest id); a client version.
        rows += v(2, 20, 0, 2, 0, 0, 1, "a.zip");
        rows += v(3, 20, 0, 3, 0, 0, 0, "b.zip");
        rows += v(4, 20, 0, 2, 5, 0, 0, "c.zip");
        rows += v(5, 20, 77, 2, 6, 0, 0, "d.zip");
        rows += v(6, 20, 77, 2, 7, 0, 0, "a.zip");
        // System 30: a minor part of 5 digits is cut to 4 by LPAD: 1.12345.0.0 is 1123400000000.
        rows += v(7, 30, 0, 1, 12345, 0, 0, "a.zip");
        // System 40: a general version that downloads slowly.
        rows += agenttest::InsertVersion({8, 40, 0, 4, 0, 0, 0, web_->url("/lento/e.zip"),
                                          agenttest::Md5Sum(*www_ / "lento/e.zip"), "e.zip"});
        db_ = agenttest::StartUpdateDatabase(rows);
    }
    static void TearDownTestSuite() {
        db_.reset();
        web_.reset();
        www_.reset();
    }

    // The statements the server received from the next run on.
    std::size_t Mark() const { return db_->LoggedEntries().size(); }
    std::vector<std::string> QueriesSince(std::size_t mark) const {
        const auto entries = db_->LoggedEntries();
        std::vector<std::string> queries;
        for (std::size_t i = mark; i < entries.size(); ++i)
            if (entries[i].command == "Query") queries.push_back(entries[i].argument);
        return queries;
    }
    // Only the exchange's statements that the agent wrote itself (the query component adds
    // SHOW INDEX and DESCRIBE of its own; the outcome's report comes after).
    std::vector<std::string> AgentStatementsSince(std::size_t mark) const {
        std::vector<std::string> own;
        for (const auto& q : QueriesSince(mark))
            if (q.rfind("REPLACE INTO controle_versao", 0) == 0 || q.rfind("SELECT *", 0) == 0)
                own.push_back(q);
        return own;
    }
    std::vector<agenttest::Row> ControleVersao(int cliente, int sistema) const {
        return agenttest::QueryRows(db_->port(),
                                    "SELECT versao, cpu, data_hora_atualizacao FROM "
                                    "atualizacaodb.controle_versao WHERE codigo_cliente = " +
                                        std::to_string(cliente) +
                                        " AND id_sistema = " + std::to_string(sistema));
    }

    static inline std::unique_ptr<testsupport::TempDir> www_;
    static inline std::unique_ptr<testsupport::NginxServer> web_;
    static inline std::unique_ptr<testsupport::MariaDbServer> db_;
};

TEST_F(Exchange, NoNewerVersionRecordsTheMachineAndDownloadsNothing) {
    AgentFolder agent;
    const std::size_t mark = Mark();
    const std::size_t requests = web_->AccessLog().size();
    const std::string pasta = agent / "dados/nivel1/nivel2";
    const auto r = agent.Run({"2000100000015", "2.1.0.15", "10", "100", pasta}, db_->port());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(std::filesystem::is_directory(pasta));

    const auto statements = AgentStatementsSince(mark);
    ASSERT_EQ(statements.size(), 3u);
    const auto rows = ControleVersao(100, 10);
    ASSERT_EQ(rows.size(), 1u);
    const std::string cpu = rows[0][1];
    EXPECT_TRUE(cpu.empty() || cpu.size() == 17) << cpu;
    EXPECT_EQ(statements[0],
              Logged(std::string(kReplace) + "100, \"2.1.0.15\",\"" + cpu + "\", 10, now()); "));
    EXPECT_EQ(statements[1], SelectGeral(10, "2000100000015"));
    EXPECT_EQ(statements[2], SelectCliente(10, "2000100000015", 100));
    EXPECT_EQ(rows[0][0], "2.1.0.15");
    EXPECT_FALSE(rows[0][2].empty());

    EXPECT_TRUE(web_->AccessLogSince(requests).empty());
    EXPECT_FALSE(testsupport::PathExists(agent.Ini()));
}

TEST_F(Exchange, HostileVersionTextsAreStoredExactlyAndAddNoStatement) {
    const std::vector<std::string> texts = {
        "1.0\"); DROP TABLE versao; -- ",
        "a'b\"c\\d",
        "x\\\", 0, now()); DELETE FROM controle_versao; /* :nome ",
        "linha1\nlinha2\r\nfim;",
        "versão ção ü -- # ;",
        "\\",
        // UTF-8 on the wire: accents, a character outside the BMP, and fullwidth quotes
        // and backslash that a best-fit conversion would turn into '"' and '\\'.
        "Versão 2.1 ç",
        "Versão 2.1 \U0001F600",
        "x＂,＂＂,9,now()),(666,＂pwned＂,＂＂,9,now()); -- ＼",
    };
    AgentFolder agent;
    int cliente = 500;
    for (const std::string& text : texts) {
        ++cliente;
        const std::size_t mark = Mark();
        const auto r = agent.Run(
            {"9999999999999", text, "10", std::to_string(cliente), agent / "p"}, db_->port());
        EXPECT_EQ(r.exitStatus, 0) << text << ": " << r.err;
        const auto queries = QueriesSince(mark);
        const auto rows = ControleVersao(cliente, 10);
        ASSERT_EQ(rows.size(), 1u) << text;
        EXPECT_EQ(rows[0][0], text);
        EXPECT_EQ(agenttest::QueryRows(db_->port(),
                                       "SELECT HEX(versao) FROM atualizacaodb.controle_versao "
                                       "WHERE id_sistema = 10 AND codigo_cliente = " +
                                           std::to_string(cliente))[0][0],
                  agenttest::Hex(text));
        // The REPLACE holds the text escaped inside its literal; besides it only the two
        // SELECTs and the query component's own look-ups reached the server.
        const auto statements = AgentStatementsSince(mark);
        ASSERT_EQ(statements.size(), 3u) << text;
        EXPECT_EQ(statements[0], Logged(std::string(kReplace) + std::to_string(cliente) + ", \"" +
                                        dbclient::EscapeStringLiteral(text) + "\",\"" + rows[0][1] +
                                        "\", 10, now()); "));
        for (const auto& q : queries) {
            EXPECT_TRUE(q.rfind("REPLACE INTO controle_versao ", 0) == 0 ||
                        q.rfind("SELECT *,CONCAT(", 0) == 0 ||
                        q.rfind("SHOW INDEX FROM ", 0) == 0 || q.rfind("DESCRIBE ", 0) == 0)
                << q;
        }
    }
    // The tables are still there and whole.
    EXPECT_EQ(agenttest::QueryRows(db_->port(), "SELECT id FROM atualizacaodb.versao").size(), 8u);
    EXPECT_EQ(agenttest::QueryRows(db_->port(),
                                   "SELECT * FROM atualizacaodb.controle_versao WHERE "
                                   "codigo_cliente > 500 AND codigo_cliente < 510")
                  .size(),
              texts.size());
    EXPECT_TRUE(agenttest::QueryRows(db_->port(),
                                     "SELECT * FROM atualizacaodb.controle_versao "
                                     "WHERE codigo_cliente = 666")
                    .empty());
}

TEST_F(Exchange, NonNumericInstalledVersionFailsBeforeAnyStatement) {
    AgentFolder agent;
    for (const std::string bad : {"5.3.1.0", "1 OR 1=1", "0x1F", "12345678901234567890"}) {
        const std::size_t mark = Mark();
        const auto r = agent.Run({bad, "5.3.1.0", "10", "200", agent / "p"}, db_->port());
        EXPECT_EQ(r.exitStatus, 1) << bad;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Versão atual inválida no argumento 1: \"" + bad +
                             "\". Informe a versão instalada como número de 1 a 18 dígitos "
                             "(2.1.0.15 é 2000100000015).\n");
        EXPECT_TRUE(QueriesSince(mark).empty()) << bad;
    }
    EXPECT_TRUE(ControleVersao(200, 10).empty());
}

TEST_F(Exchange, OnlyTheGeneralVersionWithTheHighestIdAndTheClientVersionWithTheLowest) {
    AgentFolder agent;
    const std::size_t requests = web_->AccessLog().size();
    const auto r = agent.Run({"2000000000000", "2.0", "20", "77", agent / "p"}, db_->port());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, agenttest::kAlertLine);
    const auto log = web_->AccessLogSince(requests);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].uri, "/c.zip");  // id 4, though 3.0.0.0 (id 3) is a higher version
    EXPECT_EQ(log[1].uri, "/d.zip");  // id 5, the lowest id of client 77
    EXPECT_EQ(testsupport::ReadFile(agent / "c.zip"), "package c.zip");
    EXPECT_EQ(testsupport::ReadFile(agent / "d.zip"), "package d.zip");
    // The second version's values replace the first one's.
    EXPECT_EQ(testsupport::ReadFile(agent.Ini()),
              agenttest::IniText("2000600000000", agent / "d.zip"));
}

TEST_F(Exchange, AWholeRunWithAnEd25519AccountOnMariaDb) {
    // The agent's account made with MariaDB's ed25519 method: the server asks the agent to
    // sign its nonce.
    const std::string rows = agenttest::InsertVersion(
        {1, 20, 0, 2, 5, 0, 0, web_->url("/c.zip"), agenttest::Md5Sum(*www_ / "c.zip"), "c.zip"});
    testsupport::MariaDbServer ed({.initSql = agenttest::UpdateDatabaseSql(rows) +
                                              "INSTALL SONAME 'auth_ed25519';\n"
                                              "ALTER USER 'atualizacaodb'@'%' IDENTIFIED VIA "
                                              "ed25519 USING PASSWORD('58rtm36@');\n"
                                              "ALTER USER 'atualizacaodb'@'localhost' IDENTIFIED "
                                              "VIA ed25519 USING PASSWORD('58rtm36@');\n"});
    EXPECT_EQ(agenttest::QueryRows(ed.port(),
                                   "SELECT DISTINCT plugin FROM mysql.user WHERE "
                                   "user = 'atualizacaodb'"),
              std::vector<agenttest::Row>{{"ed25519"}});
    AgentFolder agent;
    const auto r = agent.Run({"2000000000000", "2.0", "20", "77", agent / "p"}, ed.port());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, agenttest::kAlertLine);
    EXPECT_EQ(testsupport::ReadFile(agent / "c.zip"), "package c.zip");
    EXPECT_EQ(testsupport::ReadFile(agent.Ini()),
              agenttest::IniText("2000500000000", agent / "c.zip"));
    EXPECT_EQ(agenttest::QueryRows(ed.port(), "SELECT versao FROM atualizacaodb.controle_versao"),
              std::vector<agenttest::Row>{{"2.0"}});
}

TEST_F(Exchange, ClientCodeZeroTakesTwoGeneralVersions) {
    AgentFolder agent;
    const std::size_t mark = Mark();
    const std::size_t requests = web_->AccessLog().size();
    const auto r = agent.Run({"2000000000000", "2.0", "20", "abc", agent / "p"}, db_->port());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const auto statements = AgentStatementsSince(mark);
    ASSERT_EQ(statements.size(), 3u);
    EXPECT_EQ(statements[2], SelectCliente(20, "2000000000000", 0));
    const auto log = web_->AccessLogSince(requests);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].uri, "/c.zip");  // highest id
    EXPECT_EQ(log[1].uri, "/a.zip");  // lowest id
    EXPECT_EQ(testsupport::ReadFile(agent.Ini()),
              agenttest::IniText("2000000000001", agent / "a.zip"));
}

TEST_F(Exchange, PartsOfMoreThanFourDigitsAreCutBeforeComparing) {
    AgentFolder agent;
    const std::size_t requests = web_->AccessLog().size();
    // 1.12345.0.0 compares as 1123400000000.
    auto r = agent.Run({"1123400000000", "1", "30", "1", agent / "p"}, db_->port());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(web_->AccessLogSince(requests).empty());
    r = agent.Run({"1123399999999", "1", "30", "1", agent / "p"}, db_->port());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(web_->AccessLogSince(requests).size(), 1u);
    EXPECT_EQ(testsupport::ReadFile(agent.Ini()),
              agenttest::IniText("1123400000000", agent / "a.zip"));
}

TEST_F(Exchange, TheConnectionIsClosedBeforeThePackageIsDownloaded) {
    AgentFolder agent;
    const std::size_t mark = Mark();
    testsupport::Process run(
        agent.Options({"1000000000000", "1.0", "40", "900", agent / "p"}, db_->port()));
    // The working file appears once the transfer has begun (nginx logs a request only when
    // it has ended).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!testsupport::PathExists(agent / "e.zip.part") && !run.Exited() &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(testsupport::PathExists(agent / "e.zip.part")) << run.Wait().err;

    EXPECT_TRUE(agenttest::QueryRows(db_->port(),
                                     "SELECT ID FROM information_schema.PROCESSLIST WHERE "
                                     "USER = 'atualizacaodb'")
                    .empty());
    const auto entries = db_->LoggedEntries();
    long session = -1;
    bool quit = false;
    int selects = 0;
    for (std::size_t i = mark; i < entries.size(); ++i) {
        if (entries[i].command == "Connect" && entries[i].argument.rfind("atualizacaodb@", 0) == 0)
            session = entries[i].connection;
        if (entries[i].connection != session) continue;
        quit = quit || entries[i].command == "Quit";
        if (entries[i].command == "Query" && entries[i].argument.rfind("SELECT *", 0) == 0)
            ++selects;
    }
    EXPECT_TRUE(quit);
    EXPECT_EQ(selects, 2);  // the client SELECT ran before the download

    const auto r = run.Wait(std::chrono::seconds(60));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, agenttest::kAlertLine);
    EXPECT_EQ(testsupport::ReadFile(agent / "e.zip"), std::string(64 * 1024, 'e'));
}

TEST_F(Exchange, UnreachableServerEndsWithTheConnectionError) {
    AgentFolder agent;
    const int closedPort = testsupport::FreePort();
    const auto r = agent.Run({"1", "1", "10", "300", agent / "p"}, closedPort);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("127.0.0.1"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
    EXPECT_FALSE(testsupport::PathExists(agent.Ini()));
}

TEST_F(Exchange, BlankArgumentEndsQuietlyWithoutContact) {
    AgentFolder agent;
    const std::size_t mark = Mark();
    const auto r = agent.Run({"2000100000015", "  ", "10", "400", agent / "p"}, db_->port());
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(testsupport::PathExists(agent / "p"));
    EXPECT_TRUE(db_->LoggedEntries().size() == mark);
}

}  // namespace
