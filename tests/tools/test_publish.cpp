// travik-publish against real MariaDB and nginx, one case per mistake a release manager
// makes, and the real agent picking up (or no longer seeing) what was published.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>

#include "../agent/AgentRun.h"
#include "../agent/DatabaseRows.h"
#include "ToolRun.h"

namespace {

using agenttest::AgentFolder;
using testsupport::ReadFile;
using testsupport::WriteFile;

const std::string kPackage = std::string(200000, 'n') + "nova";

// Each test uses its own system number, so one database serves them all.
class Publish : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        www_ = std::make_unique<testsupport::TempDir>("travik-www");
        WriteFile(*www_ / "pacote.zip", kPackage);
        WriteFile(*www_ / "antigo.zip", "o upload anterior");
        web_ = std::make_unique<testsupport::NginxServer>(www_->path());
        db_ = agenttest::StartUpdateDatabase("");
    }
    static void TearDownTestSuite() {
        db_.reset();
        web_.reset();
        www_.reset();
    }

    static testsupport::ProcessResult Tool(const std::vector<std::string>& args) {
        return tooltest::Publish(db_->port(), args);
    }
    static testsupport::ProcessResult PublishPackage(int sistema, const std::string& path,
                                                     const std::string& version = "2.1.0.15") {
        return Tool({"publish", "--system", std::to_string(sistema), "--version", version, "--url",
                     web_->url(path), "--file", *www_ / "pacote.zip"});
    }
    static std::vector<agenttest::Row> Rows(const std::string& sql) {
        return agenttest::QueryRows(db_->port(), sql);
    }
    static std::string IdOf(int sistema) {
        const auto rows = Rows("SELECT id FROM atualizacaodb.versao WHERE id_sistema = " +
                               std::to_string(sistema));
        return rows.size() == 1 ? rows[0][0] : std::string();
    }
    static testsupport::ProcessResult RunAgent(const AgentFolder& agent, int sistema,
                                               const std::string& cliente = "42",
                                               const std::string& versao = "2.1.0.14",
                                               const std::string& atual = "2000100000014") {
        return agent.Run({atual, versao, std::to_string(sistema), cliente, agent / "p"},
                         db_->port());
    }

    static inline std::unique_ptr<testsupport::TempDir> www_;
    static inline std::unique_ptr<testsupport::NginxServer> web_;
    static inline std::unique_ptr<testsupport::MariaDbServer> db_;
};

TEST_F(Publish, APublishedVersionReachesTheAgentByteExact) {
    const auto published = PublishPackage(1, "/pacote.zip");
    ASSERT_EQ(published.exitStatus, 0) << published.err;
    EXPECT_NE(published.out.find("id:             " + IdOf(1)), std::string::npos) << published.out;
    EXPECT_EQ(Rows("SELECT md5_arquivo, nome_versao, codigo_cliente FROM atualizacaodb.versao "
                   "WHERE id_sistema = 1"),
              (std::vector<agenttest::Row>{
                  {agenttest::Md5Sum(*www_ / "pacote.zip"), "pacote.zip", "0"}}));

    const AgentFolder agent;
    const auto run = RunAgent(agent, 1);
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(ReadFile(agent / "pacote.zip"), kPackage);
    EXPECT_EQ(ReadFile(agent.Ini()), agenttest::IniText("2000100000015", agent / "pacote.zip"));
}

TEST_F(Publish, ALinkServingOtherBytesIsRefusedAndNothingInserted) {
    const auto r = PublishPackage(2, "/antigo.zip");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find(agenttest::Md5Sum(*www_ / "antigo.zip")), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(agenttest::Md5Sum(*www_ / "pacote.zip")), std::string::npos) << r.err;
    EXPECT_TRUE(Rows("SELECT id FROM atualizacaodb.versao WHERE id_sistema = 2").empty());

    // A link that serves nothing is refused the same way, naming the server's answer.
    const auto missing = PublishPackage(2, "/nao-existe.zip");
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_NE(missing.err.find("404"), std::string::npos) << missing.err;
    EXPECT_TRUE(Rows("SELECT id FROM atualizacaodb.versao WHERE id_sistema = 2").empty());
}

TEST_F(Publish, ADuplicateIsRefused) {
    ASSERT_EQ(PublishPackage(3, "/pacote.zip").exitStatus, 0);
    const std::string id = IdOf(3);
    const auto again = PublishPackage(3, "/pacote.zip");
    EXPECT_EQ(again.exitStatus, 1);
    EXPECT_NE(again.err.find("já está publicada (id " + id + ")"), std::string::npos) << again.err;
    EXPECT_EQ(IdOf(3), id);
}

TEST_F(Publish, AnOlderVersionIsPublishedWithAWarning) {
    ASSERT_EQ(PublishPackage(7, "/pacote.zip", "2.1.0.15").exitStatus, 0);
    const auto older = PublishPackage(7, "/pacote.zip", "2.1.0.9");
    EXPECT_EQ(older.exitStatus, 0);
    EXPECT_NE(older.err.find("Aviso: a versão 2.1.0.9 não é mais nova que a 2.1.0.15"),
              std::string::npos)
        << older.err;
    // A client's version below the general one: the host would install the client's.
    const auto client = Tool({"publish", "--system", "7", "--client", "42", "--version", "2.1.0.12",
                              "--url", web_->url("/pacote.zip"), "--file", *www_ / "pacote.zip",
                              "--name", "cliente.zip", "--no-check"});
    EXPECT_EQ(client.exitStatus, 0) << client.err;
    EXPECT_NE(client.err.find("mais antiga que a versão geral 2.1.0.15"), std::string::npos)
        << client.err;
}

TEST_F(Publish, AWithdrawnVersionIsNoLongerSeenByTheAgent) {
    ASSERT_EQ(PublishPackage(4, "/pacote.zip").exitStatus, 0);
    const std::string id = IdOf(4);
    const auto listed = Tool({"list", "--system", "4"});
    EXPECT_EQ(listed.exitStatus, 0);
    EXPECT_NE(listed.out.find("2.1.0.15"), std::string::npos) << listed.out;
    const auto verified = Tool({"verify", "--id", id});
    EXPECT_EQ(verified.exitStatus, 0) << verified.out << verified.err;

    const auto withdrawn = Tool({"withdraw", "--id", id});
    EXPECT_EQ(withdrawn.exitStatus, 0) << withdrawn.err;
    EXPECT_NE(withdrawn.out.find("pacote.zip"), std::string::npos);
    EXPECT_EQ(IdOf(4), "");
    EXPECT_EQ(Tool({"withdraw", "--id", id}).exitStatus, 1);

    const AgentFolder agent;
    const auto run = RunAgent(agent, 4);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(testsupport::PathExists(agent / "pacote.zip"));
}

TEST_F(Publish, FleetCountsWhatTheAgentsReport) {
    ASSERT_EQ(PublishPackage(5, "/pacote.zip", "2.1.0.15").exitStatus, 0);
    // Installations already at 2.1.0.15 (argument 1), reporting different version texts;
    // each client code is another machine.
    const AgentFolder agent;
    const std::string current = "2000100000015";
    for (const auto& [cliente, versao] : std::vector<std::pair<std::string, std::string>>{
             {"1", "2.1.0.14"}, {"2", "2.1.0.15"}, {"3", "2.1.0.15"}, {"4", "versão beta"}})
        ASSERT_EQ(RunAgent(agent, 5, cliente, versao, current).exitStatus, 0);
    // A machine that last reported long ago.
    ASSERT_EQ(testsupport::Run(
                  tooltest::ToolOptions(TRAVIK_SQL_BINARY, db_->port(),
                                        {"INSERT INTO controle_versao VALUES (9, 5, 'AA-BB', "
                                         "'2.1.0.1', '2020-01-01 10:00:00')"}))
                  .exitStatus,
              0);

    const auto summary = Tool({"fleet", "--system", "5", "--csv"});
    ASSERT_EQ(summary.exitStatus, 0) << summary.err;
    // The report times of today's runs vary; the rest is exact.
    const std::string today = Rows("SELECT CURDATE()")[0][0];
    std::string stable = std::regex_replace(summary.out, std::regex(today + " [0-9:]{8}"), "hoje");
    EXPECT_EQ(stable,
              "id_sistema,versao,maquinas,clientes,ultimo_relato\n"
              "5,2.1.0.15,2,2,hoje\n5,2.1.0.14,1,1,hoje\n5,2.1.0.1,1,1,2020-01-01 10:00:00\n"
              "5,versão beta,1,1,hoje\n"
              "\n"
              "codigo_cliente,id_sistema,versao,maquinas\n"
              "1,5,2.1.0.14,1\n2,5,2.1.0.15,1\n3,5,2.1.0.15,1\n4,5,versão beta,1\n"
              "9,5,2.1.0.1,1\n");

    const auto behind = Tool({"fleet", "--system", "5", "--behind", "--csv"});
    ASSERT_EQ(behind.exitStatus, 0) << behind.err;
    stable = std::regex_replace(behind.out, std::regex(",[0-9A-F-]*,2.1.0.14,2.1.0.15,.*"),
                                ",cpu,2.1.0.14,2.1.0.15,hoje");
    EXPECT_EQ(stable,
              "codigo_cliente,id_sistema,cpu,versao,versao_publicada,ultimo_relato\n"
              "1,5,cpu,2.1.0.14,2.1.0.15,hoje\n9,5,AA-BB,2.1.0.1,2.1.0.15,2020-01-01 10:00:00\n");
    EXPECT_NE(behind.err.find("1 máquina(s)"), std::string::npos) << behind.err;

    const auto silent = Tool({"fleet", "--system", "5", "--silent", "30", "--csv"});
    EXPECT_EQ(silent.out,
              "codigo_cliente,id_sistema,cpu,versao,ultimo_relato\n"
              "9,5,AA-BB,2.1.0.1,2020-01-01 10:00:00\n");
}

TEST_F(Publish, FleetFailuresListsTheMachinesWhoseLastUpdateFailed) {
    // Published, then the file on the server replaced: every agent finds another digest.
    WriteFile(*www_ / "troca.zip", kPackage);
    ASSERT_EQ(PublishPackage(17, "/troca.zip", "2.1.0.15").exitStatus, 0);
    WriteFile(*www_ / "troca.zip", "outro conteúdo");
    const AgentFolder agent;
    const auto failed = RunAgent(agent, 17, "43");
    ASSERT_EQ(failed.exitStatus, 1);
    // A machine whose run went well is not listed.
    ASSERT_EQ(PublishPackage(18, "/pacote.zip").exitStatus, 0);
    ASSERT_EQ(RunAgent(agent, 18, "44").exitStatus, 0);

    const std::string cpu = Rows(
        "SELECT cpu FROM atualizacaodb.controle_resultado WHERE "
        "codigo_cliente = 43")[0][0];
    const std::string box = failed.err.substr(0, failed.err.size() - 1);
    auto r = Tool({"fleet", "--failures", "--csv", "--system", "17"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(std::regex_match(
        r.out,
        std::regex("codigo_cliente,id_sistema,cpu,versao_alvo,nome_versao,mensagem,data_hora\n"
                   "43,17," +
                   cpu +
                   R"(,2\.1\.0\.15,troca\.zip,"Erro ao fazer o download do arquivo troca\.zip)"
                   "\n"
                   R"(Motivo: MD5 esperado [0-9a-fA-F]{32}, obtido [0-9A-F]{32}\.",[0-9: -]{19})"
                   "\n")))
        << r.out;
    r = Tool({"fleet", "--failures", "--days", "1", "--system", "17"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("Máquinas cuja última atualização falhou nos últimos 1 dia(s):"),
              std::string::npos)
        << r.out;
    std::string oneLine = box;
    oneLine.replace(oneLine.find('\n'), 1, " / ");
    EXPECT_NE(r.out.find(oneLine), std::string::npos) << r.out;
    EXPECT_EQ(Tool({"fleet", "--days", "3"}).exitStatus, 2);
}

TEST_F(Publish, ASignedVersionCarriesASignatureTheOpensslToolAccepts) {
    const testsupport::TempDir keys("travik-keys");
    for (const std::string name : {"chave", "outra"}) {
        testsupport::Openssl({"ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out",
                              keys / (name + ".pem")});
        testsupport::Openssl(
            {"ec", "-in", keys / (name + ".pem"), "-pubout", "-out", keys / (name + "-pub.pem")});
    }
    const auto r = Tool({"publish", "--system", "6", "--client", "42", "--version", "2.1.0.15",
                         "--url", web_->url("/pacote.zip"), "--file", *www_ / "pacote.zip", "--key",
                         keys / "chave.pem"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const auto row = Rows("SELECT id, assinatura FROM atualizacaodb.versao WHERE id_sistema = 6");
    ASSERT_EQ(row.size(), 1u);

    // The message, written out here, and the signature checked by the openssl tool.
    const std::string sha256 =
        testsupport::Run({.argv = {"sha256sum", *www_ / "pacote.zip"}}).out.substr(0, 64);
    WriteFile(keys / "mensagem",
              "travik-package-v1\nid_sistema=6\ncodigo_cliente=42\n"
              "versao=2000100000015\nnome_versao=pacote.zip\nsha256=" +
                  sha256 + "\n");
    WriteFile(keys / "assinatura.b64", row[0][1]);
    testsupport::Openssl(
        {"base64", "-d", "-A", "-in", keys / "assinatura.b64", "-out", keys / "assinatura.der"});
    testsupport::Openssl({"dgst", "-sha256", "-verify", keys / "chave-pub.pem", "-signature",
                          keys / "assinatura.der", keys / "mensagem"});

    EXPECT_EQ(
        Tool({"verify", "--id", row[0][0], "--public-key", keys / "chave-pub.pem"}).exitStatus, 0);
    const auto other = Tool({"verify", "--id", row[0][0], "--public-key", keys / "outra-pub.pem"});
    EXPECT_EQ(other.exitStatus, 1);
    EXPECT_NE(other.out.find("[FALHOU] assinatura"), std::string::npos) << other.out;
}

TEST_F(Publish, ThePasswordIsNeverTakenFromTheCommandLine) {
    const auto noPassword = tooltest::Publish(db_->port(), {"list"}, false);
    EXPECT_EQ(noPassword.exitStatus, 1);
    EXPECT_NE(noPassword.err.find("TRAVIK_ADMIN_PASSWORD"), std::string::npos) << noPassword.err;
    // Given as an argument it is refused as bad usage, whatever form it takes.
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"list", "--password", "admin"}, {"list", "admin"}, {"list", "-p", "admin"}}) {
        const auto r = tooltest::Publish(db_->port(), args, false);
        EXPECT_EQ(r.exitStatus, 2) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace
