// The outcome of each run that found a version, in controle_resultado: what the release
// manager sees of a machine that failed, and that a report that cannot be made changes
// nothing for the person at the PC.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "AgentRun.h"
#include "DatabaseRows.h"

namespace {

using agenttest::AgentFolder;

class Outcome : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        www_ = std::make_unique<testsupport::TempDir>("travik-www");
        testsupport::WriteFile(*www_ / "pacote.zip", "o pacote");
        web_ = std::make_unique<testsupport::NginxServer>(www_->path());
        const std::string link = web_->url("/pacote.zip");
        std::string rows;
        rows += agenttest::InsertVersion(
            {1, 1, 0, 3, 0, 0, 7, link, agenttest::Md5Sum(*www_ / "pacote.zip"), "pacote.zip"});
        rows += agenttest::InsertVersion(
            {2, 2, 0, 3, 1, 0, 0, link, std::string(32, 'a'), "pacote.zip"});  // wrong digest
        rows += agenttest::InsertVersion(
            {3, 3, 0, 3, 0, 0, 0, link, std::string(32, 'a'), "sub/\"x\".zip"});  // bad name
        db_ = std::make_unique<testsupport::MariaDbServer>(
            testsupport::MariaDbServer::Options{.initSql = agenttest::UpdateDatabaseSql(rows)});
    }
    static void TearDownTestSuite() {
        db_.reset();
        web_.reset();
        www_.reset();
    }
    static testsupport::ProcessResult RunSystem(const AgentFolder& agent, int sistema,
                                                int cliente) {
        return agent.Run(
            {"2000000000000", "2.0", std::to_string(sistema), std::to_string(cliente), agent / "p"},
            db_->port());
    }
    // The rows of one client: id_sistema, cpu, versao_alvo, nome_versao, resultado,
    // mensagem, and whether the time is the server's of the last minute.
    static std::vector<agenttest::Row> Outcomes(int cliente) {
        return agenttest::QueryRows(
            db_->port(),
            "SELECT id_sistema, cpu, versao_alvo, nome_versao, resultado, mensagem, "
            "data_hora_resultado > now() - INTERVAL 1 MINUTE FROM "
            "atualizacaodb.controle_resultado WHERE codigo_cliente = " +
                std::to_string(cliente) + " ORDER BY id_sistema");
    }
    static std::string Cpu(int cliente) {
        const auto rows =
            agenttest::QueryRows(db_->port(),
                                 "SELECT DISTINCT cpu FROM atualizacaodb.controle_versao WHERE "
                                 "codigo_cliente = " +
                                     std::to_string(cliente));
        return rows.size() == 1 ? rows[0][0] : "";
    }
    static void Admin(const std::string& sql) { agenttest::ExecuteSql(db_->port(), sql); }

    static inline std::unique_ptr<testsupport::TempDir> www_;
    static inline std::unique_ptr<testsupport::NginxServer> web_;
    static inline std::unique_ptr<testsupport::MariaDbServer> db_;
};

TEST_F(Outcome, EachRunThatFoundAVersionLeavesItsOutcome) {
    AgentFolder agent;
    const auto ok = RunSystem(agent, 1, 10);
    EXPECT_EQ(ok.exitStatus, 0) << ok.err;
    const auto digest = RunSystem(agent, 2, 10);
    EXPECT_EQ(digest.exitStatus, 1);
    const auto name = RunSystem(agent, 3, 10);
    EXPECT_EQ(name.exitStatus, 1);
    const auto nothing = RunSystem(agent, 9, 10);  // no version of system 9
    EXPECT_EQ(nothing.exitStatus, 0) << nothing.err;

    const std::string cpu = Cpu(10);
    ASSERT_FALSE(cpu.empty());
    const std::string box = digest.err.substr(0, digest.err.size() - 1);  // less the "\n"
    EXPECT_NE(box.find("MD5 esperado " + std::string(32, 'a') + ", obtido "), std::string::npos)
        << box;
    const std::string nameBox = name.err.substr(0, name.err.size() - 1);
    const auto rows = Outcomes(10);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (agenttest::Row{"1", cpu, "3000000000007", "pacote.zip", "ok", "", "1"}));
    EXPECT_EQ(rows[1], (agenttest::Row{"2", cpu, "3000100000000", "pacote.zip", "erro", box, "1"}));
    // Quotes and the line break of the box stored as they are.
    EXPECT_EQ(rows[2],
              (agenttest::Row{"3", cpu, "3000000000000", "sub/\"x\".zip", "erro", nameBox, "1"}));

    // The next run replaces the machine's outcome.
    Admin("UPDATE atualizacaodb.versao SET md5_arquivo = '" +
          agenttest::Md5Sum(*www_ / "pacote.zip") + "' WHERE id = 2");
    EXPECT_EQ(RunSystem(agent, 2, 10).exitStatus, 0);
    EXPECT_EQ(Outcomes(10)[1][4], "ok");
    Admin("UPDATE atualizacaodb.versao SET md5_arquivo = '" + std::string(32, 'a') +
          "' WHERE id = 2");
}

TEST_F(Outcome, AReportThatCannotBeMadeChangesNothingForThePerson) {
    const struct {
        const char* what;
        std::string statement;
        int cliente;
        bool tableStays;
    } cases[] = {
        {"the account may not write the table",
         "REVOKE INSERT, DELETE ON atualizacaodb.controle_resultado FROM "
         "'atualizacaodb'@'%', 'atualizacaodb'@'localhost'",
         20, true},
        {"a database made before the table existed", "DROP TABLE atualizacaodb.controle_resultado",
         30, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Admin(c.statement);
        AgentFolder agent;
        const auto ok = RunSystem(agent, 1, c.cliente);
        EXPECT_EQ(ok.exitStatus, 0) << ok.err;
        EXPECT_EQ(ok.out, agenttest::kAlertLine);
        EXPECT_EQ(ok.err, "");
        const auto failed = RunSystem(agent, 2, c.cliente);
        EXPECT_EQ(failed.exitStatus, 1);
        EXPECT_EQ(failed.err.rfind("Erro ao fazer o download do arquivo pacote.zip\nMotivo: MD5 "
                                   "esperado ",
                                   0),
                  0u)
            << failed.err;
        if (c.tableStays) EXPECT_TRUE(Outcomes(c.cliente).empty());
    }
}

}  // namespace
