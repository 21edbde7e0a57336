// The components against a scripted server, for what a current MariaDB will not show:
// the exact bytes of a statement, old server versions, ENUM columns typed as such,
// failing metadata statements.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>

#include "dbclient/DbConnection.h"
#include "dbclient/DbErrors.h"
#include "dbclient/DbQuery.h"
#include "dbclient/MysqlClient.h"
#include "dbclient/MysqlFieldDef.h"
#include "dbclient/MysqlResult.h"
#include "testsupport/ScriptedMysql.h"

using namespace dbclient;

namespace {

using testsupport::mysql::Col;
using testsupport::mysql::Error;
using testsupport::mysql::IndexResult;
using testsupport::mysql::Ok;
using testsupport::mysql::Packet;
using testsupport::mysql::ResultSet;
using FakeMysql = testsupport::mysql::ScriptedMysql;

std::unique_ptr<TDbConnection> ConnectionTo(FakeMysql& server) {
    auto c = std::make_unique<TDbConnection>();
    c->SetHost("127.0.0.1");
    c->SetPortNumber(static_cast<std::uint32_t>(server.port()));
    c->SetDatabaseName("atualizacaodb");
    c->SetConnectOptions({});
    return c;
}

}  // namespace

TEST(DbScripted, ExecSqlSendsTheTextByteForByte) {
    FakeMysql server({.version = "5.1.73-log"}, [](const std::string&) { return Packet(1, Ok()); });
    auto c = ConnectionTo(server);
    TDbQuery q;
    q.SetDatabase(c.get());
    const std::string replace =
        "REPLACE INTO controle_versao (codigo_cliente, versao, cpu, id_sistema, "
        "data_hora_atualizacao) VALUES  "
        "(42, \"5.3.1.0\",\"\", 7, now()); ";
    q.SQL().Add(replace);
    q.SetRequestLive(true);
    q.ExecSQL();
    q.SQL().Clear();
    q.SQL().Add("UPDATE t SET a = 1");
    q.SQL().Add("WHERE b = 'Atualiza\xc3\xa7\xc3\xa3o'");
    q.ExecSQL();
    EXPECT_EQ(
        server.Statements(),
        (std::vector<std::string>{
            replace + "\r\n", "UPDATE t SET a = 1\r\nWHERE b = 'Atualiza\xc3\xa7\xc3\xa3o'\r\n"}));
    EXPECT_EQ(c->GetServerVersion(), 50173);
}

TEST(DbScripted, OldServerGetsTheTableNameWithoutBackquotes) {
    FakeMysql server({.version = "3.23.6"}, [](const std::string& s) {
        if (s.rfind("SHOW INDEX", 0) == 0)
            return IndexResult({{"versao", "0", "PRIMARY", "1", "id", "A"}});
        return ResultSet(
            {{"id", FIELD_TYPE_LONG, 11, NOT_NULL_FLAG | PRI_KEY_FLAG | AUTO_INCREMENT_FLAG}},
            {{"1"}});
    });
    auto c = ConnectionTo(server);
    TDbQuery q;
    q.SetDatabase(c.get());
    q.SQL().Add("SELECT id FROM versao");
    q.SetRequestLive(true);
    q.Open();
    EXPECT_EQ(server.Statements(),
              (std::vector<std::string>{"SELECT id FROM versao\r\n", "SHOW INDEX FROM versao"}));
    EXPECT_TRUE(q.CanModify());
    EXPECT_EQ(q.FieldByName("id").DataType(), ftAutoInc);
    EXPECT_FALSE(q.FieldByName("id").Required());
}

TEST(DbScripted, EnumColumnsAndDefaultsComeFromOneDescribe) {
    FakeMysql server({.version = "5.0.21"}, [](const std::string& s) {
        if (s.rfind("SHOW INDEX", 0) == 0)
            return IndexResult({{"versao", "1", "por_nome", "1", "nome", "A"}});
        if (s == "DESCRIBE versao")
            return ResultSet({{"Field"}, {"Type"}, {"Null"}, {"Key"}, {"Default"}, {"Extra"}},
                             {{"ativo", "enum('Y','N')", "NO", "", "Y", ""},
                              {"nome", "varchar(40)", "NO", "MUL", std::nullopt, ""},
                              {"tipo", "enum('a','b','c')", "YES", "", std::nullopt, ""}});
        return ResultSet({{"ativo", FIELD_TYPE_ENUM, 1, NOT_NULL_FLAG},
                          {"nome", FIELD_TYPE_VAR_STRING, 40, NOT_NULL_FLAG},
                          {"tipo", FIELD_TYPE_ENUM, 1, 0}},
                         {{"Y", "um", "b"}, {"N", "dois", std::nullopt}});
    });
    auto c = ConnectionTo(server);
    TDbQuery q;
    q.SetDatabase(c.get());
    q.SQL().Add("SELECT ativo, nome, tipo FROM versao");
    q.SetRequestLive(true);
    q.Open();
    EXPECT_EQ(server.Statements(),
              (std::vector<std::string>{"SELECT ativo, nome, tipo FROM versao\r\n",
                                        "SHOW INDEX FROM `versao`", "DESCRIBE versao"}));
    EXPECT_EQ(q.FieldByName("ativo").DataType(), ftBoolean);
    EXPECT_EQ(q.FieldByName("ativo").AsString(), "True");
    EXPECT_FALSE(q.FieldByName("ativo").Required());  // it has a default
    EXPECT_TRUE(q.FieldByName("nome").Required());
    EXPECT_EQ(q.FieldByName("tipo").DataType(), ftWideString);  // results are UTF-8 from the login on
    EXPECT_EQ(q.FieldByName("tipo").AsString(), "b");
    // No unique index: not live.
    EXPECT_FALSE(q.CanModify());
    q.Next();
    EXPECT_FALSE(q.FieldByName("ativo").AsBoolean());
    EXPECT_TRUE(q.FieldByName("tipo").IsNull());
}

TEST(DbScripted, FailingDescribeIsIgnoredFailingShowIndexIsNot) {
    std::atomic<bool> indexFails = false;
    FakeMysql server({.version = "5.1.73"}, [&](const std::string& s) {
        if (s.rfind("SHOW INDEX", 0) == 0)
            return indexFails ? Packet(1, Error(1142, "SELECT command denied")) : IndexResult({});
        if (s.rfind("DESCRIBE", 0) == 0) return Packet(1, Error(1142, "SELECT command denied"));
        return ResultSet({{"nome", FIELD_TYPE_VAR_STRING, 40, NOT_NULL_FLAG}}, {{"um"}});
    });
    auto c = ConnectionTo(server);
    TDbQuery q;
    q.SetDatabase(c.get());
    q.SQL().Add("SELECT nome FROM versao");
    q.Open();
    EXPECT_EQ(q.FieldByName("nome").AsString(), "um");
    EXPECT_TRUE(q.FieldByName("nome").Required());
    q.Close();

    indexFails = true;
    try {
        q.Open();
        FAIL();
    } catch (const EDbError& e) {
        EXPECT_STREQ(e.what(), "MySQL Error Code: (1142)\r\nSELECT command denied");
    }
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(c->RefCount(), 0);
}

TEST(DbScripted, TimeValuesOfAnyLengthSortInADefinedOrder) {
    const std::string huge = "99999999999999999999";  // twenty digits
    FakeMysql server({.version = "5.1.73"}, [&](const std::string&) {
        return ResultSet({{"t", FIELD_TYPE_TIME}},
                         {{huge}, {"12:00:00"}, {"-" + huge + ":00:00"}, {"-01:00:00"}, {huge}});
    });
    TMysqlClient client;
    ASSERT_TRUE(client.connect("127.0.0.1", "u", "", "", static_cast<std::uint32_t>(server.port()),
                               "", true, 0));
    bool ok = false;
    auto r = client.query("SELECT t FROM versao", true, ok);
    ASSERT_TRUE(ok && r);
    r->SortBy({0});
    std::vector<std::string> sorted;
    for (r->First(); !r->Eof(); r->Next()) sorted.push_back(r->FieldValue(0));
    EXPECT_EQ(sorted, (std::vector<std::string>{"-" + huge + ":00:00", "-01:00:00", "12:00:00",
                                                huge, huge}));
}
