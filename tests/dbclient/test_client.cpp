// The client session against a real MariaDB server: login variants, commands,
// statements answered by OK packets and result sets, large values at the packet
// boundaries in both directions, multi-results, used results, reconnection and errors.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ClientTestSupport.h"
#include "dbclient/ClientErrors.h"
#include "dbclient/MysqlClient.h"
#include "testsupport/testsupport.h"

using namespace dbclient;
using clienttest::Exec;
using clienttest::kComponentFlags;
using clienttest::Login;
using clienttest::Scalar;

namespace {

testsupport::MariaDbServer& Server() {
    static testsupport::MariaDbServer server({
        .extraArgs = {"--max-allowed-packet=64M", "--local-infile=1", "--secure-auth=0"},
        .initSql =
            "CREATE DATABASE travik_test;\n"
            "CREATE TABLE travik_test.item (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(64),"
            " price DECIMAL(10,2) NULL, created DATETIME) ENGINE=InnoDB;\n"
            "INSERT INTO travik_test.item (name, price, created) VALUES"
            " ('alpha', 1.50, '2010-05-17 08:30:00'), ('beta', NULL, '2011-01-02 03:04:05'),"
            " ('gamma', 10.00, NULL);\n"
            "CREATE TABLE travik_test.blobs (id INT PRIMARY KEY, data LONGBLOB) ENGINE=InnoDB;\n"
            "CREATE TABLE travik_test.loaded (line VARCHAR(100)) ENGINE=InnoDB;\n"
            "CREATE USER 'reader'@'%' IDENTIFIED BY 'secret';\n"
            "GRANT SELECT ON travik_test.* TO 'reader'@'%';\n"
            "SET old_passwords = 1;\n"
            "CREATE USER 'olduser'@'%' IDENTIFIED BY 'oldpw';\n"
            "SET old_passwords = 0;\n"
            "INSTALL SONAME 'auth_ed25519';\n"
            "CREATE USER 'edwards'@'%' IDENTIFIED VIA ed25519 USING PASSWORD('ed-senha-25519');\n"
            "GRANT SELECT ON travik_test.* TO 'edwards'@'%';\n",
    });
    return server;
}

constexpr bool kCompressModes[] = {false, true};

std::unique_ptr<TMysqlClient> Connect(const Login& login = {}) {
    return clienttest::Connect(Server().port(), login);
}

// Statements of one server connection as the general log recorded them.
std::vector<testsupport::MariaDbServer::LogEntry> LoggedFor(std::uint32_t threadId) {
    std::vector<testsupport::MariaDbServer::LogEntry> entries;
    for (auto& e : Server().LoggedEntries())
        if (e.connection == static_cast<long>(threadId)) entries.push_back(e);
    return entries;
}

int CountCommand(const std::vector<testsupport::MariaDbServer::LogEntry>& entries,
                 const std::string& command) {
    int n = 0;
    for (const auto& e : entries) n += e.command == command;
    return n;
}

}  // namespace

TEST(ClientLogin, NativePasswordWithAndWithoutDatabase) {
    auto plain = Connect();
    ASSERT_TRUE(plain);
    EXPECT_TRUE(plain->Connected());
    EXPECT_EQ(plain->ProtocolVersion(), 10u);
    EXPECT_NE(plain->ServerVersion().find("MariaDB"), std::string::npos);
    EXPECT_GT(plain->ThreadId(), 0u);
    EXPECT_EQ(plain->LastErrorNo(), 0u);
    // Our flags, compression agreed, the component's multi-statement flags, pluggable
    // authentication (MariaDB announces it); no database.
    EXPECT_EQ(plain->ClientFlag(),
              kDefaultClientFlag | CLIENT_COMPRESS | 0x30000u | CLIENT_PLUGIN_AUTH);
    EXPECT_EQ(Scalar(*plain, "SELECT DATABASE()"), std::nullopt);
    EXPECT_EQ(Scalar(*plain, "SELECT CURRENT_USER()"), "admin@%");

    auto withDb = Connect({.db = "travik_test"});
    ASSERT_TRUE(withDb);
    EXPECT_EQ(withDb->ClientFlag(), kDefaultClientFlag | CLIENT_CONNECT_WITH_DB | CLIENT_COMPRESS |
                                        0x30000u | CLIENT_PLUGIN_AUTH);
    EXPECT_EQ(withDb->Db(), "travik_test");
    EXPECT_EQ(Scalar(*withDb, "SELECT DATABASE()"), "travik_test");
    // The database went with the login packet: no COM_INIT_DB.
    const auto log = LoggedFor(withDb->ThreadId());
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].command, "Connect");
    EXPECT_NE(log[0].argument.find("on travik_test"), std::string::npos) << log[0].argument;
    EXPECT_EQ(CountCommand(log, "Init DB"), 0);

    // A user without privileges on another database, and an empty password refused.
    auto reader = Connect({.user = "reader", .password = "secret", .db = "travik_test"});
    ASSERT_TRUE(reader);
    EXPECT_EQ(Scalar(*reader, "SELECT COUNT(*) FROM item"), "3");
    TMysqlClient empty;
    EXPECT_FALSE(
        empty.connect("127.0.0.1", "reader", "", "", Server().port(), "", true, kComponentFlags));
    EXPECT_EQ(empty.LastErrorNo(), 1045u);
}

TEST(ClientLogin, AccountWithAPreFourOnePassword) {
    // The server asks for the old scramble after the login packet.
    auto client = Connect({.user = "olduser", .password = "oldpw"});
    ASSERT_TRUE(client);
    EXPECT_EQ(Scalar(*client, "SELECT CURRENT_USER()"), "olduser@%");
    // The old scramble hardly mixes the last characters of a password, so a near miss
    // such as "oldpx" passes now and then: the wrong password differs throughout.
    TMysqlClient wrong;
    EXPECT_FALSE(wrong.connect("127.0.0.1", "olduser", "another-secret", "", Server().port(), "",
                               true, kComponentFlags));
    EXPECT_EQ(wrong.LastErrorNo(), 1045u);
}

TEST(ClientLogin, MariaDbEd25519Account) {
    // The server asks for client_ed25519 with its nonce; the signature is checked there.
    auto client = Connect({.user = "edwards", .password = "ed-senha-25519", .db = "travik_test"});
    ASSERT_TRUE(client);
    EXPECT_EQ(Scalar(*client, "SELECT CONCAT(CURRENT_USER(), ' ', DATABASE())"),
              "edwards@% travik_test");
    TMysqlClient wrong;
    EXPECT_FALSE(wrong.connect("127.0.0.1", "edwards", "ed-senha-25518", "", Server().port(), "",
                               true, kComponentFlags));
    EXPECT_EQ(wrong.LastErrorNo(), 1045u);
    EXPECT_FALSE(wrong.Connected());
    // A change of user to the account goes the same way.
    auto admin = Connect();
    ASSERT_TRUE(admin);
    ASSERT_TRUE(admin->change_user("edwards", "ed-senha-25519", "")) << admin->LastError();
    EXPECT_EQ(Scalar(*admin, "SELECT CURRENT_USER()"), "edwards@%");
}

TEST(ClientLogin, SelectDbSendsInitDbAndStoresTheName) {
    auto client = Connect();
    ASSERT_TRUE(client);
    ASSERT_TRUE(client->select_db("travik_test")) << client->LastError();
    EXPECT_EQ(client->Db(), "travik_test");
    EXPECT_EQ(Scalar(*client, "SELECT DATABASE()"), "travik_test");
    EXPECT_FALSE(client->select_db(""));
    EXPECT_FALSE(client->select_db("no_such_db"));
    EXPECT_EQ(client->LastErrorNo(), 1049u);
    EXPECT_EQ(client->Db(), "travik_test");
    const auto log = LoggedFor(client->ThreadId());
    std::vector<std::string> initDb;
    for (const auto& e : log)
        if (e.command == "Init DB") initDb.push_back(e.argument);
    EXPECT_EQ(initDb,
              std::vector<std::string>{"travik_test"});  // the server logs only what it accepted
    // Setting Db on an open session selects it there too.
    client->SetDb("mysql");
    EXPECT_EQ(Scalar(*client, "SELECT DATABASE()"), "mysql");
}

TEST(ClientLogin, Errors) {
    TMysqlClient client;
    EXPECT_FALSE(client.connect("127.0.0.1", "admin", "wrong", "", Server().port(), "", true,
                                kComponentFlags));
    EXPECT_EQ(client.LastErrorNo(), 1045u);
    EXPECT_NE(client.LastError().find("Access denied for user 'admin'"), std::string::npos)
        << client.LastError();
    EXPECT_FALSE(client.Connected());

    EXPECT_FALSE(client.connect("127.0.0.1", "admin", "admin", "no_such_db", Server().port(), "",
                                true, kComponentFlags));
    EXPECT_EQ(client.LastErrorNo(), 1049u);
    EXPECT_EQ(client.LastError(), "Unknown database 'no_such_db'");
    EXPECT_FALSE(client.Connected());

    const int closedPort = testsupport::FreePort();
    EXPECT_FALSE(
        client.connect("127.0.0.1", "admin", "admin", "", closedPort, "", true, kComponentFlags));
    EXPECT_EQ(client.LastErrorNo(), 2003u);
    EXPECT_EQ(client.LastError().rfind("Can't connect to MySQL server on '127.0.0.1' (", 0), 0u)
        << client.LastError();

    EXPECT_FALSE(client.connect("no-such-host.invalid", "admin", "admin", "", Server().port(), "",
                                true, kComponentFlags));
    EXPECT_EQ(client.LastErrorNo(), 2005u);
    EXPECT_EQ(client.LastError().rfind("Unknown MySQL Server Host 'no-such-host.invalid' (", 0), 0u)
        << client.LastError();

    // And a working login afterwards on the same object.
    ASSERT_TRUE(client.connect("127.0.0.1", "admin", "admin", "", Server().port(), "", true,
                               kComponentFlags))
        << client.LastError();
    EXPECT_EQ(client.LastErrorNo(), 0u);
}

TEST(ClientLogin, ChangeUser) {
    for (const bool compress : kCompressModes) {
        SCOPED_TRACE(compress ? "compressed" : "plain");
        auto client = Connect({.compress = compress});
        ASSERT_TRUE(client);
        ASSERT_TRUE(client->change_user("reader", "secret", "travik_test")) << client->LastError();
        EXPECT_EQ(client->User(), "reader");
        EXPECT_EQ(Scalar(*client, "SELECT CONCAT(CURRENT_USER(), ' ', DATABASE())"),
                  "reader@% travik_test");
        EXPECT_FALSE(client->change_user("reader", "wrong", ""));
        EXPECT_EQ(client->LastErrorNo(), 1045u);
        EXPECT_EQ(client->User(), "reader");
        EXPECT_EQ(client->Password(), "secret");
    }
}

TEST(ClientStatements, OkAnswers) {
    for (const bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "compressed" : "plain");
        auto client = Connect({.db = "travik_test", .compress = compress});
        ASSERT_TRUE(client);
        EXPECT_EQ(Scalar(*client, "SHOW SESSION STATUS LIKE 'Compression'").has_value(), true);
        bool ok = false;
        auto none = client->query("SHOW SESSION STATUS LIKE 'Compression'", true, ok);
        ASSERT_TRUE(none);
        EXPECT_STREQ(none->FieldValue(1), compress ? "ON" : "OFF");

        Exec(*client,
             "CREATE TEMPORARY TABLE kv (k INT PRIMARY KEY AUTO_INCREMENT, v VARCHAR(20))");
        auto r = client->query("INSERT INTO kv (v) VALUES ('a'), ('b'), ('c')", true, ok);
        EXPECT_TRUE(ok);
        EXPECT_FALSE(r);
        EXPECT_EQ(client->AffectedRows(), 3);
        EXPECT_EQ(client->LastInsertId(), 1);
        EXPECT_EQ(client->Info(), "Records: 3  Duplicates: 0  Warnings: 0");
        client->query("REPLACE INTO kv (k, v) VALUES (2, 'B')", true, ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(client->AffectedRows(), 2);
        EXPECT_EQ(client->Info(), "");
        client->query("UPDATE kv SET v = 'x' WHERE k > 1", true, ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(client->AffectedRows(), 2);
        EXPECT_EQ(client->Info(), "Rows matched: 2  Changed: 2  Warnings: 0");
        // An insert id of 16777216 or more arrives as an 8-byte number.
        client->query("INSERT INTO kv (k, v) VALUES (5000000000, 'big')", true, ok);
        EXPECT_FALSE(ok);  // out of range for INT
        Exec(*client, "ALTER TABLE kv MODIFY k BIGINT AUTO_INCREMENT");
        client->query("INSERT INTO kv (k, v) VALUES (5000000000, 'big')", true, ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(client->LastInsertId(), 5000000000LL);
        // Warnings are counted.
        client->query("INSERT INTO kv (v) VALUES ('this text is far too long for the column')",
                      true, ok);
        EXPECT_FALSE(ok);  // strict mode refuses it
        EXPECT_EQ(client->LastErrorNo(), 1406u);
        client->query(
            "INSERT IGNORE INTO kv (v) VALUES ('this text is far too long for the column')", true,
            ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(client->WarningCount(), 1);

        client->query("SELEC 1", true, ok);
        EXPECT_FALSE(ok);
        EXPECT_EQ(client->LastErrorNo(), 1064u);
        EXPECT_NE(client->LastError().find("You have an error in your SQL syntax"),
                  std::string::npos);
        EXPECT_TRUE(client->Connected());
        EXPECT_EQ(Scalar(*client, "SELECT 1"), "1");
    }
}

TEST(ClientStatements, ResultSetsWithNullsAndColumnDescriptions) {
    auto client = Connect({.db = "travik_test"});
    ASSERT_TRUE(client);
    bool ok = false;
    auto r = client->query(
        "SELECT id, name, price, created, NULL AS nothing FROM item AS i ORDER BY id", true, ok);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->ResultType(), rtStored);
    EXPECT_EQ(r->FieldsCount(), 5);
    EXPECT_EQ(r->RowsCount(), 3);
    EXPECT_EQ(client->AffectedRows(), 3);
    EXPECT_EQ(client->Status(), MYSQL_STATUS_READY);

    const TMysql_FieldDef* id = r->FieldDef(0);
    ASSERT_TRUE(id);
    EXPECT_EQ(id->Name, "id");
    EXPECT_EQ(id->Table, "i");
    EXPECT_EQ(id->org_table, "item");
    EXPECT_EQ(id->db, "travik_test");
    EXPECT_EQ(id->catalog, "def");
    EXPECT_EQ(id->FieldType, FIELD_TYPE_LONG);
    EXPECT_TRUE(id->Flags & PRI_KEY_FLAG);
    EXPECT_TRUE(id->Flags & AUTO_INCREMENT_FLAG);
    EXPECT_TRUE(id->Flags & NUM_FLAG);
    EXPECT_EQ(id->Max_Length, 1u);
    EXPECT_EQ(r->FieldDef(1)->FieldType, FIELD_TYPE_VAR_STRING);
    EXPECT_EQ(r->FieldDef(1)->Max_Length, 5u);
    EXPECT_EQ(r->FieldDef(2)->FieldType, FIELD_TYPE_NEWDECIMAL);
    EXPECT_EQ(r->FieldDef(2)->Decimals, 2u);
    EXPECT_EQ(r->FieldDef(3)->FieldType, FIELD_TYPE_DATETIME);
    EXPECT_EQ(r->FieldDef(4)->org_table, "");
    EXPECT_EQ(r->FieldDef(5), nullptr);
    EXPECT_EQ(r->FieldIndexByName("PRICE"), 2);
    EXPECT_EQ(r->FieldIndexByName("PRICE", true), -1);
    EXPECT_EQ(r->FieldIndexByName(""), -1);

    // First row on arrival.
    EXPECT_EQ(r->RecNo(), 0);
    EXPECT_FALSE(r->Eof());
    EXPECT_STREQ(r->FieldValue(1), "alpha");
    EXPECT_STREQ(r->FieldValueByName("created"), "2010-05-17 08:30:00");
    r->Next();
    EXPECT_STREQ(r->FieldValue(1), "beta");
    EXPECT_EQ(r->FieldValue(2), nullptr);  // NULL
    EXPECT_EQ(r->FieldValue(4), nullptr);
    EXPECT_EQ(r->FieldValue(9), nullptr);  // out of range
    EXPECT_FALSE(r->HasLengths());
    EXPECT_EQ(r->FieldLenght(1), 0u);  // lengths not read yet: the NULL length
    r->SetHasLengths(true);
    EXPECT_EQ(r->FieldLenght(1), 4u);
    EXPECT_EQ(r->FieldLenght(2), 0u);

    // No rows.
    auto empty = client->query("SELECT id FROM item WHERE id < 0", true, ok);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->RowsCount(), 0);
    EXPECT_TRUE(empty->Eof());
    EXPECT_EQ(empty->RecNo(), -1);
    EXPECT_EQ(empty->CurrentRow(), nullptr);
    EXPECT_EQ(empty->FieldValue(0), nullptr);
}

TEST(ClientStatements, PacketSizeLimits) {
    auto client = Connect({.db = "travik_test", .compress = false});
    ASSERT_TRUE(client);
    int reconnects = 0;
    client->SetOnReconnect([&] { ++reconnects; });
    const std::uint32_t thread = client->ThreadId();
    // A statement too large to send: refused before anything goes out, and the
    // connection stays as it was.
    bool ok = true;
    const std::string marker = "packet_limit_marker";
    client->query("SELECT '" + marker + std::string(16777216, 'z') + "'", true, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(client->LastErrorNo(), 1153u);
    EXPECT_EQ(client->LastError(), "Got packet bigger than 'max_allowed_packet'");
    EXPECT_TRUE(client->Connected());
    EXPECT_EQ(Scalar(*client, "SELECT CONNECTION_ID()"), std::to_string(thread));
    EXPECT_EQ(reconnects, 0);
    EXPECT_EQ(Server().GeneralLog().find(marker), std::string::npos);

    // An answer larger than the client accepts: 2020, and the connection is closed.
    client->query("SELECT REPEAT('x', 17000000)", true, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(client->LastErrorNo(), 2020u);
    EXPECT_FALSE(client->Connected());
    // The next statement reconnects.
    EXPECT_EQ(Scalar(*client, "SELECT 7"), "7");
    EXPECT_EQ(reconnects, 1);
}

TEST(ClientStatements, MultiStatementsAndMultiResults) {
    auto client = Connect({.db = "travik_test"});
    ASSERT_TRUE(client);
    bool ok = false;
    auto first = client->query(
        "SELECT 1 AS a; SELECT 2, 3; UPDATE item SET name = name WHERE id = 1; SELECT 'x'", true,
        ok);
    ASSERT_TRUE(ok) << client->LastError();
    ASSERT_TRUE(first);
    EXPECT_STREQ(first->FieldValue(0), "1");
    EXPECT_TRUE(client->moreResults());
    auto second = client->nextResult(true, ok);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->FieldsCount(), 2);
    EXPECT_STREQ(second->FieldValue(1), "3");
    EXPECT_TRUE(client->moreResults());
    auto third = client->nextResult(true, ok);
    EXPECT_TRUE(ok);
    EXPECT_FALSE(third);  // the UPDATE: an OK answer
    EXPECT_EQ(client->Info(), "Rows matched: 1  Changed: 0  Warnings: 0");
    EXPECT_TRUE(client->moreResults());
    auto fourth = client->nextResult(true, ok);
    ASSERT_TRUE(fourth);
    EXPECT_STREQ(fourth->FieldValue(0), "x");
    EXPECT_FALSE(client->moreResults());
    EXPECT_FALSE(client->nextResult(true, ok));
    EXPECT_FALSE(ok);

    // An error ends the chain; the session stays usable.
    auto a = client->query("SELECT 1; SELEC 2; SELECT 3", true, ok);
    ASSERT_TRUE(a);
    EXPECT_TRUE(client->moreResults());
    EXPECT_FALSE(client->nextResult(true, ok));
    EXPECT_FALSE(ok);
    EXPECT_EQ(client->LastErrorNo(), 1064u);
    EXPECT_FALSE(client->moreResults());
    EXPECT_EQ(Scalar(*client, "SELECT 4"), "4");

    // While results of a statement text are pending, another command would read one
    // of them as its own answer: it is refused.
    auto five = client->query("SELECT 5; SELECT 6", true, ok);
    ASSERT_TRUE(five);
    EXPECT_FALSE(client->query("SELECT 7", true, ok));
    EXPECT_EQ(client->LastErrorNo(), 2014u);
    auto six = client->nextResult(true, ok);
    ASSERT_TRUE(six);
    EXPECT_STREQ(six->FieldValue(0), "6");
    EXPECT_EQ(Scalar(*client, "SELECT 7"), "7");

    // A used result dropped half-way still leaves the following results readable.
    auto used = client->query("SELECT seq FROM seq_1_to_100; SELECT 'next'", false, ok);
    ASSERT_TRUE(used);
    used.reset();
    auto next = client->nextResult(true, ok);
    ASSERT_TRUE(next);
    EXPECT_STREQ(next->FieldValue(0), "next");
}

TEST(ClientStatements, UsedResults) {
    auto client = Connect({.db = "travik_test"});
    ASSERT_TRUE(client);
    bool ok = false;
    auto r = client->query("SELECT id, price FROM item ORDER BY id", false, ok);
    ASSERT_TRUE(ok);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->ResultType(), rtUsed);
    EXPECT_EQ(client->Status(), MYSQL_STATUS_USE_RESULT);
    EXPECT_TRUE(r->Bof());
    EXPECT_EQ(r->RecNo(), 0);
    EXPECT_STREQ(r->FieldValue(0), "1");
    EXPECT_EQ(r->FieldLenght(1), 4u);  // "1.50"

    // Nothing else may run while rows are pending.
    EXPECT_FALSE(client->query("SELECT 1", true, ok));
    EXPECT_FALSE(ok);
    EXPECT_EQ(client->LastErrorNo(), 2014u);
    EXPECT_EQ(client->LastError(), "Commands out of sync;  You can't run this command now");
    EXPECT_FALSE(client->ping());

    r->Next();
    EXPECT_EQ(r->RecNo(), 1);
    EXPECT_EQ(r->FieldValue(1), nullptr);
    EXPECT_EQ(r->FieldLenght(1), 0u);
    r->Prior();  // cannot move back
    EXPECT_TRUE(r->Bof());
    r->Next();
    r->Next();
    EXPECT_TRUE(r->Eof());
    EXPECT_TRUE(r->LastRowRead());
    EXPECT_FALSE(r->HadErrors());
    EXPECT_EQ(r->RowsCount(), 3);
    EXPECT_EQ(client->Status(), MYSQL_STATUS_READY);
    EXPECT_EQ(client->AffectedRows(), 3);
    EXPECT_EQ(Scalar(*client, "SELECT 2"), "2");

    // Last reads to the end.
    auto all = client->query("SELECT seq FROM seq_1_to_1000", false, ok);
    ASSERT_TRUE(all);
    all->Last();
    EXPECT_EQ(all->RowsCount(), 1000);
    EXPECT_EQ(all->RecNo(), 999);
    EXPECT_STREQ(all->FieldValue(0), "1000");
    EXPECT_EQ(client->Status(), MYSQL_STATUS_READY);

    // A used result given up half-way leaves the session in step.
    auto half = client->query("SELECT seq FROM seq_1_to_5000", false, ok);
    ASSERT_TRUE(half);
    half->Next();
    half.reset();
    EXPECT_EQ(client->Status(), MYSQL_STATUS_READY);
    EXPECT_EQ(Scalar(*client, "SELECT 'in step'"), "in step");
}

TEST(ClientStatements, ResultsOutliveTheirSession) {
    std::unique_ptr<TMysqlResult> stored, used;
    {
        auto client = Connect({.db = "travik_test"});
        ASSERT_TRUE(client);
        bool ok = false;
        stored = client->query("SELECT name FROM item ORDER BY id", true, ok);
        used = client->query("SELECT name FROM item ORDER BY id", false, ok);
        ASSERT_TRUE(stored && used);
    }
    stored->Last();
    EXPECT_STREQ(stored->FieldValue(0), "gamma");
    used->Next();  // the session is gone: the result ends with an error
    EXPECT_TRUE(used->Eof());
    EXPECT_TRUE(used->HadErrors());
}

TEST(ClientCommands, PingStatProcessesKillDatabases) {
    auto client = Connect();
    ASSERT_TRUE(client);
    EXPECT_TRUE(client->ping());
    const std::string stat = client->stat();
    EXPECT_EQ(stat.rfind("Uptime: ", 0), 0u) << stat;
    auto processes = client->list_processes();
    ASSERT_TRUE(processes) << client->LastError();
    const int idColumn = processes->FieldIndexByName("id");
    ASSERT_GE(idColumn, 0);
    EXPECT_GE(processes->findrows({idColumn}, {std::to_string(client->ThreadId())}), 0);
    // Current servers no longer know these two commands: their refusal comes back.
    EXPECT_FALSE(client->create_db("travik_scratch"));
    EXPECT_EQ(client->LastErrorNo(), 1047u);
    EXPECT_EQ(client->LastError(), "Unknown command");
    EXPECT_FALSE(client->drop_db("travik_scratch"));
    EXPECT_EQ(client->LastErrorNo(), 1047u);
    EXPECT_TRUE(client->Connected());
    EXPECT_TRUE(client->refresh(0x4)) << client->LastError();  // flush hosts
    EXPECT_TRUE(client->dump_debug_info()) << client->LastError();

    auto victim = Connect();
    ASSERT_TRUE(victim);
    victim->SetShouldReconnect(false);
    EXPECT_TRUE(client->kill(victim->ThreadId())) << client->LastError();
    EXPECT_FALSE(victim->ping());
    EXPECT_FALSE(victim->Connected());
    EXPECT_FALSE(client->kill(999999));
    EXPECT_EQ(client->LastErrorNo(), 1094u);

    client->close();
    EXPECT_FALSE(client->Connected());
    EXPECT_EQ(client->ThreadId(), 0u);
    EXPECT_EQ(client->ServerVersion(), "");
}

TEST(ClientSettings, ChangingAConnectionSettingClosesTheConnection) {
    auto client = Connect({.db = "travik_test"});
    ASSERT_TRUE(client);
    int reconnects = 0;
    client->SetOnReconnect([&] { ++reconnects; });
    client->SetPortNumber(client->Port());  // unchanged: nothing happens
    client->SetSSLKey("client.key");        // TLS is off: only stored
    EXPECT_TRUE(client->Connected());
    const std::uint32_t first = client->ThreadId();
    client->SetCompress(false);
    EXPECT_FALSE(client->Connected());
    // The next statement logs in again.
    EXPECT_EQ(Scalar(*client, "SELECT DATABASE()"), "travik_test");
    EXPECT_EQ(reconnects, 1);
    EXPECT_NE(client->ThreadId(), first);
    // The connection was dropped without COM_QUIT.
    EXPECT_EQ(CountCommand(LoggedFor(first), "Quit"), 0);
}

TEST(ClientReconnect, AfterTheConnectionWasKilled) {
    auto client = Connect({.db = "travik_test"});
    auto admin = Connect();
    ASSERT_TRUE(client && admin);
    int reconnects = 0;
    client->SetOnReconnect([&] { ++reconnects; });
    const std::uint32_t first = client->ThreadId();
    Exec(*admin, "KILL " + std::to_string(first));
    EXPECT_EQ(Scalar(*client, "SELECT DATABASE()"), "travik_test");
    EXPECT_EQ(reconnects, 1);
    EXPECT_NE(client->ThreadId(), first);
    // The new connection logged in with the stored settings and ran the statement once.
    const auto log = LoggedFor(client->ThreadId());
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].command, "Connect");
    int selects = 0;
    for (const auto& e : log) selects += e.command == "Query" && e.argument == "SELECT DATABASE()";
    EXPECT_EQ(selects, 1);

    // Without ShouldReconnect the statement fails and nothing reconnects.
    client->SetShouldReconnect(false);
    Exec(*admin, "KILL " + std::to_string(client->ThreadId()));
    bool ok = true;
    client->query("SELECT 1", true, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(client->LastErrorNo(), 2013u);
    client->query("SELECT 1", true, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(client->LastErrorNo(), 2006u);
    EXPECT_EQ(reconnects, 1);
}

TEST(ClientReconnect, RefusedInsideATransaction) {
    auto client = Connect({.db = "travik_test"});
    auto admin = Connect();
    ASSERT_TRUE(client && admin);
    int reconnects = 0;
    client->SetOnReconnect([&] { ++reconnects; });
    Exec(*client, "CREATE TABLE IF NOT EXISTS tx (v INT) ENGINE=InnoDB");
    Exec(*client, "START TRANSACTION");
    Exec(*client, "INSERT INTO tx VALUES (1)");
    EXPECT_TRUE(client->ServerStatus() & SERVER_STATUS_IN_TRANS);
    Exec(*admin, "KILL " + std::to_string(client->ThreadId()));
    // The transaction is lost with the connection: the next statement must not run
    // on a fresh connection as if nothing happened.
    bool ok = true;
    client->query("INSERT INTO tx VALUES (2)", true, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(client->LastErrorNo(), 2006u);
    EXPECT_EQ(reconnects, 0);
    // Told once; the statement after that reconnects.
    EXPECT_EQ(Scalar(*client, "SELECT COUNT(*) FROM tx"), "0");
    EXPECT_EQ(reconnects, 1);
}

TEST(ClientLocalFiles, RefusedByDefaultAndSentWhenSwitchedOn) {
    for (const bool compress : kCompressModes) {
        SCOPED_TRACE(compress ? "compressed" : "plain");
        testsupport::TempDir dir;
        const std::string file = dir / "lines.txt";
        testsupport::WriteFile(file, "one\ntwo\nthree\n");
        auto client = Connect({.db = "travik_test", .compress = compress});
        ASSERT_TRUE(client);
        Exec(*client, "DELETE FROM loaded");
        EXPECT_TRUE(client->ClientFlag() & CLIENT_LOCAL_FILES);  // still announced
        EXPECT_FALSE(client->LocalInfile());
        const std::string load = "LOAD DATA LOCAL INFILE '" + file + "' INTO TABLE loaded";
        bool ok = true;
        EXPECT_FALSE(client->query(load, true, ok));
        EXPECT_FALSE(ok);
        EXPECT_EQ(client->LastErrorNo(), 2068u);
        EXPECT_EQ(client->LastError(), "LOAD DATA LOCAL INFILE request refused");
        EXPECT_EQ(Scalar(*client, "SELECT COUNT(*) FROM loaded"), "0");

        client->SetLocalInfile(true);
        client->query(load, true, ok);
        EXPECT_TRUE(ok) << client->LastError();
        EXPECT_EQ(client->AffectedRows(), 3);
        EXPECT_EQ(Scalar(*client, "SELECT GROUP_CONCAT(line ORDER BY line) FROM loaded"),
                  "one,three,two");

        client->query("LOAD DATA LOCAL INFILE '" + dir / "missing.txt" + "' INTO TABLE loaded",
                      true, ok);
        EXPECT_FALSE(ok);
        EXPECT_EQ(
            client->LastError().rfind("File '" + dir / "missing.txt" + "' not found (Errcode: ", 0),
            0u)
            << client->LastError();
        EXPECT_EQ(Scalar(*client, "SELECT COUNT(*) FROM loaded"), "3");
    }
}

TEST(ClientThreads, OneSessionSharedUnderTheLock) {
    auto client = Connect();
    ASSERT_TRUE(client);
    client->SetMultiThreaded(true);
    client->SetShouldReconnect(false);  // no ping between statements
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                bool ok = false;
                const std::string want = std::to_string(t * 1000 + i);
                auto r = client->query("SELECT " + want, true, ok);
                if (!ok || !r || !r->FieldValue(0) || want != r->FieldValue(0)) ++failures;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    client->SetMultiThreaded(false);
    EXPECT_EQ(Scalar(*client, "SELECT 1"), "1");
}
