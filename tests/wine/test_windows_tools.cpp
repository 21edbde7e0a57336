// The Windows release and query tools under Wine against this host's MariaDB and nginx:
// every command of travik-publish.exe, and travik-sql.exe. Signing needs the OpenSSL DLLs,
// which the test prefix does not have: the tool says so and publishes nothing.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../agent/AgentRun.h"
#include "../agent/DatabaseRows.h"
#include "testsupport/WineSession.h"

namespace {

using namespace std::chrono_literals;
using testsupport::WineSession;

class WindowsTools : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        www_ = std::make_unique<testsupport::TempDir>("travik-www");
        testsupport::WriteFile(*www_ / "pacote.zip", std::string(100000, 'w') + "fim");
        web_ = std::make_unique<testsupport::NginxServer>(www_->path());
        db_ = std::make_unique<testsupport::MariaDbServer>(testsupport::MariaDbServer::Options{
            .initSql = agenttest::UpdateDatabaseSql(
                "INSERT INTO atualizacaodb.controle_versao VALUES (42, 1, 'AA-BB', '2.1.0.14', "
                "NOW()), (43, 1, 'CC-DD', '2.1.0.15', NOW());")});
        wine_ = std::make_unique<WineSession>(TRAVIK_WINDOWS_BUILD_DIR);
    }
    static void TearDownTestSuite() {
        wine_.reset();
        db_.reset();
        web_.reset();
        www_.reset();
    }
    static testsupport::ProcessResult Run(const std::string& tool,
                                          const std::vector<std::string>& args) {
        std::vector<std::string> all = {"--db", "127.0.0.1:" + std::to_string(db_->port()),
                                        "--user", testsupport::MariaDbServer::kAdminUser};
        all.insert(all.end(), args.begin(), args.end());
        return testsupport::Run(
            wine_->Options(wine_->BuildDir() + "/tools/" + tool, all,
                           {{"TRAVIK_ADMIN_PASSWORD", testsupport::MariaDbServer::kAdminPassword}}),
            120s);
    }
    static testsupport::ProcessResult Publish(const std::vector<std::string>& args) {
        return Run("travik-publish.exe", args);
    }
    static std::vector<std::string> PublishArgs(const std::string& version) {
        return {"publish",
                "--system",
                "1",
                "--version",
                version,
                "--url",
                web_->url("/pacote.zip"),
                "--file",
                WineSession::WindowsPath(*www_ / "pacote.zip")};
    }

    static inline std::unique_ptr<testsupport::TempDir> www_;
    static inline std::unique_ptr<testsupport::NginxServer> web_;
    static inline std::unique_ptr<testsupport::MariaDbServer> db_;
    static inline std::unique_ptr<WineSession> wine_;
};

TEST_F(WindowsTools, EveryCommandOfTheReleaseTool) {
    auto r = Publish(PublishArgs("2.1.0.15"));
    ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
    const auto row = agenttest::QueryRows(
        db_->port(), "SELECT id, md5_arquivo FROM atualizacaodb.versao WHERE id_sistema = 1");
    ASSERT_EQ(row.size(), 1u);
    EXPECT_EQ(row[0][1], agenttest::Md5Sum(*www_ / "pacote.zip"));

    auto noCheck = PublishArgs("2.1.0.16");
    noCheck.push_back("--no-check");
    r = Publish(noCheck);
    EXPECT_EQ(r.exitStatus, 0) << r.err;

    r = Publish({"list", "--system", "1", "--csv"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find(",2.1.0.16,pacote.zip,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(",2.1.0.15,pacote.zip,"), std::string::npos) << r.out;

    r = Publish({"verify", "--id", row[0][0]});
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;

    r = Publish({"fleet", "--behind", "--csv"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("42,1,AA-BB,2.1.0.14,2.1.0.16,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("43,1,CC-DD,2.1.0.15,2.1.0.16,"), std::string::npos) << r.out;

    r = Publish({"withdraw", "--id", row[0][0]});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(agenttest::QueryRows(db_->port(), "SELECT id FROM atualizacaodb.versao").size(), 1u);

    // Signing without the OpenSSL DLLs beside the tool.
    const testsupport::TestKeys keys;
    auto signedArgs = PublishArgs("2.1.0.17");
    signedArgs.insert(signedArgs.end(), {"--key", WineSession::WindowsPath(keys / "ec.pem")});
    r = Publish(signedArgs);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("libcrypto-3-x64.dll"), std::string::npos) << r.err;
    EXPECT_EQ(agenttest::QueryRows(db_->port(), "SELECT id FROM atualizacaodb.versao").size(), 1u);
}

TEST_F(WindowsTools, TheQueryToolPrintsEveryResult) {
    const auto r = Run("travik-sql.exe", {"-- duas\nSELECT 1 AS um; SELECT 'dois' AS dois"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "um\r\n1\r\ndois\r\ndois\r\n");
}

}  // namespace
