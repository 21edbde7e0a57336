// The SQL text of a query: comments, parameter markers and their values, the first
// table of a SELECT, the character-set statements.
#include <gtest/gtest.h>

#include <cmath>

#include "dbclient/DbErrors.h"
#include "dbclient/DbFieldDesc.h"
#include "dbclient/DbQuery.h"
#include "dbclient/DbSqlText.h"
#include "dbclient/SqlEscape.h"

using namespace dbclient;

namespace {

std::string TextOf(std::initializer_list<std::string> lines, bool paramCheck = true,
                   TQueryProcessComments comments = {qpcMinusMinus, qpcSlashAsterisk}) {
    TDbQuery q;
    q.SetParamCheck(paramCheck);
    q.SetProcessComments(comments);
    for (const auto& l : lines) q.SQL().Add(l);
    return q.Text();
}

}  // namespace

TEST(DbSqlText, EveryLineEndsWithCrLf) {
    EXPECT_EQ(TextOf({"SELECT 1"}), "SELECT 1\r\n");
    EXPECT_EQ(TextOf({"SELECT *", "FROM versao"}), "SELECT *\r\nFROM versao\r\n");
    EXPECT_EQ(TextOf({}), "");
}

TEST(DbSqlText, CommentRules) {
    EXPECT_EQ(TextOf({"SELECT 1 -- one", "FROM t"}), "SELECT 1 \r\nFROM t\r\n");
    // No blank after the hyphens: no comment.
    EXPECT_EQ(TextOf({"SELECT 2--1"}), "SELECT 2--1\r\n");
    // Only the first block comment goes, and never an executable one.
    EXPECT_EQ(TextOf({"SELECT /* a */ 1 /* b */"}), "SELECT  1 /* b */\r\n");
    EXPECT_EQ(TextOf({"SELECT /*!40100 1 */"}), "SELECT /*!40100 1 */\r\n");
    EXPECT_EQ(TextOf({"SELECT 1 # x"}), "SELECT 1 # x\r\n");
    EXPECT_EQ(TextOf({"SELECT 1 # x"}, true, {qpcSharp}), "SELECT 1 \r\n");
    // Kept as callers know it: quotes are not looked at.
    EXPECT_EQ(TextOf({"INSERT INTO t VALUES ('a -- b', 1)", "-- whole line"}),
              "INSERT INTO t VALUES ('a \r\n\r\n");
    EXPECT_EQ(StripSqlComments("a /* unterminated", {qpcSlashAsterisk}), "a ");
}

TEST(DbSqlText, ParameterMarkers) {
    TDbQuery q;
    q.SQL().Add(
        "SELECT * FROM t WHERE a = :A AND b = :b_2 AND c = ':no' AND d = \":no\" AND `:no` = 1");
    q.SQL().Add("AND e::int = :a");
    EXPECT_EQ(q.Text(),
              "SELECT * FROM t WHERE a = ? AND b = ? AND c = ':no' AND d = \":no\" AND `:no` = "
              "1\r\nAND e::int = ?\r\n");
    ASSERT_EQ(q.ParamCount(), 2);
    EXPECT_EQ(q.Params()[0].Name(), "A");
    EXPECT_EQ(q.Params()[1].Name(), "b_2");
    EXPECT_EQ(&q.ParamByName("a"), &q.Params()[0]);
    EXPECT_THROW(q.ParamByName("zz"), EDatabaseError);

    // A surviving name keeps its value when the text changes.
    q.ParamByName("b_2").SetAsInteger(7);
    q.SQL().Add("AND f = :new");
    EXPECT_EQ(q.ParamCount(), 3);
    EXPECT_EQ(q.ParamByName("b_2").AsString(), "7");

    // An escaped quote does not end a literal.
    EXPECT_EQ(ParseSqlParams(R"(SELECT 'it\'s :x' , :y)").Names(), std::vector<std::string>{"y"});
    EXPECT_EQ(ParseSqlParams("SELECT 'it''s :x', :y").Names(), std::vector<std::string>{"y"});
}

TEST(DbSqlText, RawTextSendsTheLinesAsWritten) {
    const std::string line = "REPLACE INTO t VALUES (\"a -- b /* c */ :d\"); ";
    EXPECT_EQ(TextOf({line}, false, {}), line + "\r\n");
    TDbQuery q;
    q.SQL().Add(line);
    EXPECT_NE(q.Text(), line);
    q.SetRawText(true);
    EXPECT_TRUE(q.RawText());
    EXPECT_EQ(q.Text(), line + "\r\n");
}

TEST(DbSqlText, SubstitutionQuotesTexts) {
    TParsedSql parsed = ParseSqlParams("INSERT INTO t VALUES (:s, :i, :f, :b, :n, :d, :s)");
    TParams params;
    params.Rebuild(parsed.Names());
    params.ParamByName("s").SetAsString("O'Brien \\ \"x\"\n-- ;");
    params.ParamByName("i").SetAsInteger(-42);
    params.ParamByName("f").SetAsFloat(2.5);
    params.ParamByName("b").SetAsBoolean(true);
    params.ParamByName("d").SetAsDateTime(*EncodeDate(2010, 5, 17) + *EncodeTime(8, 30, 0));
    try {
        SubstituteParams(parsed, params);
        FAIL() << "n has no value";
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "No value for parameter 'n'");
    }
    params.ParamByName("n").Clear();
    EXPECT_EQ(SubstituteParams(parsed, params),
              "INSERT INTO t VALUES ('O\\'Brien \\\\ \\\"x\\\"\\n-- ;', -42, 2.5, 1, NULL, "
              "'2010-05-17 08:30:00', 'O\\'Brien \\\\ \\\"x\\\"\\n-- ;')");
}

TEST(DbSqlText, NonFiniteFloatHasNoLiteral) {
    TParsedSql parsed = ParseSqlParams("SELECT * FROM t WHERE x = :f");
    TParams params;
    params.Rebuild(parsed.Names());
    for (const double v : {std::nan(""), -std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        params.ParamByName("f").SetAsFloat(v);
        try {
            SubstituteParams(parsed, params);
            FAIL() << v << " became a literal";
        } catch (const EDatabaseError& e) {
            EXPECT_STREQ(e.what(), "Parameter 'f' is not a finite number");
        }
    }
    params.ParamByName("f").SetAsFloat(-1e300);
    EXPECT_EQ(SubstituteParams(parsed, params), "SELECT * FROM t WHERE x = -1e+300");
}

TEST(DbSqlText, FirstTableOfASelect) {
    using V = std::vector<std::string>;
    EXPECT_EQ(FindSelectTable(
                  "SELECT *,CONCAT(v_major,LPAD(v_minor,4,0)) vl_versao FROM versao WHERE id = 1"),
              V{"versao"});
    EXPECT_EQ(FindSelectTable("select a from `my table` t"), V{"my table"});
    EXPECT_EQ(FindSelectTable("SELECT a FROM db.versao"), (V{"db", "versao"}));
    EXPECT_EQ(FindSelectTable("SELECT a FROM `db`.`ver``sao`"), (V{"db", "ver`sao"}));
    EXPECT_EQ(FindSelectTable("SELECT a FROM \"t\""), V{"t"});
    EXPECT_EQ(FindSelectTable("SELECT (SELECT x FROM inner_t) FROM /* c */ outer_t"), V{"outer_t"});
    EXPECT_EQ(FindSelectTable("SELECT 'FROM x' AS f -- FROM y\nFROM z"), V{"z"});
    EXPECT_EQ(FindSelectTable("(SELECT a FROM t1) UNION (SELECT a FROM t2)"), V{"t1"});
    EXPECT_FALSE(FindSelectTable("SELECT 1"));
    EXPECT_FALSE(FindSelectTable("SELECT 1 FROM DUAL"));
    EXPECT_FALSE(FindSelectTable("SELECT * FROM (SELECT 1) x"));
    EXPECT_FALSE(FindSelectTable("SHOW TABLES FROM atualizacaodb"));
    EXPECT_FALSE(FindSelectTable("UPDATE t SET a = 1"));

    EXPECT_EQ(QuoteTableName({"versao"}, 100311), "`versao`");
    EXPECT_EQ(QuoteTableName({"db", "a`b"}, 50173), "`db`.`a``b`");
    EXPECT_EQ(QuoteTableName({"versao"}, 32306), "versao");
}

TEST(DbSqlText, CharacterSetStatements) {
    EXPECT_TRUE(IsCharsetStatement("SET NAMES 'utf8'"));
    EXPECT_TRUE(IsCharsetStatement("  set   names latin1"));
    EXPECT_TRUE(IsCharsetStatement("SET character_set_results = utf8"));
    EXPECT_TRUE(IsCharsetStatement("SET CHARACTER_SET_CLIENT=latin1"));
    EXPECT_TRUE(IsCharsetStatement("SET character_set_connection = utf8"));
    EXPECT_FALSE(IsCharsetStatement("SET collation_connection = 'utf8_bin'"));
    EXPECT_FALSE(IsCharsetStatement("SELECT 'SET NAMES'"));
    EXPECT_FALSE(IsCharsetStatement("SETNAMES utf8"));
}

TEST(DbSqlText, AConversionThatAddsABackslashDoesNotKeepTheEscapes) {
    // "ソ" in Shift-JIS is 0x83 0x5C: its trail byte reads as a backslash.
    EXPECT_FALSE(KeepsLiteralBytes("'ソ'", "'\x83\x5C'"));
    EXPECT_TRUE(KeepsLiteralBytes("'ç\\''", "'\xE7\\''"));
}

TEST(DbSqlText, ExecWithoutADatabase) {
    TDbQuery q("qVersao");
    q.SQL().Add("SELECT 1");
    try {
        q.ExecSQL();
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "(qVersao) property Database is not set!");
    }
    EXPECT_THROW(q.Open(), EDatabaseError);
    EXPECT_FALSE(q.Active());
}

TEST(DbSqlText, ArbitraryTextKeepsTheInvariants) {
    // Texts made of the characters the scanners care about, cut at every length.
    std::uint32_t seed = 12345;
    const std::string alphabet = "'\"`\\:-#/*!() \r\nSELECTFROMsetnamx.?0";
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int len = static_cast<int>(seed % 40);
        for (int i = 0; i < len; ++i) {
            seed = seed * 1103515245 + 12345;
            text += alphabet[(seed >> 16) % alphabet.size()];
        }
        seed = seed * 1103515245 + 12345;
        const TParsedSql parsed = ParseSqlParams(text);
        for (const auto& m : parsed.markers) {
            ASSERT_LT(m.offset, parsed.text.size());
            EXPECT_EQ(parsed.text[m.offset], '?');
            EXPECT_FALSE(m.name.empty());
        }
        const std::string stripped =
            StripSqlComments(text, {qpcMinusMinus, qpcSharp, qpcSlashAsterisk});
        EXPECT_LE(stripped.size(), text.size());
        if (const auto table = FindSelectTable(text)) {
            EXPECT_FALSE(table->empty());
        }
        IsCharsetStatement(text);
        EXPECT_TRUE(std::isfinite(DateTimeRuleD(text)));
        EXPECT_TRUE(std::isfinite(DateTimeRuleT(text)));
        EXPECT_TRUE(std::isfinite(TimeValue(text)));
        ParseEnumValues(text);
    }
}
