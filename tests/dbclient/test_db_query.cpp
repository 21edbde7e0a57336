// The query component against a real MariaDB: the statements it sends, its results as
// fields of every column type, and its errors.
#include <gtest/gtest.h>

#include "DbTestDatabase.h"
#include "dbclient/DbErrors.h"
#include "dbclient/DbQuery.h"

using namespace dbclient;
using dbtest::kUtf8Text;

namespace {

class DbQueryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        conn = dbtest::AgentConnection();
        conn->SetConnected(true);
        ASSERT_TRUE(conn->Connected());
        thread = dbtest::ThreadIdOf(*conn);
    }

    std::unique_ptr<TDbQuery> Query(const std::string& sql) {
        auto q = std::make_unique<TDbQuery>();
        q->SetDatabase(conn.get());
        q->SQL().Clear();
        q->SQL().Add(sql);
        return q;
    }

    std::vector<std::string> Sent() const { return dbtest::QueriesOf(thread); }

    std::unique_ptr<TDbConnection> conn;
    long thread = 0;
};

// The server logs a statement without its trailing blanks and semicolons.
std::string AsLogged(std::string sql) {
    while (!sql.empty() && (sql.back() == ' ' || sql.back() == ';')) sql.pop_back();
    return sql;
}

const char* kSelectGeneral =
    "SELECT *,CONCAT(v_major,LPAD(v_minor,4,0),LPAD(v_release,4,0),LPAD(v_build,4,0)) vl_versao "
    "FROM versao "
    "WHERE id_sistema = 7 AND "
    "CAST(CONCAT(v_major,LPAD(v_minor,4,0),LPAD(v_release,4,0),LPAD(v_build,4,0))AS "
    "SIGNED) > 2000000000000 AND codigo_cliente = 0  ORDER BY id DESC ";

}  // namespace

TEST_F(DbQueryTest, OpenOfTheAgentsSelectSendsItsStatementsAndReadsTheFirstRow) {
    auto q = Query(kSelectGeneral);
    q->SetRequestLive(true);
    q->Open();
    EXPECT_EQ(Sent(), (std::vector<std::string>{AsLogged(kSelectGeneral),
                                                "SHOW INDEX FROM `versao`", "DESCRIBE versao"}));
    EXPECT_EQ(q->RecordCount(), 2);
    EXPECT_EQ(q->FieldByName("link_sistema").AsString(), "http://127.0.0.1/b.zip");
    EXPECT_EQ(q->FieldByName("md5_arquivo").AsString(), "fedcba9876543210fedcba9876543210");
    EXPECT_EQ(q->FieldByName("nome_versao").AsString(), "b.zip");
    EXPECT_EQ(q->FieldByName("vl_versao").AsString(), "2000100010000");
    EXPECT_EQ(q->FieldByName("ID").AsInteger(), 2);
    // A computed column: never live.
    EXPECT_FALSE(q->CanModify());
    q->Close();

    // Once more: a new cursor asks again, and nothing else is sent.
    q->Open();
    EXPECT_EQ(Sent().size(), 6u);
    q.reset();
    EXPECT_EQ(Sent().size(), 6u);
}

TEST_F(DbQueryTest, LivenessNeedsOneTableWithAKey) {
    auto q = Query("SELECT id, nome_versao FROM versao");
    q->SetRequestLive(true);
    q->Open();
    EXPECT_TRUE(q->CanModify());
    q->SetRequestLive(false);
    q->Close();
    q->Open();
    EXPECT_FALSE(q->CanModify());
    // Only nullable or defaulted columns: no DESCRIBE.
    const auto before = Sent().size();
    auto t = Query("SELECT id, c_int FROM tipos");
    t->Open();
    EXPECT_EQ(Sent().size(), before + 2);
    EXPECT_EQ(Sent().back(), "SHOW INDEX FROM `tipos`");
}

TEST_F(DbQueryTest, ExecSqlSendsExactlyOneStatement) {
    const std::string replace =
        "REPLACE INTO controle_versao (codigo_cliente, versao, cpu, id_sistema, "
        "data_hora_atualizacao) VALUES  "
        "(42, \"5.3.1.0\",\"00-11-22-33-44-55\", 7, now()); ";
    auto q = Query(replace);
    q->SetRequestLive(true);
    EXPECT_EQ(q->RowsAffected(), -1);
    q->ExecSQL();
    EXPECT_EQ(q->RowsAffected(), 1);
    q->Close();
    EXPECT_EQ(Sent(), std::vector<std::string>{AsLogged(replace)});
    q->ExecSQL();  // the same key again
    EXPECT_GE(q->RowsAffected(), 1);
    EXPECT_EQ(Sent().size(), 2u);
    EXPECT_FALSE(q->Active());
}

TEST_F(DbQueryTest, MinusMinusInsideAQuotedValueStillCutsTheLine) {
    auto q = Query("UPDATE versao SET nome_versao = 'x -- y' WHERE id = 0");
    try {
        q->ExecSQL();
        FAIL() << "the cut statement ran";
    } catch (const EDbError& e) {
        EXPECT_EQ(e.MySQLErrorCode(), 1064);
    }
    EXPECT_EQ(Sent().back(), AsLogged("UPDATE versao SET nome_versao = 'x "));

    // Switched off, the text goes as written.
    q->SetRawText(true);
    q->ExecSQL();
    EXPECT_EQ(Sent().back(), "UPDATE versao SET nome_versao = 'x -- y' WHERE id = 0");
    EXPECT_EQ(q->RowsAffected(), 0);
}

TEST_F(DbQueryTest, ErrorsOfStatements) {
    auto q = Query("SELEC * FROM versao");
    try {
        q->ExecSQL();
        FAIL();
    } catch (const EDbError& e) {
        EXPECT_EQ(e.ErrorCode(), 1001);
        EXPECT_EQ(e.MySQLErrorCode(), 1064);
        EXPECT_EQ(std::string(e.what()).rfind(
                      "MySQL Error Code: (1064)\r\nYou have an error in your SQL syntax", 0),
                  0u)
            << e.what();
    }
    q->SQL().Clear();
    q->SQL().Add("SELECT * FROM nao_existe");
    try {
        q->Open();
        FAIL();
    } catch (const EDbError& e) {
        EXPECT_STREQ(e.what(),
                     "MySQL Error Code: (1146)\r\nTable 'atualizacaodb.nao_existe' doesn't exist");
        EXPECT_EQ(e.MySQLErrorCode(), 1146);
    }
    EXPECT_FALSE(q->Active());
    EXPECT_TRUE(conn->Connected());
    EXPECT_EQ(conn->RefCount(), 0);

    // An error in a later statement of the text: nothing is kept.
    q->SQL().Clear();
    q->SQL().Add("SELECT 1 AS a; SELECT * FROM nao_existe");
    EXPECT_THROW(q->Open(), EDbError);
    EXPECT_FALSE(q->Active());
    // The connection goes on.
    q->SQL().Clear();
    q->SQL().Add("SELECT 5 AS cinco");
    q->Open();
    EXPECT_EQ(q->FieldByName("cinco").AsInteger(), 5);
}

TEST_F(DbQueryTest, NoSqlStatementAvailable) {
    auto q = Query("x");
    for (int variant = 0; variant < 2; ++variant) {
        try {
            q->ExecSQL();
            FAIL();
        } catch (const EDatabaseError& e) {
            EXPECT_STREQ(e.what(), "No SQL statement available");
        }
        q->SQL().Clear();
    }
    q->SetName("qVersao");
    try {
        q->Open();
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "qVersao: No SQL statement available");
    }
    EXPECT_EQ(Sent().size(), 0u);
}

TEST_F(DbQueryTest, OpenOfAnUpdateRunsItThenReportsNoResultSet) {
    auto q = Query("UPDATE versao SET v_build = v_build WHERE id = 1");
    try {
        q->Open();
        FAIL();
    } catch (const ENoResultSet& e) {
        EXPECT_STREQ(e.what(), "Error creating cursor handle (MultiResultsetNo=0)");
        EXPECT_EQ(e.RequestedMultiResultsetNo(), 0);
    }
    EXPECT_EQ(Sent(), std::vector<std::string>{"UPDATE versao SET v_build = v_build WHERE id = 1"});
    EXPECT_FALSE(q->Active());
}

TEST_F(DbQueryTest, MultipleResultSets) {
    auto q = Query(
        "SELECT 1 AS a; SELECT 2 AS b; UPDATE versao SET v_build = v_build WHERE id = 0; SELECT 3 "
        "AS c");
    q->SetMultiResultsetNo(1);
    q->Open();
    EXPECT_EQ(q->FieldByName("b").AsString(), "2");
    q->Close();
    q->SetMultiResultsetNo(2);
    q->Open();
    EXPECT_EQ(q->FieldByName("c").AsString(), "3");
    q->Close();
    q->SetMultiResultsetNo(3);
    try {
        q->Open();
        FAIL();
    } catch (const ENoResultSet& e) {
        EXPECT_EQ(e.RequestedMultiResultsetNo(), 3);
    }
}

TEST_F(DbQueryTest, FieldNotFound) {
    auto q = Query("SELECT id FROM versao");
    q->Open();
    try {
        q->FieldByName("nome");
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Field 'nome' not found");
    }
    q->SetName("qVersao");
    try {
        q->FieldByName("nome");
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "qVersao: Field 'nome' not found");
    }
    EXPECT_EQ(q->FindField("nome"), nullptr);
}

TEST_F(DbQueryTest, OpenDatasetRefusesExecAndClosedDatasetRefusesCount) {
    auto q = Query("SELECT id FROM versao");
    EXPECT_THROW(q->RecordCount(), EDatabaseError);
    q->Open();
    try {
        q->ExecSQL();
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Cannot perform this operation on an open dataset");
    }
    q->Close();
    try {
        q->RecordCount();
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Cannot perform this operation on a closed dataset");
    }
}

TEST_F(DbQueryTest, Navigation) {
    auto q = Query("SELECT id FROM versao ORDER BY id");
    q->Open();
    EXPECT_TRUE(q->Bof());
    EXPECT_FALSE(q->Eof());
    EXPECT_EQ(q->RecNo(), 1);
    std::vector<std::string> ids;
    for (; !q->Eof(); q->Next()) ids.push_back(q->FieldByName("id").AsString());
    EXPECT_EQ(ids, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(q->FieldByName("id").AsString(), "3");
    q->Prior();
    EXPECT_EQ(q->FieldByName("id").AsString(), "2");
    EXPECT_EQ(q->RecNo(), 2);
    q->Last();
    EXPECT_TRUE(q->Eof());
    EXPECT_EQ(q->FieldByName("id").AsString(), "3");
    q->Prior();
    q->Prior();
    q->Prior();
    EXPECT_TRUE(q->Bof());
    EXPECT_EQ(q->FieldByName("id").AsString(), "1");
    q->First();
    EXPECT_EQ(q->RecNo(), 1);

    auto empty = Query("SELECT id FROM versao WHERE id < 0");
    empty->Open();
    EXPECT_EQ(empty->RecordCount(), 0);
    EXPECT_TRUE(empty->Eof());
    EXPECT_TRUE(empty->Bof());
    EXPECT_TRUE(empty->IsEmpty());
    EXPECT_EQ(empty->FieldByName("id").AsString(), "");
    EXPECT_TRUE(empty->FieldByName("id").IsNull());
}

TEST_F(DbQueryTest, EveryColumnType) {
    auto q = Query("SELECT * FROM tipos ORDER BY id");
    q->Open();
    const auto type = [&](const char* name) { return q->FieldByName(name).DataType(); };
    const auto text = [&](const char* name) { return q->FieldByName(name).AsString(); };
    EXPECT_EQ(type("id"), ftAutoInc);
    EXPECT_EQ(type("c_tiny"), ftSmallint);
    EXPECT_EQ(type("c_small"), ftWord);
    EXPECT_EQ(type("c_int"), ftInteger);
    EXPECT_EQ(type("c_uint"), ftLargeint);
    EXPECT_EQ(type("c_medium"), ftInteger);
    EXPECT_EQ(type("c_big"), ftLargeint);
    EXPECT_EQ(type("c_ubig"), ftLargeint);
    EXPECT_EQ(type("c_bit"), ftLargeint);
    EXPECT_EQ(type("c_dec"), ftFloat);
    EXPECT_EQ(type("c_float"), ftFloat);
    EXPECT_EQ(type("c_double"), ftFloat);
    EXPECT_EQ(type("c_date"), ftDate);
    EXPECT_EQ(type("c_datetime"), ftDateTime);
    EXPECT_EQ(type("c_timestamp"), ftDateTime);
    EXPECT_EQ(type("c_time"), ftTime);
    EXPECT_EQ(type("c_year"), ftInteger);
    // Results are UTF-8 from the login on: texts are wide.
    EXPECT_EQ(type("c_char"), ftWideString);
    EXPECT_EQ(type("c_varchar"), ftWideString);
    EXPECT_EQ(type("c_text"), ftWideMemo);
    EXPECT_EQ(type("c_blob"), ftBlob);
    EXPECT_EQ(type("c_enum"), ftWideString);
    EXPECT_EQ(type("c_set"), ftWideString);
    EXPECT_EQ(type("c_binary"), ftWideString);

    EXPECT_EQ(text("c_tiny"), "-5");
    EXPECT_EQ(text("c_small"), "65535");
    EXPECT_EQ(text("c_int"), "-2147483648");
    EXPECT_EQ(text("c_uint"), "4294967295");
    EXPECT_EQ(text("c_medium"), "-8388608");
    EXPECT_EQ(text("c_big"), "-9223372036854775808");
    EXPECT_EQ(text("c_ubig"), "18446744073709551615");
    EXPECT_EQ(q->FieldByName("c_bit").AsLargeInt(), 258);
    EXPECT_EQ(text("c_dec"), "1234.5");
    EXPECT_EQ(text("c_float"), "1.5");
    EXPECT_EQ(text("c_double"), "0.1");
    EXPECT_EQ(text("c_date"), "2010-05-17");
    EXPECT_EQ(text("c_datetime"), "2010-05-17 08:30:00");
    EXPECT_EQ(text("c_timestamp"), "2010-05-17 08:30:15");
    EXPECT_EQ(text("c_time"), "838:59:59");
    EXPECT_EQ(text("c_year"), "2024");
    EXPECT_EQ(text("c_char"), "abc");
    EXPECT_EQ(text("c_varchar"), kUtf8Text);
    EXPECT_EQ(text("c_text"), "texto longo");
    EXPECT_EQ(text("c_blob"), std::string("\0\xff", 2));
    EXPECT_EQ(text("c_enum"), "Y");
    EXPECT_EQ(text("c_set"), "a,b");
    EXPECT_EQ(text("c_binary"), std::string("a\0b", 3));
    EXPECT_EQ(q->FieldByName("c_datetime").AsDateTime(),
              CombineDateTime(*EncodeDate(2010, 5, 17), *EncodeTime(8, 30, 0)));
    EXPECT_EQ(q->FieldByName("c_varchar").Origin(), "tipos.c_varchar");

    q->Next();  // all NULL
    for (int i = 1; i < q->FieldCount(); ++i) {
        EXPECT_TRUE(q->Fields()[i].IsNull()) << q->Fields()[i].FieldName();
        EXPECT_EQ(q->Fields()[i].AsString(), "") << q->Fields()[i].FieldName();
    }

    q->Next();  // zero values and zero dates
    EXPECT_EQ(text("c_date"), "1899-12-30");
    EXPECT_EQ(q->FieldByName("c_date").AsFloat(), 0);
    EXPECT_EQ(text("c_datetime"), "1899-12-30 00:00:00");
    EXPECT_EQ(text("c_timestamp"), "0001-01-01 00:00:00");
    EXPECT_EQ(text("c_time"), "00:00:00");
    EXPECT_EQ(text("c_enum"), "N");
    EXPECT_FALSE(q->FieldByName("c_varchar").IsNull());
    EXPECT_EQ(text("c_varchar"), "");

    // With zero dates as NULL.
    q->Close();
    conn->SetDatasetOptions({dsoZeroDateAsNull});
    q->Open();
    q->Last();
    EXPECT_TRUE(q->FieldByName("c_date").IsNull());
    EXPECT_TRUE(q->FieldByName("c_datetime").IsNull());
    EXPECT_TRUE(q->FieldByName("c_timestamp").IsNull());
    EXPECT_FALSE(q->FieldByName("c_time").IsNull());
    conn->SetDatasetOptions({});
}

TEST_F(DbQueryTest, Utf8ConnectionGivesWideStrings) {
    conn->SetConnectionCharacterSet("utf8");
    auto q = Query("SELECT c_varchar, c_text FROM tipos WHERE id = 1");
    q->Open();
    EXPECT_EQ(q->FieldByName("c_varchar").DataType(), ftWideString);
    EXPECT_EQ(q->FieldByName("c_varchar").Size(), 40);
    EXPECT_EQ(q->FieldByName("c_text").DataType(), ftWideMemo);
    EXPECT_EQ(q->FieldByName("c_varchar").AsString(), kUtf8Text);
    q->Close();

    // UTF-8 text goes to the server and back unchanged.
    auto w = Query("SELECT CONCAT('" + kUtf8Text + "', '!') AS t");
    w->Open();
    EXPECT_EQ(w->FieldByName("t").AsString(), kUtf8Text + "!");
    w->Close();

    // Another character set: results are no longer UTF-8, statements go in the ANSI code
    // page (UTF-8 here).
    conn->SetConnectionCharacterSet("latin1");
    EXPECT_FALSE(conn->GetUtf8Used());
    auto n = Query("SELECT c_varchar FROM tipos WHERE id = 1");
    n->Open();
    EXPECT_EQ(n->FieldByName("c_varchar").DataType(), ftString);
}

TEST_F(DbQueryTest, TwoColumnsNamedId) {
    auto q = Query(
        "SELECT v.id, c.id, v.id AS ID_1 FROM versao v JOIN tipos c ON c.id = v.id ORDER BY v.id");
    q->Open();
    ASSERT_EQ(q->FieldCount(), 3);
    EXPECT_EQ(q->Fields()[0].FieldName(), "id");
    EXPECT_EQ(q->Fields()[1].FieldName(), "id_1");
    EXPECT_EQ(q->Fields()[2].FieldName(), "ID_1_1");
    EXPECT_EQ(q->FieldByName("id_1").Origin(), "tipos.id");
}

TEST_F(DbQueryTest, Parameters) {
    auto q = Query("SELECT nome_versao, :texto AS eco FROM versao WHERE id = :id");
    ASSERT_EQ(q->ParamCount(), 2);
    q->ParamByName("id").SetAsInteger(3);
    q->ParamByName("texto").SetAsString("it's -- \"quoted\" \\ " + kUtf8Text);
    q->Open();
    EXPECT_EQ(q->FieldByName("nome_versao").AsString(), "c.zip");
    EXPECT_EQ(q->FieldByName("eco").AsString(), "it's -- \"quoted\" \\ " + kUtf8Text);
    q->Close();
    q->ParamByName("texto").Clear();
    q->Open();
    EXPECT_TRUE(q->FieldByName("eco").IsNull());
}

TEST_F(DbQueryTest, FreeingAnOpenQueryClosesIt) {
    auto q = Query("SELECT * FROM versao");
    q->Open();
    EXPECT_EQ(conn->RefCount(), 1);
    EXPECT_NO_THROW(q.reset());
    EXPECT_EQ(conn->RefCount(), 0);
    EXPECT_EQ(conn->DataSetCount(), 0);
    EXPECT_TRUE(conn->Connected());

    // And the other way round: the connection goes first.
    auto orphan = Query("SELECT * FROM versao");
    orphan->Open();
    conn.reset();
    EXPECT_FALSE(orphan->Active());
    EXPECT_EQ(orphan->Database(), nullptr);
    EXPECT_THROW(orphan->Open(), EDatabaseError);
}

TEST_F(DbQueryTest, AgentSequence) {
    // Exactly what the agent does, with a query created without a connection open.
    auto fresh = dbtest::AgentConnection();
    auto q = std::make_unique<TDbQuery>();
    q->SetDatabase(fresh.get());
    q->SQL().Clear();
    q->SQL().Add("SELECT nome_versao FROM versao WHERE codigo_cliente = 42 ORDER BY id ASC ");
    q->SetRequestLive(true);
    q->Open();  // the dataset connects its connection
    EXPECT_TRUE(fresh->Connected());
    ASSERT_NE(q->RecordCount(), 0);
    EXPECT_EQ(q->FieldByName("nome_versao").AsString(), "c.zip");
    q.reset();
    fresh.reset();
}
