// Column descriptions to fields, the conversion of row texts (rules D and T), and the
// text forms of field values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "dbclient/DbFieldDesc.h"
#include "dbclient/DbFields.h"

using namespace dbclient;

namespace {

TMysql_FieldDef Column(std::uint8_t type, std::uint32_t length, std::uint32_t flags = 0) {
    TMysql_FieldDef c;
    c.Name = "c";
    c.Table = c.org_table = "t";
    c.org_name = "c";
    c.FieldType = type;
    c.Length = length;
    c.Flags = flags;
    return c;
}

TDateTime DT(int y, int m, int d, int h = 0, int n = 0, int s = 0) {
    return CombineDateTime(*EncodeDate(y, m, d), *EncodeTime(h, n, s));
}

// The value of `text` read through a field of the column's type.
struct Read {
    TRecord record;
    TField field;
    Read(const TMysql_FieldDef& column, const char* text, bool zeroDateAsNull = false,
         bool utf8 = false, std::vector<std::string> enumValues = {})
        : field("c", ftUnknown, 0, 0) {
        const TDbFieldDesc d = MapColumn(column, enumValues, utf8);
        record.push_back(ConvertValue(d, text, text ? std::strlen(text) : 0, zeroDateAsNull));
        field = TField("c", d.FieldType, d.Size, 0);
        field.Bind(&record);
    }
};

}  // namespace

TEST(DbFields, TypeMappingTable) {
    struct Case {
        std::uint8_t type;
        std::uint32_t length, flags;
        TFieldType expected;
        int native;
    };
    const Case cases[] = {
        {FIELD_TYPE_DECIMAL, 10, 0, ftFloat, 8},
        {FIELD_TYPE_NEWDECIMAL, 12, 0, ftFloat, 8},
        {FIELD_TYPE_FLOAT, 12, 0, ftFloat, 8},
        {FIELD_TYPE_DOUBLE, 22, 0, ftFloat, 8},
        {FIELD_TYPE_TINY, 4, 0, ftSmallint, 2},
        {FIELD_TYPE_SHORT, 6, UNSIGNED_FLAG, ftWord, 2},
        {FIELD_TYPE_LONG, 11, 0, ftInteger, 4},
        {FIELD_TYPE_LONG, 10, UNSIGNED_FLAG, ftLargeint, 8},
        {FIELD_TYPE_INT24, 9, 0, ftInteger, 4},
        {FIELD_TYPE_YEAR, 4, 0, ftInteger, 4},
        {FIELD_TYPE_LONGLONG, 20, 0, ftLargeint, 8},
        {FIELD_TYPE_BIT, 8, 0, ftLargeint, 8},
        {FIELD_TYPE_TIMESTAMP, 19, 0, ftDateTime, 8},
        {FIELD_TYPE_DATETIME, 19, 0, ftDateTime, 8},
        {FIELD_TYPE_DATE, 10, 0, ftDate, 8},
        {FIELD_TYPE_NEWDATE, 10, 0, ftDate, 8},
        {FIELD_TYPE_TIME, 10, 0, ftTime, 8},
        {FIELD_TYPE_VAR_STRING, 40, 0, ftString, 42},
        {FIELD_TYPE_STRING, 3, 0, ftString, 5},
        {FIELD_TYPE_SET, 5, 0, ftString, 7},
        {FIELD_TYPE_NULL, 0, 0, ftString, 2},
        {FIELD_TYPE_ENUM, 3, 0, ftString, 5},
        {FIELD_TYPE_BLOB, 65535, 0, ftMemo, 4},
        {FIELD_TYPE_BLOB, 65535, BINARY_FLAG, ftBlob, 4},
        {FIELD_TYPE_MEDIUM_BLOB, 1 << 24, 0, ftMemo, 4},
        {FIELD_TYPE_LONG_BLOB, 0xFFFFFFFF, BINARY_FLAG, ftBlob, 4},
        {FIELD_TYPE_VAR_STRING, 8192, 0, ftMemo, 4},
        {FIELD_TYPE_GEOMETRY, 0, 0, ftUnknown, 0},
        {FIELD_TYPE_LONG, 11, AUTO_INCREMENT_FLAG, ftAutoInc, 4},
    };
    for (const Case& c : cases) {
        const TDbFieldDesc d = MapColumn(Column(c.type, c.length, c.flags), {}, false);
        EXPECT_EQ(d.FieldType, c.expected) << int(c.type) << " " << c.flags;
        EXPECT_EQ(d.NativeLength, c.native) << int(c.type);
    }
    // The longest value counts when it is longer than the declared length.
    TMysql_FieldDef computed = Column(FIELD_TYPE_VAR_STRING, 0);
    computed.Max_Length = 12;
    EXPECT_EQ(MapColumn(computed, {}, false).Size, 12);
    // A length no column has stays a usable size.
    EXPECT_GT(MapColumn(Column(FIELD_TYPE_SET, 0xFFFFFFFF), {}, false).NativeLength, 0);
}

TEST(DbFields, Utf8ResultsGiveWideFields) {
    TDbFieldDesc s = MapColumn(Column(FIELD_TYPE_VAR_STRING, 192), {}, true);
    EXPECT_EQ(s.FieldType, ftWideString);
    EXPECT_EQ(s.Size, 64);
    EXPECT_EQ(MapColumn(Column(FIELD_TYPE_BLOB, 65535), {}, true).FieldType, ftWideMemo);
    Read r(Column(FIELD_TYPE_VAR_STRING, 192), "Atualização ção", false, true);
    EXPECT_EQ(r.field.AsString(), "Atualização ção");
}

TEST(DbFields, BooleanEnum) {
    EXPECT_EQ(MapColumn(Column(FIELD_TYPE_ENUM, 1), {"Y", "N"}, false).FieldType, ftBoolean);
    EXPECT_EQ(MapColumn(Column(FIELD_TYPE_ENUM, 1), {"t", "f"}, false).FieldType, ftBoolean);
    EXPECT_EQ(MapColumn(Column(FIELD_TYPE_ENUM, 1), {"Y", "N", "T"}, false).FieldType, ftString);
    EXPECT_EQ(MapColumn(Column(FIELD_TYPE_ENUM, 1), {"A", "B"}, false).FieldType, ftString);
    EXPECT_EQ(MapColumn(Column(FIELD_TYPE_ENUM, 3), {"Yes", "No"}, false).FieldType, ftString);
    EXPECT_TRUE(Read(Column(FIELD_TYPE_ENUM, 1), "Y", false, false, {"Y", "N"}).field.AsBoolean());
    EXPECT_FALSE(Read(Column(FIELD_TYPE_ENUM, 1), "N", false, false, {"Y", "N"}).field.AsBoolean());
    EXPECT_EQ(Read(Column(FIELD_TYPE_ENUM, 1), "t", false, false, {"t", "f"}).field.AsString(),
              "True");
    EXPECT_EQ(ParseEnumValues("enum('Y','N')"), (std::vector<std::string>{"Y", "N"}));
    EXPECT_EQ(ParseEnumValues("set('a''b','c,d')"), (std::vector<std::string>{"a'b", "c,d"}));
}

TEST(DbFields, RuleD) {
    EXPECT_EQ(DateTimeRuleD("2010-05-17"), DT(2010, 5, 17));
    EXPECT_EQ(DateTimeRuleD("2010-05-17 08:30:00"), DT(2010, 5, 17, 8, 30, 0));
    EXPECT_EQ(DateTimeRuleD("2010-05-17 08:30:00.250000"), DT(2010, 5, 17, 8, 30, 0));
    EXPECT_EQ(DateTimeRuleD("0000-00-00"), 0);
    EXPECT_EQ(DateTimeRuleD("0000-00-00 00:00:00"), 0);
    EXPECT_EQ(DateTimeRuleD("2010-00-17"), 0);
    // A date that does not exist gives 0 rather than failing.
    EXPECT_EQ(DateTimeRuleD("2010-02-30"), 0);
    EXPECT_EQ(DateTimeRuleD("0000-00-00 10:00:00"), *EncodeTime(10, 0, 0));
}

TEST(DbFields, RuleT) {
    EXPECT_EQ(DateTimeRuleT("2010-05-17 08:30:15"), DT(2010, 5, 17, 8, 30, 15));
    EXPECT_EQ(DateTimeRuleT("20100517083015"), DT(2010, 5, 17, 8, 30, 15));
    EXPECT_EQ(DateTimeRuleT("20100517"), DT(2010, 5, 17));
    EXPECT_EQ(DateTimeRuleT("100517"), 0);  // month 17
    EXPECT_EQ(DateTimeRuleT("   "), 0);
    // Zero parts of the date become 1.
    EXPECT_EQ(DateTimeRuleT("0000-00-00 00:00:00"), DT(1, 1, 1));
    EXPECT_EQ(DateTimeRuleT("2010-05-17 25:00:00"), 0);
}

TEST(DbFields, TimeValues) {
    EXPECT_DOUBLE_EQ(TimeValue("08:30:00"), *EncodeTime(8, 30, 0));
    Read big(Column(FIELD_TYPE_TIME, 10), "838:59:59");
    EXPECT_EQ(big.field.AsString(), "838:59:59");
    Read negative(Column(FIELD_TYPE_TIME, 10), "-01:30:00");
    EXPECT_EQ(negative.field.AsString(), "-01:30:00");
    EXPECT_LT(negative.field.AsDateTime(), 0);
}

TEST(DbFields, ValueConversionsAndTextForms) {
    EXPECT_EQ(Read(Column(FIELD_TYPE_LONG, 11), "-2147483648").field.AsInteger(), -2147483648LL);
    EXPECT_EQ(Read(Column(FIELD_TYPE_LONGLONG, 20), "9223372036854775807").field.AsLargeInt(),
              9223372036854775807LL);
    // An unsigned BIGINT above the signed range keeps its digits.
    Read huge(Column(FIELD_TYPE_LONGLONG, 20, UNSIGNED_FLAG), "18446744073709551615");
    EXPECT_EQ(huge.field.AsString(), "18446744073709551615");
    EXPECT_THROW(huge.field.AsLargeInt(), EConvertError);

    EXPECT_EQ(Read(Column(FIELD_TYPE_BIT, 8), "\x01\x02").field.AsLargeInt(), 258);
    EXPECT_EQ(Read(Column(FIELD_TYPE_NEWDECIMAL, 12), "1234.50").field.AsString(), "1234.5");
    EXPECT_EQ(Read(Column(FIELD_TYPE_DOUBLE, 22), "0.1").field.AsString(), "0.1");
    EXPECT_EQ(Read(Column(FIELD_TYPE_DOUBLE, 22), "1e+20").field.AsString(), "1e+20");
    EXPECT_EQ(Read(Column(FIELD_TYPE_DOUBLE, 22), "nonsense").field.AsFloat(), 0);
    EXPECT_EQ(Read(Column(FIELD_TYPE_DATE, 10), "2010-05-17").field.AsString(), "2010-05-17");
    EXPECT_EQ(Read(Column(FIELD_TYPE_DATETIME, 19), "2010-05-17 08:30:00").field.AsString(),
              "2010-05-17 08:30:00");
    EXPECT_EQ(Read(Column(FIELD_TYPE_DATETIME, 19), "1899-12-30 00:00:00").field.AsFloat(), 0);
    EXPECT_EQ(Read(Column(FIELD_TYPE_DATE, 10), "1753-01-01").field.AsString(), "1753-01-01");
    EXPECT_EQ(Read(Column(FIELD_TYPE_DATETIME, 19), "0001-01-01 12:00:00").field.AsString(),
              "0001-01-01 12:00:00");
    EXPECT_EQ(Read(Column(FIELD_TYPE_VAR_STRING, 10), "42").field.AsInteger(), 42);
    EXPECT_THROW(Read(Column(FIELD_TYPE_VAR_STRING, 10), "4x2").field.AsInteger(), EConvertError);
    EXPECT_EQ(Read(Column(FIELD_TYPE_VAR_STRING, 19), "2010-05-17 08:30:00").field.AsDateTime(),
              DT(2010, 5, 17, 8, 30));
    // An integer column whose text is not a number fails with the conversion's message.
    EXPECT_THROW(Read(Column(FIELD_TYPE_LONG, 11), "abc"), EConvertError);
}

TEST(DbFields, NullsAndZeroDates) {
    Read null(Column(FIELD_TYPE_VAR_STRING, 10), nullptr);
    EXPECT_TRUE(null.field.IsNull());
    EXPECT_EQ(null.field.AsString(), "");
    EXPECT_EQ(null.field.AsInteger(), 0);
    EXPECT_FALSE(null.field.AsBoolean());

    EXPECT_TRUE(Read(Column(FIELD_TYPE_DATE, 10), "0000-00-00", true).field.IsNull());
    EXPECT_TRUE(Read(Column(FIELD_TYPE_DATETIME, 19), "0000-00-00 00:00:00", true).field.IsNull());
    EXPECT_TRUE(Read(Column(FIELD_TYPE_TIMESTAMP, 19), "0000-00-00 00:00:00", true).field.IsNull());
    EXPECT_FALSE(Read(Column(FIELD_TYPE_DATE, 10), "0000-00-00", false).field.IsNull());
    EXPECT_EQ(Read(Column(FIELD_TYPE_DATE, 10), "0000-00-00", false).field.AsFloat(), 0);
}

TEST(DbFields, BinaryValuesKeepEveryByte) {
    const std::string bytes("a\0b\xff", 4);
    const TDbFieldDesc d = MapColumn(Column(FIELD_TYPE_BLOB, 65535, BINARY_FLAG), {}, false);
    TRecord record{ConvertValue(d, bytes.data(), bytes.size(), false)};
    TField f("c", d.FieldType, 0, 0);
    f.Bind(&record);
    EXPECT_EQ(f.AsString(), bytes);
}

TEST(DbFields, DateTextRoundTrip) {
    for (const char* text : {"2010-05-17 08:30:00", "1899-12-29 06:00:00", "9999-12-31 23:59:59",
                             "2000-02-29 00:00:01"}) {
        const auto v = TextToDateTime(text);
        ASSERT_TRUE(v) << text;
        EXPECT_EQ(DateTimeToText(*v), text);
    }
    EXPECT_FALSE(TextToDateTime("2010-13-01"));
    EXPECT_FALSE(TextToDateTime("yesterday"));
    EXPECT_EQ(*TextToDateTime("08:30"), *EncodeTime(8, 30, 0));
    // Values outside the calendar show as the zero date rather than overflowing.
    EXPECT_EQ(DateTimeToText(1e300), "1899-12-30 00:00:00");
    EXPECT_EQ(DateTimeToText(std::nan("")), "1899-12-30 00:00:00");
}
