// The connection component against a real MariaDB: settings and their mirror in Params,
// the connect and disconnect sequences, login failures, the character-set step, and the
// operations that call the session.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "DbTestDatabase.h"
#include "dbclient/DbErrors.h"
#include "dbclient/DbQuery.h"
#include "testsupport/testsupport.h"

using namespace dbclient;

namespace {

std::vector<std::string> Lines(const TStringList& l) {
    return l.Lines();
}

// Connect entries of the server log for the agent's user.
int LoginsOf(const std::string& user) {
    int n = 0;
    for (const auto& e : dbtest::Server().LoggedEntries())
        if (e.command == "Connect" && e.argument.rfind(user + "@", 0) == 0) ++n;
    return n;
}

}  // namespace

TEST(DbConnection, DefaultsAndTheirMirror) {
    TDbConnection c;
    EXPECT_FALSE(c.Connected());
    EXPECT_EQ(c.Port(), 3306u);
    EXPECT_EQ(c.ConnectionTimeout(), 30u);
    EXPECT_EQ(c.MaxAllowedPackedSize(), 16u);
    EXPECT_TRUE(c.KeepConnection());
    EXPECT_FALSE(c.LoginPrompt());
    EXPECT_EQ(c.ConnectOptions(), TConnectOptions{coCompress});
    EXPECT_EQ(c.TransIsolation(), xiReadCommitted);
    EXPECT_EQ(c.DesignOptions(), (TDesignOptions{ddoStoreConnected, ddoStorePassword}));
    EXPECT_EQ(Lines(c.Params()), (std::vector<std::string>{"Port=3306", "TIMEOUT=30"}));
    EXPECT_EQ(c.GetServerVersion(), -1);
    EXPECT_EQ(TDbConnection::GetClientInfo(), "5.1");

    c.SetHost("db.example");
    c.SetUserName("u");
    c.SetUserPassword("p");
    c.SetDatabaseName("d");
    c.SetPortNumber(3307);
    c.SetMaxAllowedPackedSize(64);
    EXPECT_EQ(Lines(c.Params()),
              (std::vector<std::string>{"Port=3307", "TIMEOUT=30", "Host=db.example", "UID=u",
                                        "PWD=p", "DatabaseName=d", "MaxAllowedPackedSize=64"}));
    c.SetHost("");
    EXPECT_EQ(c.Params().Values("Host"), "");
    EXPECT_EQ(ClientFlagsOf({coCompress}) | 0x30000, 0x30020u);
    EXPECT_EQ(
        ClientFlagsOf({coFoundRows, coIgnoreSpaces, coInteractive, coNoSchema, coODBC, coSSL}),
        0xD52u);
}

TEST(DbConnection, ServerVersionNumber) {
    EXPECT_EQ(ServerVersionNumber("5.1.73-log"), 50173);
    EXPECT_EQ(ServerVersionNumber("5.0.21"), 50021);
    EXPECT_EQ(ServerVersionNumber("4.1.0"), 40100);
    EXPECT_EQ(ServerVersionNumber("3.23.7"), 32307);
    EXPECT_EQ(ServerVersionNumber("5.5.8"), 50508);
    EXPECT_EQ(ServerVersionNumber("10.11.6-MariaDB-0+deb12u1"), 101106);
    EXPECT_EQ(ServerVersionNumber("beta"), 0);
    EXPECT_EQ(ServerVersionNumber(""), 0);
}

TEST(DbConnection, LoginWithTheAgentsSettingsSendsNothingOfItsOwn) {
    auto c = dbtest::AgentConnection();
    std::vector<std::string> events;
    c->BeforeConnect = [&](TDbConnection&) { events.push_back("BeforeConnect"); };
    c->AfterConnect = [&](TDbConnection&) { events.push_back("AfterConnect"); };
    c->BeforeDisconnect = [&](TDbConnection&) { events.push_back("BeforeDisconnect"); };
    c->AfterDisconnect = [&](TDbConnection&) { events.push_back("AfterDisconnect"); };
    const int logins = LoginsOf("atualizacaodb");
    c->SetConnected(true);
    c->SetConnected(true);
    ASSERT_TRUE(c->Connected());
    EXPECT_EQ(LoginsOf("atualizacaodb"), logins + 1);
    EXPECT_EQ(c->Handle()->ClientFlags(), 0x30020u);
    EXPECT_EQ(c->Handle()->DBOptions().MaxAllowedPacketSize, 16777216u);
    EXPECT_EQ(c->Handle()->DBOptions().TimeOut, 30);
    EXPECT_EQ(c->GetServerVersion(), ServerVersionNumber(c->GetServerInfo()));
    EXPECT_GT(c->GetServerVersion(), 50000);

    const long thread = dbtest::ThreadIdOf(*c);
    c->Execute("SELECT 1");
    const auto entries = dbtest::EntriesOf(thread);
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[0].command, "Connect");
    // Between the login and the first statement: at most the session's own ping.
    std::vector<std::string> queries = dbtest::QueriesOf(thread);
    EXPECT_EQ(queries, std::vector<std::string>{"SELECT 1"});
    for (const auto& e : entries) EXPECT_NE(e.command, "Init DB");

    c->SetConnected(false);
    EXPECT_FALSE(c->Connected());
    EXPECT_EQ(events, (std::vector<std::string>{"BeforeConnect", "AfterConnect", "BeforeDisconnect",
                                                "AfterDisconnect"}));
    // COM_QUIT has no answer: the server may log it a moment after the close returned.
    std::string last;
    for (int i = 0; i < 100 && last != "Quit"; ++i) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        last = dbtest::EntriesOf(thread).back().command;
    }
    EXPECT_EQ(last, "Quit");
}

TEST(DbConnection, CharacterSetStep) {
    auto c = dbtest::AgentConnection();
    c->SetConnectionCharacterSet("utf8");
    c->SetConnected(true);
    const long thread = dbtest::ThreadIdOf(*c);
    EXPECT_EQ(
        dbtest::QueriesOf(thread),
        (std::vector<std::string>{"SET NAMES 'utf8'", "SHOW VARIABLES LIKE 'character_set%'"}));
    EXPECT_TRUE(c->GetUtf8Used());
    EXPECT_EQ(c->Handle()->DBCharSet(), ccUTF8);

    // A change while connected applies at once; the collation goes with the set.
    c->SetConnectionCharacterSet("latin1");
    auto queries = dbtest::QueriesOf(thread);
    ASSERT_GE(queries.size(), 2u);
    EXPECT_EQ(queries[queries.size() - 2], "SET NAMES 'latin1'");
    EXPECT_EQ(c->GetCharSet(), "latin1");
    EXPECT_FALSE(c->GetUtf8Used());

    c->SetConnectionCollation("latin1_bin");
    queries = dbtest::QueriesOf(thread);
    EXPECT_EQ(queries[queries.size() - 2], "SET NAMES 'latin1' COLLATE 'latin1_bin'");
    c->SetConnectionCharacterSet("utf8mb4");
    EXPECT_EQ(c->ConnectionCollation(), "");
    EXPECT_EQ(dbtest::QueriesOf(thread)[queries.size()], "SET NAMES 'utf8mb4'");

    auto other = dbtest::AgentConnection();
    other->SetConnectionCollation("utf8mb4_bin");
    other->SetConnected(true);
    EXPECT_EQ(dbtest::QueriesOf(dbtest::ThreadIdOf(*other)),
              std::vector<std::string>{"SET collation_connection = 'utf8mb4_bin'"});

    // A statement of the caller that changes the set is followed by the re-read.
    auto q = std::make_unique<TDbQuery>();
    q->SetDatabase(other.get());
    q->SQL().Add("SET NAMES utf8");
    q->ExecSQL();
    EXPECT_EQ(dbtest::QueriesOf(dbtest::ThreadIdOf(*other)).back(),
              "SHOW VARIABLES LIKE 'character_set%'");
    EXPECT_TRUE(other->GetUtf8Used());
}

TEST(DbConnection, SettingsMayNotChangeWhileConnected) {
    auto c = dbtest::AgentConnection();
    c->SetName("dbAtualizacao");
    c->SetConnected(true);
    c->SetPortNumber(c->Port());  // the same value: nothing to check
    c->SetHost("127.0.0.1");
    try {
        c->SetPortNumber(c->Port() + 1);
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "dbAtualizacao: Cannot perform this operation on an open database");
    }
    EXPECT_THROW(c->SetUserPassword("x"), EDatabaseError);
    EXPECT_THROW(c->Params().SetValues("Host", "elsewhere"), EDatabaseError);
    EXPECT_THROW(c->SetReadOnly(true), EDatabaseError);
    EXPECT_EQ(c->Params().Values("Host"), "127.0.0.1");
    EXPECT_TRUE(c->Connected());
    c->SetConnected(false);
    c->SetUserPassword("x");
    EXPECT_EQ(c->Params().Values("PWD"), "x");
}

TEST(DbConnection, RefusedLoginThenASecondAttempt) {
    auto c = dbtest::AgentConnection();
    c->SetUserPassword("wrong");
    bool after = false;
    c->AfterConnect = [&](TDbConnection&) { after = true; };
    try {
        c->SetConnected(true);
        FAIL();
    } catch (const EDbError& e) {
        EXPECT_EQ(e.MySQLErrorCode(), 1045);
        EXPECT_EQ(e.ErrorCode(), 1001);
        EXPECT_EQ(std::string(e.what()).rfind(
                      "MySQL Error Code: (1045)\r\nAccess denied for user 'atualizacaodb'@", 0),
                  0u)
            << e.what();
    }
    EXPECT_FALSE(c->Connected());
    EXPECT_FALSE(after);
    c->SetUserPassword("58rtm36@");
    c->SetConnected(true);
    EXPECT_TRUE(c->Connected());
    EXPECT_TRUE(after);
}

TEST(DbConnection, UnknownDatabase) {
    auto c = dbtest::AgentConnection();
    c->SetDatabaseName("nao_existe");
    try {
        c->SetConnected(true);
        FAIL();
    } catch (const EDbError& e) {
        EXPECT_EQ(e.MySQLErrorCode(), 1044) << e.what();
    }
}

TEST(DbConnection, UnreachableHost) {
    TDbConnection c;
    c.SetHost("127.0.0.1");
    c.SetPortNumber(static_cast<std::uint32_t>(testsupport::FreePort()));
    try {
        c.SetConnected(true);
        FAIL();
    } catch (const EDbError& e) {
        EXPECT_EQ(e.MySQLErrorCode(), 2003);
        EXPECT_EQ(
            std::string(e.what()).rfind(
                "MySQL Error Code: (2003)\r\nCan't connect to MySQL server on '127.0.0.1' (", 0),
            0u)
            << e.what();
    }
    EXPECT_FALSE(c.Connected());

    // With a failure handler nothing is raised; the handler gets the text.
    std::string reported;
    bool after = false;
    c.OnConnectionFailure = [&](TDbConnection&, const std::string& text) { reported = text; };
    c.AfterConnect = [&](TDbConnection&) { after = true; };
    EXPECT_NO_THROW(c.SetConnected(true));
    EXPECT_FALSE(c.Connected());
    EXPECT_TRUE(after);
    EXPECT_EQ(reported.rfind("Can't connect to MySQL server on '127.0.0.1' (", 0), 0u) << reported;

    // A query on it fails with the reason rather than running on nothing.
    TDbQuery q;
    q.SetDatabase(&c);
    q.SQL().Add("SELECT 1");
    EXPECT_THROW(q.Open(), EDbError);
    EXPECT_FALSE(q.Active());
}

TEST(DbConnection, LargestPacketIsCountedIn64BitsAndKeptToWhatTheLoginCarries) {
    auto c = dbtest::AgentConnection();
    c->SetMaxAllowedPackedSize(4095);
    c->SetConnected(true);
    EXPECT_EQ(c->Handle()->DBOptions().MaxAllowedPacketSize, 4095u << 20);
    c->Execute("SELECT 1");
    c->SetConnected(false);
    // 4096 MiB once wrapped to 0 bytes, and every write then failed.
    for (const std::uint32_t mib : {4096u, 0u}) {
        c->SetMaxAllowedPackedSize(mib);
        try {
            c->SetConnected(true);
            ADD_FAILURE() << mib;
        } catch (const EDbError& e) {
            EXPECT_NE(
                std::string(e.what()).find("Invalid MaxAllowedPackedSize " + std::to_string(mib) +
                                           ": the largest packet must be from 1 to 4095 MiB"),
                std::string::npos)
                << e.what();
        }
        EXPECT_FALSE(c->Connected());
    }
}

TEST(DbConnection, AnIPv6HostIsReachedOverIPv6) {
    testsupport::MariaDbServer server({.extraArgs = {"--bind-address=127.0.0.1,::1"}});
    TDbConnection c;
    c.SetHost("::1");
    c.SetPortNumber(static_cast<std::uint32_t>(server.port()));
    c.SetUserName(testsupport::MariaDbServer::kAdminUser);
    c.SetUserPassword(testsupport::MariaDbServer::kAdminPassword);
    c.SetConnected(true);
    ASSERT_TRUE(c.Connected());
    const long thread = dbtest::ThreadIdOf(c);
    std::string from;
    for (const auto& e : server.LoggedEntries())
        if (e.connection == thread && e.command == "Connect") from = e.argument;
    EXPECT_EQ(from.rfind("admin@::1 ", 0), 0u) << from;
}

TEST(DbConnection, EmptyHostIsLocalhost) {
    auto c = dbtest::AgentConnection();
    c->SetHost("");
    c->SetConnected(true);
    EXPECT_TRUE(c->Connected());
    EXPECT_EQ(c->GetHostInfo(), "localhost via TCP/IP");
}

TEST(DbConnection, LoginPrompt) {
    auto c = dbtest::AgentConnection();
    c->SetUserPassword("");
    c->SetLoginPrompt(true);
    try {
        c->SetConnected(true);
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Cannot connect to database 'atualizacaodb'");
    }
    c->OnLogin = [](TDbConnection&, TStringList& login) {
        login.SetValues("UID", "atualizacaodb");
        login.SetValues("PWD", "58rtm36@");
    };
    c->SetConnected(true);
    EXPECT_TRUE(c->Connected());
    EXPECT_EQ(c->Params().Values("PWD"), "58rtm36@");
    EXPECT_EQ(c->UserPassword(), "58rtm36@");
}

TEST(DbConnection, HoldingByDatasets) {
    auto c = dbtest::AgentConnection();
    c->SetKeepConnection(false);
    TDbQuery q;
    q.SetDatabase(c.get());
    q.SQL().Add("SELECT id FROM versao");
    q.Open();
    EXPECT_TRUE(c->Connected());
    EXPECT_EQ(c->RefCount(), 1);
    q.Close();
    EXPECT_FALSE(c->Connected());

    // ExecSQL holds it only while executing.
    q.SQL().Clear();
    q.SQL().Add("DO 1");
    q.ExecSQL();
    EXPECT_FALSE(c->Connected());

    // Disconnecting closes the attached datasets.
    c->SetKeepConnection(true);
    q.SQL().Clear();
    q.SQL().Add("SELECT id FROM versao");
    q.Open();
    c->SetConnected(false);
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(c->RefCount(), 0);

    // A prepared query holds it too, until it leaves the connection.
    c->SetKeepConnection(false);
    q.Prepare();
    EXPECT_TRUE(q.Prepared());
    EXPECT_TRUE(c->Connected());
    q.SetDatabase(nullptr);
    EXPECT_FALSE(q.Prepared());
    EXPECT_FALSE(c->Connected());
    EXPECT_EQ(c->DataSetCount(), 0);
}

TEST(DbConnection, ExecuteAndTransactions) {
    auto c = dbtest::AgentConnection();
    try {
        c->StartTransaction();
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Cannot perform this operation on a closed database");
    }
    EXPECT_EQ(c->Execute("UPDATE versao SET v_build = v_build + 0 WHERE id > 0"), 0);  // connects
    EXPECT_TRUE(c->Connected());
    c->Execute("CREATE TABLE IF NOT EXISTS transacoes (n INT) ENGINE=InnoDB");
    c->StartTransaction();
    EXPECT_TRUE(c->InTransaction());
    TParams params;
    params.Rebuild({"n"});
    params.ParamByName("n").SetAsInteger(5);
    EXPECT_EQ(c->Execute("INSERT INTO transacoes VALUES (:n)", &params), 1);
    c->Rollback();
    EXPECT_FALSE(c->InTransaction());
    bool ok = true;
    EXPECT_EQ(c->SelectInteger("SELECT COUNT(*) FROM transacoes", ok), 0);
    EXPECT_TRUE(ok);
    c->StartTransaction();
    c->Execute("INSERT INTO transacoes VALUES (6)");
    c->Commit();
    EXPECT_EQ(c->SelectInteger("SELECT n FROM transacoes", ok), 6);

    try {
        c->Execute("INSERT INTO nao_existe VALUES (1)");
        FAIL();
    } catch (const EDbError& e) {
        EXPECT_EQ(e.MySQLErrorCode(), 1146);
    }
    EXPECT_TRUE(c->Connected());
}

TEST(DbConnection, SelectHelpersAndInformation) {
    auto c = dbtest::AgentConnection();
    bool ok = false;
    EXPECT_EQ(c->SelectString("SELECT nome_versao, id FROM versao ORDER BY id", ok), "a.zip");
    EXPECT_TRUE(ok);
    EXPECT_EQ(c->SelectString("SELECT nome_versao, id FROM versao ORDER BY id DESC", ok,
                              std::string("ID")),
              "3");
    EXPECT_EQ(c->SelectString("SELECT nome_versao FROM versao WHERE id < 0", ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(c->SelectString("SELECT nome_versao FROM versao", ok, 5), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(c->SelectStringDef("SELECT nome_versao FROM versao WHERE id < 0", "nada"), "nada");
    EXPECT_EQ(c->SelectInt64Def("SELECT c_big FROM tipos WHERE id = 1", 0), INT64_MIN);
    EXPECT_EQ(c->SelectIntegerDef("SELECT id FROM versao WHERE id < 0", -1), -1);
    EXPECT_DOUBLE_EQ(c->SelectDoubleDef("SELECT c_dec FROM tipos WHERE id = 1", 0), 1234.5);
    EXPECT_EQ(c->SelectDateTimeDef("SELECT c_date FROM tipos WHERE id = 1", 0),
              *EncodeDate(2010, 5, 17));
    EXPECT_THROW(c->SelectString("SELEC 1", ok), EDbError);

    TStringList list;
    c->GetTableNames(list);
    for (const char* table : {"controle_versao", "tipos", "versao"})
        EXPECT_NE(std::find(list.Lines().begin(), list.Lines().end(), table), list.Lines().end())
            << table;
    c->GetFieldNames("versao", list);
    EXPECT_EQ(list.Count(), 10);
    EXPECT_EQ(list[0], "id");
    c->GetDatabases(list);
    EXPECT_NE(std::find(list.Lines().begin(), list.Lines().end(), "atualizacaodb"),
              list.Lines().end());
    EXPECT_EQ(c->GetDatabaseCharacterset(), "utf8mb4");
    EXPECT_EQ(c->GetDatabaseCollation().rfind("utf8mb4_", 0), 0u);
    EXPECT_FALSE(c->GetServerStat().empty());
    EXPECT_EQ(c->GetProtoInfo(), 10u);
    EXPECT_FALSE(c->GetIsSSLUsed());
}

TEST(DbConnection, SessionCommands) {
    auto c = dbtest::AgentConnection();
    c->SetUserName("admin");
    c->SetUserPassword("admin");
    EXPECT_TRUE(c->Ping());
    EXPECT_FALSE(c->Connected());  // connected only for the call

    c->SetConnected(true);
    c->SelectDB("mysql");
    bool ok = false;
    EXPECT_EQ(c->SelectString("SELECT DATABASE()", ok), "mysql");
    EXPECT_THROW(c->SelectDB("nao_existe"), EDbError);

    // A refused change of user raises and keeps the settings.
    EXPECT_THROW(c->ChangeUser("atualizacaodb", "wrong", "atualizacaodb"), EDbError);
    EXPECT_EQ(c->UserName(), "admin");
    EXPECT_EQ(c->Params().Values("UID"), "admin");

    // Killing another session.
    auto victim = dbtest::AgentConnection();
    victim->SetConnected(true);
    c->Kill(static_cast<std::uint32_t>(dbtest::ThreadIdOf(*victim)));
    EXPECT_THROW(c->Kill(999999), EDbError);
}

TEST(DbConnection, ReconnectRunsTheCharacterSetStepAndTheEvent) {
    auto c = dbtest::AgentConnection();
    c->SetConnectionCharacterSet("utf8");
    int reconnects = 0;
    c->OnReconnect = [&](TDbConnection&) { ++reconnects; };
    c->SetConnected(true);
    const long first = dbtest::ThreadIdOf(*c);
    auto admin = dbtest::AgentConnection();
    admin->Execute("KILL " + std::to_string(first));
    bool ok = false;
    EXPECT_EQ(c->SelectString("SELECT @@character_set_results", ok), "utf8mb3");
    EXPECT_EQ(reconnects, 1);
    const long second = dbtest::ThreadIdOf(*c);
    EXPECT_NE(first, second);
    EXPECT_EQ(dbtest::QueriesOf(second).front(), "SET NAMES 'utf8'");
}
