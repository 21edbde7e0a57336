// The Windows agent under Wine against this host's MariaDB and nginx: a whole update run,
// a wrong digest, a transfer killed half-way and resumed, and an unreachable database.
// Its error box is read and dismissed as a user would, through travik-user.exe.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "../agent/AgentRun.h"
#include "testsupport/WineSession.h"

namespace {

using namespace std::chrono_literals;
using testsupport::WineSession;

constexpr std::size_t kSlowSize = 1200 * 1024;

// A folder with a copy of the Windows agent, as an installation has it.
class WindowsAgentFolder {
  public:
    WindowsAgentFolder() : dir_("travik-win-agent") {
        std::filesystem::copy_file(std::string(TRAVIK_WINDOWS_BUILD_DIR) + "/TravikVersoes.exe",
                                   dir_ / "TravikVersoes.exe");
        std::filesystem::create_directory(dir_ / "Atualizacao_retaguarda");
    }
    std::string operator/(const std::string& name) const { return dir_ / name; }
    std::string Ini() const { return dir_ / "Atualizacao_retaguarda/versao.ini"; }
    // The agent's arguments for a system; argument 5 is a Windows path below the folder.
    std::vector<std::string> Args(int sistema) const {
        return {"2000100000014", "2.1.0.14", std::to_string(sistema), "42",
                WineSession::WindowsPath(dir_ / "Versões\\trabalho")};
    }
    testsupport::Process::Options Options(const WineSession& wine, int sistema, int dbPort) const {
        return wine.Options(dir_ / "TravikVersoes.exe", Args(sistema),
                            {{"TRAVIK_DB_HOST", "127.0.0.1:" + std::to_string(dbPort)},
                             {"TRAVIK_START_DELAY_MS", "0"}},
                            dir_.path());
    }

  private:
    testsupport::TempDir dir_;
};

class WindowsAgent : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        www_ = std::make_unique<testsupport::TempDir>("travik-www");
        std::filesystem::create_directory(*www_ / "lento");
        testsupport::WriteFile(*www_ / "pacote.zip", std::string(300000, 'p') + "fim");
        std::string slow(kSlowSize, '\0');
        for (std::size_t i = 0; i < slow.size(); ++i)
            slow[i] = static_cast<char>((i * 2654435761u) >> 13);
        testsupport::WriteFile(*www_ / "lento/grande.bin", slow);
        // Plain requests under /lento/ are slow, so the agent can be stopped half-way.
        web_ = std::make_unique<testsupport::NginxServer>(www_->path(),
                                                          "    location /lento/ {\n"
                                                          "      limit_rate 256k;\n"
                                                          "    }\n");
        const std::string md5 = agenttest::Md5Sum(*www_ / "pacote.zip");
        std::string rows;
        rows += agenttest::InsertVersion({1, 1, 0, 2, 1, 0, 15, web_->url("/pacote.zip"), md5,
                                          "pacote.zip"});
        rows += agenttest::InsertVersion({2, 2, 0, 2, 1, 0, 15, web_->url("/pacote.zip"),
                                          std::string(32, '0'), "pacote.zip"});
        rows += agenttest::InsertVersion({3, 3, 0, 2, 1, 0, 15, web_->url("/lento/grande.bin"),
                                          agenttest::Md5Sum(*www_ / "lento/grande.bin"),
                                          "grande.bin"});
        db_ = std::make_unique<testsupport::MariaDbServer>(
            testsupport::MariaDbServer::Options{.initSql = agenttest::UpdateDatabaseSql(rows)});
        wine_ = std::make_unique<WineSession>(TRAVIK_WINDOWS_BUILD_DIR);
    }
    static void TearDownTestSuite() {
        wine_.reset();
        db_.reset();
        web_.reset();
        www_.reset();
    }
    void TearDown() override {
        if (HasFailure()) wine_->Screenshot(std::string(::testing::TempDir()) + "/" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                                            ".png");
    }
    // The error box's texts (caption, then the button and the message), after which the
    // user dismisses it and chooses "Fechar": the agent then ends.
    static std::string ReadAndDismissErrorBox() {
        const auto box = wine_->User({"wait", "#32770", "TravikVersoes", "60000"});
        EXPECT_EQ(box.exitStatus, 0) << "no error box";
        EXPECT_EQ(wine_->User({"click", "#32770", "TravikVersoes", "OK"}).exitStatus, 0);
        EXPECT_EQ(wine_->User({"gone", "#32770", "TravikVersoes", "10000"}).exitStatus, 0);
        EXPECT_EQ(wine_->User({"close", "TravikVersoesApplication", ""}).exitStatus, 0);
        return box.out;
    }

    static inline std::unique_ptr<testsupport::TempDir> www_;
    static inline std::unique_ptr<testsupport::NginxServer> web_;
    static inline std::unique_ptr<testsupport::MariaDbServer> db_;
    static inline std::unique_ptr<WineSession> wine_;
};

bool WaitForSize(const std::string& path, std::uintmax_t bytes) {
    for (int i = 0; i < 3000; ++i) {
        std::error_code ec;
        if (std::filesystem::file_size(path, ec) >= bytes && !ec) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST_F(WindowsAgent, AWholeUpdateRun) {
    WindowsAgentFolder agent;
    const auto r = testsupport::Run(agent.Options(*wine_, 1, db_->port()), 120s);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(std::filesystem::is_directory(agent / "Versões/trabalho"));
    EXPECT_EQ(testsupport::ReadFile(agent / "pacote.zip"), testsupport::ReadFile(*www_ / "pacote.zip"));
    // CR LF lines and the package's Windows path.
    EXPECT_EQ(testsupport::ReadFile(agent.Ini()),
              agenttest::IniText("2000100000015", WineSession::WindowsPath(agent / "pacote.zip")));
    const auto queries = db_->LoggedQueries();
    bool replaced = false;
    for (const auto& q : queries)
        if (q.find("REPLACE INTO controle_versao") == 0 && q.find("(42, \"2.1.0.14\",\"") != std::string::npos &&
            q.find("\", 1, now())") != std::string::npos)
            replaced = true;
    EXPECT_TRUE(replaced) << ::testing::PrintToString(queries);
    EXPECT_NE(std::find_if(queries.begin(), queries.end(),
                           [](const std::string& q) {
                               return q.find("codigo_cliente = 42 ORDER BY id ASC") != std::string::npos;
                           }),
              queries.end());
}

TEST_F(WindowsAgent, AWrongDigestEndsInTheErrorBoxAfterThreeDownloads) {
    WindowsAgentFolder agent;
    const std::size_t mark = web_->AccessLog().size();
    testsupport::Process run(agent.Options(*wine_, 2, db_->port()));
    const std::string box = ReadAndDismissErrorBox();
    EXPECT_NE(box.find("Erro ao fazer o download do arquivo pacote.zip."), std::string::npos) << box;
    const auto r = run.Wait(60s);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(web_->AccessLogSince(mark).size(), 3u);
    EXPECT_FALSE(testsupport::PathExists(agent / "pacote.zip"));
    EXPECT_FALSE(testsupport::PathExists(agent.Ini()));
}

TEST_F(WindowsAgent, ATransferKilledHalfWayIsResumedByTheNextRun) {
    WindowsAgentFolder agent;
    const std::string part = agent / "grande.bin.part";
    const std::size_t mark = web_->AccessLog().size();
    {
        testsupport::Process first(agent.Options(*wine_, 3, db_->port()));
        ASSERT_TRUE(WaitForSize(part, 200 * 1024));
        first.Signal(SIGKILL);
        first.Wait(30s);
    }
    const auto kept = std::filesystem::file_size(part);
    ASSERT_LT(kept, kSlowSize);
    EXPECT_FALSE(testsupport::PathExists(agent / "grande.bin"));

    const auto r = testsupport::Run(agent.Options(*wine_, 3, db_->port()), 120s);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const auto log = web_->AccessLogSince(mark);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].range.rfind("bytes=", 0), 0u);
    EXPECT_GE(std::stoull(log[1].range.substr(6)), kept);
    EXPECT_EQ(log[1].status, "206");
    EXPECT_EQ(testsupport::ReadFile(agent / "grande.bin"),
              testsupport::ReadFile(*www_ / "lento/grande.bin"));
    EXPECT_FALSE(testsupport::PathExists(part));
}

TEST_F(WindowsAgent, ARefusedDatabasePortEndsInTheErrorBox) {
    WindowsAgentFolder agent;
    testsupport::Process run(agent.Options(*wine_, 1, testsupport::FreePort()));
    const std::string box = ReadAndDismissErrorBox();
    EXPECT_NE(box.find("Can't connect to MySQL server on '127.0.0.1' (10061)"), std::string::npos)
        << box;
    EXPECT_EQ(run.Wait(60s).exitStatus, 1);
    EXPECT_FALSE(testsupport::PathExists(agent.Ini()));
}

}  // namespace
