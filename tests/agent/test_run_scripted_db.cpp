// The agent against scripted database servers, for what a real MariaDB will not show
// on demand: the statements' bytes on the wire, a server that stops answering, a server
// too busy to take the login, a statement refused between the two SELECTs.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "AgentRun.h"
#include "testsupport/ScriptedMysql.h"
#include "testsupport/ScriptedServer.h"

using namespace std::chrono_literals;
using agenttest::AgentFolder;
using testsupport::mysql::Ok;
using testsupport::mysql::Packet;
using testsupport::mysql::ScriptedMysql;

namespace {

const std::vector<std::string> kArgs = {"2000100000015", "2.1.0.15", "10", "100", "p"};

// An update database with no newer version.
std::string Answer(const std::string& statement) {
    return testsupport::mysql::NoNewerVersion(statement);
}

const std::string kTooManyConnections = testsupport::mysql::TooManyConnections();

// A package on a real nginx, and the update database's answers that offer it as a newer
// general version.
struct NewerPackage {
    NewerPackage() { testsupport::WriteFile(www / "a.zip", "package a.zip"); }
    std::string Answer(const std::string& statement) const {
        return testsupport::mysql::NewerGeneralVersion(statement, web.url("/a.zip"),
                                                       agenttest::Md5Sum(www / "a.zip"), "a.zip");
    }
    testsupport::TempDir www{"travik-www"};
    testsupport::NginxServer web{www.path()};
};

}  // namespace

TEST(ScriptedDatabase, StatementsEndWithCrLfOnTheWire) {
    ScriptedMysql db(Answer);
    AgentFolder agent;
    const auto r = agent.Run(kArgs, db.port());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const auto statements = db.Statements();
    ASSERT_EQ(statements.size(), 5u);
    EXPECT_EQ(statements[0].rfind("REPLACE INTO controle_versao (", 0), 0u);
    EXPECT_TRUE(statements[0].ends_with("\", 10, now()); \r\n")) << statements[0];
    const std::string select =
        "SELECT *,CONCAT(v_major,LPAD(v_minor,4,0),LPAD(v_release,4,0),LPAD(v_build,4,0)) "
        "vl_versao FROM versao WHERE id_sistema = 10 AND "
        "CAST(CONCAT(v_major,LPAD(v_minor,4,0),LPAD(v_release,4,0),LPAD(v_build,4,0))AS SIGNED) > "
        "2000100000015 AND codigo_cliente = ";
    EXPECT_EQ(statements[1], select + "0  ORDER BY id DESC \r\n");
    EXPECT_EQ(statements[2], "SHOW INDEX FROM `versao`");
    EXPECT_EQ(statements[3], select + "100 ORDER BY id ASC \r\n");
}

TEST(ScriptedDatabase, WholeRunsWithTheLoginsOfMySqlServersOfToday) {
    // The server checks the agent's answers: by the cache (fast path), or the password
    // encrypted under the server's RSA key (full authentication, sha256_password).
    testsupport::TestKeys keys;
    struct Case {
        const char* greeting;
        const char* account;
        bool cached;
        std::vector<std::string> steps;
    };
    const std::vector<Case> cases = {
        {"caching_sha2_password",
         "caching_sha2_password",
         true,
         {"login caching_sha2_password", "scramble", "fast", "ok"}},
        {"caching_sha2_password",
         "caching_sha2_password",
         false,
         {"login caching_sha2_password", "full", "public key", "rsa", "ok"}},
        {"mysql_native_password",
         "caching_sha2_password",
         false,
         {"login mysql_native_password", "switch caching_sha2_password", "full", "public key",
          "rsa", "ok"}},
        {"caching_sha2_password",
         "sha256_password",
         false,
         {"login caching_sha2_password", "switch sha256_password", "public key", "rsa", "ok"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.steps.back() + " " + c.account + (c.cached ? " cached" : ""));
        ScriptedMysql db(
            {.version = "8.4.3",
             .auth = ScriptedMysql::Options::Authentication{.password = "58rtm36@",
                                                            .greetingMethod = c.greeting,
                                                            .accountMethod = c.account,
                                                            .cached = c.cached,
                                                            .rsaPrivateKey = keys / "rsa.pem",
                                                            .rsaPublicKey = keys / "rsa-spki.pem"}},
            Answer);
        AgentFolder agent;
        const auto r = agent.Run(kArgs, db.port());
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out + r.err, "");
        EXPECT_EQ(db.AuthSteps(), std::vector<std::vector<std::string>>{c.steps});
        const auto statements = db.Statements();
        ASSERT_EQ(statements.size(), 5u);
        EXPECT_EQ(statements[0].rfind("REPLACE INTO controle_versao (", 0), 0u);
    }
}

TEST(ScriptedDatabase, AServerThatStopsAnsweringEndsTheRunWithTheLostConnection) {
    // Silent after the greeting (the login gets no answer), and after the REPLACE.
    for (const bool afterReplace : {false, true}) {
        SCOPED_TRACE(afterReplace ? "after the REPLACE" : "after the greeting");
        ScriptedMysql db(
            {.loginAnswer = [&](int) { return afterReplace ? Packet(2, Ok()) : std::string(); }},
            [](const std::string& statement) {
                return statement.rfind("REPLACE", 0) == 0 ? std::string() : Answer(statement);
            });
        AgentFolder agent;
        const auto r = agent.Run(kArgs, db.port(), {{"TRAVIK_DB_TIMEOUT_MS", "300"}});
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err,
                  "MySQL Error Code: (2013)\r\nLost connection to MySQL server during query.\n");
        EXPECT_LT(r.elapsed, 20s);
        for (const auto& statement : db.Statements())
            EXPECT_EQ(statement.rfind("REPLACE", 0), 0u) << statement;
    }
}

TEST(ScriptedDatabase, ABusyServerIsTriedAgainAtMostFourTimes) {
    const std::map<std::string, std::string> shortWaits = {{"TRAVIK_DB_RETRY_WAIT_MS", "400"}};
    {
        // Refused twice before the greeting, then the run goes on as usual.
        ScriptedMysql db({.refuse = [](int index) { return index < 2 ? kTooManyConnections : ""; }},
                         Answer);
        AgentFolder agent;
        const auto r = agent.Run(kArgs, db.port(), shortWaits);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out + r.err, "");
        EXPECT_EQ(db.connections(), 3);
        EXPECT_EQ(db.logins(), 1);
        const auto statements = db.Statements();
        ASSERT_EQ(statements.size(), 5u);
        EXPECT_EQ(statements[0].rfind("REPLACE", 0), 0u);
    }
    {
        // The user's connections are all taken on every login: four logins, then the box.
        ScriptedMysql db(
            {.loginAnswer =
                 [](int) {
                     return Packet(2, testsupport::mysql::Error(1203,
                                                                "User atualizacaodb already has "
                                                                "more than 'max_user_connections' "
                                                                "active connections"));
                 }},
            Answer);
        AgentFolder agent;
        const auto r = agent.Run(kArgs, db.port(), shortWaits);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(r.err,
                  "MySQL Error Code: (1203)\r\nUser atualizacaodb already has more than "
                  "'max_user_connections' active connections.\n");
        EXPECT_EQ(db.logins(), 4);
        EXPECT_TRUE(db.Statements().empty());
    }
}

TEST(ScriptedDatabase, FecharDuringTheWaitEndsTheAgentAtOnce) {
    ScriptedMysql db({.refuse = [](int) { return kTooManyConnections; }}, Answer);
    AgentFolder agent;
    testsupport::Process run(
        agent.Options(kArgs, db.port(), {{"TRAVIK_DB_RETRY_WAIT_MS", "60000"}}));
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (db.connections() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(db.connections(), 1);
    std::this_thread::sleep_for(300ms);  // the refusal has arrived: the agent waits
    const auto sent = std::chrono::steady_clock::now();
    run.Signal(SIGTERM);
    const auto r = run.Wait(20s);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 2s);
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(db.connections(), 1);
}

TEST(ScriptedDatabase, FecharDuringTheOutcomeReportsWaitShowsNoAlert) {
    const NewerPackage package;
    // A newer general version; every login after the exchange's (the report's) is refused.
    ScriptedMysql db({.refuse = [](int index) { return index > 0 ? kTooManyConnections : ""; }},
                     [&](const std::string& statement) { return package.Answer(statement); });
    AgentFolder agent;
    testsupport::Process run(
        agent.Options(kArgs, db.port(), {{"TRAVIK_DB_RETRY_WAIT_MS", "60000"}}));
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (db.connections() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(db.connections(), 2);
    std::this_thread::sleep_for(300ms);  // the refusal has arrived: the agent waits
    run.Signal(SIGTERM);
    const auto r = run.Wait(20s);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out + r.err, "");  // no "Download Concluido"
    EXPECT_EQ(testsupport::ReadFile(agent / "a.zip"), "package a.zip");
    EXPECT_TRUE(testsupport::PathExists(agent.Ini()));
}

TEST(ScriptedDatabase, ClosingDuringTheGreetingEndsLikeFechar) {
    // A server that takes the connection and never greets.
    testsupport::ScriptedServer silent(
        [](testsupport::ScriptedConnection& c, int) { c.RecvAll(20s); });
    for (const int signo : {SIGTERM, SIGINT}) {
        const int before = silent.connections();
        AgentFolder agent;
        testsupport::Process run(agent.Options(kArgs, silent.port()));
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (silent.connections() == before && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        ASSERT_EQ(silent.connections(), before + 1);
        std::this_thread::sleep_for(300ms);  // the agent waits for the greeting
        const auto sent = std::chrono::steady_clock::now();
        run.Signal(signo);
        const auto r = run.Wait(20s);
        EXPECT_EQ(r.exitStatus, 0);
        EXPECT_LT(std::chrono::steady_clock::now() - sent, 2s);
        EXPECT_EQ(r.out + r.err, "");
    }
}

TEST(ScriptedDatabase, AFailedClientSelectEndsTheRunBeforeAnyDownload) {
    const NewerPackage package;
    // A newer general version, then the client SELECT interrupted on the server.
    ScriptedMysql db([&](const std::string& statement) {
        if (statement.find("ORDER BY id ASC") != std::string::npos)
            return Packet(1, testsupport::mysql::Error(1317, "Query execution was interrupted"));
        return package.Answer(statement);
    });
    AgentFolder agent;
    const auto r = agent.Run(kArgs, db.port());
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "MySQL Error Code: (1317)\r\nQuery execution was interrupted.\n");
    EXPECT_TRUE(package.web.AccessLog().empty());
    EXPECT_FALSE(testsupport::PathExists(agent / "a.zip"));
    EXPECT_FALSE(testsupport::PathExists(agent.Ini()));
}
