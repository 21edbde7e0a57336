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
#include "dbclient/MysqlResult.h"
#include "dbclient/MysqlFieldDef.h"
#include "testsupport/ScriptedServer.h"

using namespace dbclient;

namespace {

std::string LE(std::uint64_t v, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

std::string Packet(std::uint8_t seq, const std::string& payload) {
    return LE(payload.size(), 3) + static_cast<char>(seq) + payload;
}

std::string LengthCoded(const std::string& s) {
    if (s.size() < 251) return static_cast<char>(s.size()) + s;
    return "\xfc" + LE(s.size(), 2) + s;
}

std::string Ok() {
    return std::string("\0\0\0", 3) + LE(2, 2) + LE(0, 2);
}
std::string Eof() {
    return "\xfe" + LE(0, 2) + LE(2, 2);
}
std::string Error(int number, const std::string& text) {
    return "\xff" + LE(number, 2) + "#42000" + text;
}

struct Col {
    std::string name;
    std::uint8_t type = FIELD_TYPE_VAR_STRING;
    std::uint32_t length = 40;
    std::uint32_t flags = 0;
    std::string table = "versao";
};
using Row = std::vector<std::optional<std::string>>;

// The packets of a text result set, from sequence number 1.
std::string ResultSet(const std::vector<Col>& cols, const std::vector<Row>& rows) {
    std::uint8_t seq = 1;
    std::string out = Packet(seq++, std::string(1, static_cast<char>(cols.size())));
    for (const Col& c : cols) {
        std::string def = LengthCoded("def") + LengthCoded("db") + LengthCoded(c.table) +
                          LengthCoded(c.table) + LengthCoded(c.name) + LengthCoded(c.name);
        def += '\x0c' + LE(33, 2) + LE(c.length, 4) + static_cast<char>(c.type) + LE(c.flags, 2) +
               '\0' + LE(0, 2);
        out += Packet(seq++, def);
    }
    out += Packet(seq++, Eof());
    for (const Row& r : rows) {
        std::string p;
        for (const auto& v : r) p += v ? LengthCoded(*v) : std::string("\xfb");
        out += Packet(seq++, p);
    }
    return out + Packet(seq++, Eof());
}

// An answer to "SHOW INDEX FROM ...".
std::string IndexResult(const std::vector<Row>& rows) {
    static const std::vector<Col> columns = {{"Table"},        {"Non_unique"},  {"Key_name"},
                                             {"Seq_in_index"}, {"Column_name"}, {"Collation"}};
    return ResultSet(columns, rows);
}

// A server of protocol 10 that accepts any login and answers statements by `answer`
// (the packets after the command); it records every statement's bytes.
class FakeMysql {
  public:
    using Answer = std::function<std::string(const std::string& statement)>;

    FakeMysql(std::string version, Answer answer)
        : version_(std::move(version)),
          answer_(std::move(answer)),
          server_([this](testsupport::ScriptedConnection& c, int) { Serve(c); }) {}

    int port() const { return server_.port(); }
    std::vector<std::string> Statements() {
        std::lock_guard lock(mutex_);
        return statements_;
    }

  private:
    void Serve(testsupport::ScriptedConnection& c) {
        std::string greeting = "\x0a" + version_ + '\0' + LE(7, 4) + "abcdefgh" + '\0';
        greeting += LE(0x8000 | 0x2000 | 0x200 | 0x8 | 0x4 | 0x1, 2) + '\x21' + LE(2, 2) +
                    std::string(13, '\0');
        greeting += "ijklmnopqrst" + std::string(1, '\0');
        c.Send(Packet(0, greeting));
        if (!ReadPacket(c)) return;  // the login
        c.Send(Packet(2, Ok()));
        for (;;) {
            const auto command = ReadPacket(c);
            if (!command || command->empty() || (*command)[0] == 1) return;
            if ((*command)[0] == 3) {
                const std::string statement = command->substr(1);
                {
                    std::lock_guard lock(mutex_);
                    statements_.push_back(statement);
                }
                c.Send(answer_(statement));
            } else {
                c.Send(Packet(1, Ok()));
            }
        }
    }

    static std::optional<std::string> ReadPacket(testsupport::ScriptedConnection& c) {
        const std::string header = c.Recv(4);
        if (header.size() < 4) return std::nullopt;
        const std::size_t len = static_cast<unsigned char>(header[0]) |
                                static_cast<unsigned char>(header[1]) << 8 |
                                static_cast<unsigned char>(header[2]) << 16;
        std::string payload = c.Recv(len);
        if (payload.size() < len) return std::nullopt;
        return payload;
    }

    std::string version_;
    Answer answer_;
    std::mutex mutex_;
    std::vector<std::string> statements_;
    testsupport::ScriptedServer server_;
};

std::unique_ptr<TDbConnection> ConnectionTo(const FakeMysql& server) {
    auto c = std::make_unique<TDbConnection>();
    c->SetHost("127.0.0.1");
    c->SetPort(static_cast<std::uint32_t>(server.port()));
    c->SetDatabaseName("atualizacaodb");
    c->SetConnectOptions({});
    return c;
}

}  // namespace

TEST(DbScripted, ExecSqlSendsTheTextByteForByte) {
    FakeMysql server("5.1.73-log", [](const std::string&) { return Packet(1, Ok()); });
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
    EXPECT_EQ(server.Statements(),
              (std::vector<std::string>{
                  replace + "\r\n",
                  "UPDATE t SET a = 1\r\nWHERE b = 'Atualiza\xc3\xa7\xc3\xa3o'\r\n"}));
    EXPECT_EQ(c->GetServerVersion(), 50173);
}

TEST(DbScripted, OldServerGetsTheTableNameWithoutBackquotes) {
    FakeMysql server("3.23.6", [](const std::string& s) {
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
    FakeMysql server("5.0.21", [](const std::string& s) {
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
    EXPECT_EQ(q.FieldByName("tipo").DataType(), ftString);
    EXPECT_EQ(q.FieldByName("tipo").AsString(), "b");
    // No unique index: not live.
    EXPECT_FALSE(q.CanModify());
    q.Next();
    EXPECT_FALSE(q.FieldByName("ativo").AsBoolean());
    EXPECT_TRUE(q.FieldByName("tipo").IsNull());
}

TEST(DbScripted, FailingDescribeIsIgnoredFailingShowIndexIsNot) {
    std::atomic<bool> indexFails = false;
    FakeMysql server("5.1.73", [&](const std::string& s) {
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
    FakeMysql server("5.1.73", [&](const std::string&) {
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
