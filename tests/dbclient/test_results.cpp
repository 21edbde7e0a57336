// Result sets read from a real MariaDB server: navigation of stored results, value
// lengths, sorting by the column types and searching.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ClientTestSupport.h"
#include "dbclient/MysqlClient.h"
#include "testsupport/testsupport.h"

using namespace dbclient;

namespace {

testsupport::MariaDbServer& Server() {
    static testsupport::MariaDbServer server({
        .initSql =
            "CREATE DATABASE travik_test;\n"
            "CREATE TABLE travik_test.mix (n INT, u BIGINT UNSIGNED, d DECIMAL(12,3), f DOUBLE,"
            " s VARCHAR(20), t TIME, dt DATETIME, y YEAR, b BIT(16)) ENGINE=InnoDB;\n"
            "INSERT INTO travik_test.mix VALUES"
            " (10, 18446744073709551615, -1.5, 2.5e10, 'beta', '-01:30:00', '2010-05-17 08:30:00', "
            "2001, b'1'),"
            " (-3, 5, 100.25, -7, 'Alpha', '12:00:00', NULL, 1999, b'100000000'),"
            " (NULL, 9223372036854775808, 2.000, NULL, 'alpha', '-00:10:00', '2009-01-01 "
            "00:00:00', NULL, NULL),"
            " (7, 0, NULL, 0.5, NULL, '100:00:00', '2011-12-31 23:59:59', 2030, b'11');\n",
        .generalLog = false,
    });
    return server;
}

std::unique_ptr<TMysqlClient> Connect() {
    return clienttest::Connect(Server().port(), {.db = "travik_test"});
}

std::unique_ptr<TMysqlResult> Query(TMysqlClient& client, const std::string& sql,
                                    bool store = true) {
    bool ok = false;
    auto r = client.query(sql, store, ok);
    EXPECT_TRUE(ok) << sql << ": " << client.LastError();
    EXPECT_TRUE(r) << sql;
    return r;
}

// The values of one column from the first row to the last (NULL as "NULL").
std::vector<std::string> Column(TMysqlResult& r, int column) {
    std::vector<std::string> values;
    r.First();
    for (std::int64_t i = 0; i < r.RowsCount(); ++i) {
        r.SetRecNo(i);
        values.push_back(r.FieldValue(column) ? r.FieldValue(column) : "NULL");
    }
    return values;
}

}  // namespace

TEST(StoredResult, Navigation) {
    auto client = Connect();
    ASSERT_TRUE(client);
    auto r = Query(*client, "SELECT seq FROM seq_1_to_3");
    ASSERT_TRUE(r);
    // On arrival: the first row is current.
    EXPECT_EQ(r->RecNo(), 0);
    EXPECT_TRUE(r->Bof());
    EXPECT_FALSE(r->Eof());
    EXPECT_STREQ(r->FieldValue(0), "1");
    r->Next();
    EXPECT_EQ(r->RecNo(), 1);
    EXPECT_FALSE(r->Bof());
    r->Next();
    r->Next();  // past the end: stays on the last row
    EXPECT_TRUE(r->Eof());
    EXPECT_EQ(r->RecNo(), 2);
    EXPECT_STREQ(r->FieldValue(0), "3");
    r->Prior();
    EXPECT_EQ(r->RecNo(), 1);
    EXPECT_FALSE(r->Eof());
    r->Prior();
    r->Prior();  // before the start
    EXPECT_TRUE(r->Bof());
    EXPECT_EQ(r->RecNo(), 0);
    r->Last();
    EXPECT_TRUE(r->Eof());
    EXPECT_FALSE(r->Bof());
    EXPECT_EQ(r->RecNo(), 2);
    EXPECT_STREQ(r->FieldValue(0), "3");
    r->First();
    EXPECT_TRUE(r->Bof());
    EXPECT_FALSE(r->Eof());
    EXPECT_EQ(r->RecNo(), 0);
    EXPECT_STREQ(r->FieldValue(0), "1");
    r->SetRecNo(2);
    EXPECT_STREQ(r->FieldValue(0), "3");
    EXPECT_FALSE(r->Bof() || r->Eof());
    r->SetRecNo(3);  // out of range: ignored
    r->SetRecNo(-1);
    EXPECT_EQ(r->RecNo(), 2);
    EXPECT_TRUE(r->LastRowRead());
    EXPECT_FALSE(r->HadErrors());

    auto empty = Query(*client, "SELECT seq FROM seq_1_to_3 WHERE seq > 5");
    ASSERT_TRUE(empty);
    empty->First();
    EXPECT_EQ(empty->RecNo(), -1);
    EXPECT_TRUE(empty->Bof() && empty->Eof());
    empty->Last();
    EXPECT_EQ(empty->RecNo(), -1);
    empty->Next();
    empty->Prior();
    EXPECT_EQ(empty->CurrentRow(), nullptr);
}

TEST(StoredResult, LengthsCountEveryByte) {
    auto client = Connect();
    ASSERT_TRUE(client);
    client->SetNullLength(7);
    for (const bool store : {true, false}) {
        SCOPED_TRACE(store ? "stored" : "used");
        auto r = Query(*client, "SELECT 'a\\0b', '', NULL, REPEAT('z', 300)", store);
        ASSERT_TRUE(r);
        r->SetHasLengths(true);
        EXPECT_EQ(r->FieldLenght(0), 3u);
        EXPECT_EQ(std::string(r->FieldValue(0), 3), std::string("a\0b", 3));
        EXPECT_EQ(r->FieldLenght(1), 0u);
        EXPECT_STREQ(r->FieldValue(1), "");
        EXPECT_EQ(r->FieldLenght(2), 7u);  // the NULL length
        EXPECT_EQ(r->FieldValue(2), nullptr);
        EXPECT_EQ(r->FieldLenght(3), 300u);
        EXPECT_EQ(r->FieldLenght(4), 7u);  // out of range
        EXPECT_EQ(r->Lengths().size(), 4u);
        if (store) {
            EXPECT_EQ(r->FieldDef(0)->Max_Length, 3u);
            EXPECT_EQ(r->FieldDef(3)->Max_Length, 300u);
        }
    }
}

TEST(StoredResult, SortByColumnTypes) {
    auto client = Connect();
    ASSERT_TRUE(client);
    auto r = Query(*client, "SELECT n, u, d, f, s, t, dt, y, b FROM mix");
    ASSERT_TRUE(r);
    r->SortBy({0});
    EXPECT_EQ(Column(*r, 0), (std::vector<std::string>{"NULL", "-3", "7", "10"}));
    r->SortBy({1});  // unsigned values beyond the signed range
    EXPECT_EQ(Column(*r, 1),
              (std::vector<std::string>{"0", "5", "9223372036854775808", "18446744073709551615"}));
    r->SortBy({2});
    EXPECT_EQ(Column(*r, 2), (std::vector<std::string>{"NULL", "-1.500", "2.000", "100.250"}));
    r->SortBy({3}, {true});  // descending
    EXPECT_EQ(Column(*r, 3), (std::vector<std::string>{"25000000000", "0.5", "-7", "NULL"}));
    r->SortBy({4});  // byte-wise: upper case first
    EXPECT_EQ(Column(*r, 4), (std::vector<std::string>{"NULL", "Alpha", "alpha", "beta"}));
    r->SortBy({5});
    EXPECT_EQ(Column(*r, 5),
              (std::vector<std::string>{"-01:30:00", "-00:10:00", "12:00:00", "100:00:00"}));
    r->SortBy({6}, {true});
    EXPECT_EQ(Column(*r, 6), (std::vector<std::string>{"2011-12-31 23:59:59", "2010-05-17 08:30:00",
                                                       "2009-01-01 00:00:00", "NULL"}));
    r->SortBy({7});
    EXPECT_EQ(Column(*r, 7), (std::vector<std::string>{"NULL", "1999", "2001", "2030"}));
    r->SortBy({8});  // BIT: the raw bytes as a number
    r->First();
    EXPECT_EQ(r->FieldValue(8), nullptr);
    r->Last();
    EXPECT_STREQ(r->FieldValue(7), "1999");  // b'100000000' is the largest
}

TEST(StoredResult, SortByManyRowsAndSeveralColumns) {
    auto client = Connect();
    ASSERT_TRUE(client);
    auto r = Query(*client, "SELECT seq % 3 AS a, seq FROM seq_1_to_200");
    ASSERT_TRUE(r);
    r->SetRecNo(5);
    r->SortBy({0, 1}, {false, true});
    EXPECT_EQ(r->RecNo(), 5);  // the cursor stays where it was, on the row now there
    EXPECT_FALSE(r->HasLengths());
    const auto a = Column(*r, 0);
    const auto seq = Column(*r, 1);
    ASSERT_EQ(seq.size(), 200u);
    EXPECT_EQ(a.front(), "0");
    EXPECT_EQ(seq.front(), "198");
    EXPECT_EQ(a.back(), "2");
    EXPECT_EQ(seq.back(), "2");
    for (std::size_t i = 1; i < seq.size(); ++i) {
        const bool ordered =
            a[i - 1] < a[i] || (a[i - 1] == a[i] && std::stoi(seq[i - 1]) > std::stoi(seq[i]));
        ASSERT_TRUE(ordered) << i;
    }
    // Unknown columns are left out; nothing to sort with is no change.
    r->SortBy({42});
    EXPECT_EQ(Column(*r, 1), seq);
}

TEST(StoredResult, FindRows) {
    auto client = Connect();
    ASSERT_TRUE(client);
    auto r = Query(*client, "SELECT n, s FROM mix ORDER BY n");
    ASSERT_TRUE(r);
    // Rows: (NULL, alpha), (-3, Alpha), (7, NULL), (10, beta)
    EXPECT_EQ(r->findrows({1}, {"Alpha"}), 1);
    EXPECT_EQ(r->findrows({1}, {"alpha"}), 0);
    EXPECT_EQ(r->findrows({1}, {"ALPHA"}, false), 0);
    EXPECT_EQ(r->findrows({1}, {"ALPHA"}, true), -1);
    EXPECT_EQ(r->findrows({0, 1}, {"-3", "ALPHA"}, false), 1);
    EXPECT_EQ(r->findrows({1}, {"bet"}), -1);
    EXPECT_EQ(r->findrows({1}, {"bet"}, true, true), 3);
    EXPECT_EQ(r->findrows({1}, {""}, true, true), 0);  // an empty prefix matches any value
    EXPECT_EQ(r->findrows({0}, {""}), -1);             // but never NULL
    EXPECT_EQ(r->findrows({0}, {"7"}), 2);
    EXPECT_EQ(r->findrows({5}, {"7"}), -1);
    EXPECT_EQ(r->findrows({0, 1}, {"7"}), -1);
    EXPECT_EQ(r->findrows({}, {}), -1);
}

TEST(UsedResult, ReadsForwardOnly) {
    auto client = Connect();
    ASSERT_TRUE(client);
    auto r = Query(*client, "SELECT seq FROM seq_1_to_5", false);
    ASSERT_TRUE(r);
    EXPECT_STREQ(r->FieldValue(0), "1");
    r->First();  // cannot go back
    EXPECT_TRUE(r->Bof());
    EXPECT_FALSE(r->Eof());
    r->Next();
    EXPECT_STREQ(r->FieldValue(0), "2");
    EXPECT_EQ(r->RecNo(), 1);
    r->SortBy({0});  // not for used results
    EXPECT_EQ(r->findrows({0}, {"2"}), -1);
    r->Last();
    EXPECT_STREQ(r->FieldValue(0), "5");
    EXPECT_EQ(r->RecNo(), 4);
    EXPECT_EQ(r->RowsCount(), 5);
    EXPECT_TRUE(r->Eof());
    r->Next();  // after the end: no session any more
    EXPECT_TRUE(r->Eof());
    EXPECT_FALSE(r->HadErrors());
    EXPECT_EQ(clienttest::Scalar(*client, "SELECT 'free'"), "free");
}
