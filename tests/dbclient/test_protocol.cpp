// Parsers of server packets: greeting, OK and end packets, rows and column descriptions,
// including truncated and hostile input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbclient/MysqlProtocol.h"

using namespace dbclient;

namespace {

std::string LE(std::uint64_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

// A length-coded number in its shortest form.
std::string LenEnc(std::uint64_t v) {
    if (v < 251) return std::string(1, static_cast<char>(v));
    if (v < 0x10000) return "\xFC" + LE(v, 2);
    if (v < 0x1000000) return "\xFD" + LE(v, 3);
    return "\xFE" + LE(v, 8);
}

std::string LenStr(const std::string& s) {
    return LenEnc(s.size()) + s;
}

// A protocol-10 greeting as current servers send it.
std::string Greeting(const std::string& version, std::uint32_t caps, bool secondPart = true) {
    std::string g = "\x0A" + version + '\0';
    g += LE(1234, 4);  // thread id
    g += "abcdefgh";   // scramble, first part
    g += '\0';
    g += LE(caps & 0xFFFF, 2);  // capabilities
    g += '\x21';                // language
    g += LE(0x0002, 2);         // status
    g += std::string(13, '\0');
    if (secondPart) g += std::string("ijklmnopqrst") + '\0';
    return g;
}

TMysqlGreeting Parse(const std::string& packet) {
    return ParseGreeting(AsBytes(packet));
}

}  // namespace

TEST(Protocol, LengthCodedNumbersInEveryForm) {
    struct Case {
        std::string bytes;
        std::int64_t value64;
        std::int64_t value32;
    };
    const std::vector<Case> cases = {
        {std::string(1, '\0'), 0, 0},
        {"\xFA", 250, 250},
        {"\xFB", NULL_LENGTH, NULL_LENGTH},
        {std::string("\xFC\xFB\x00", 3), 251, 251},
        {"\xFC\xFF\xFF", 65535, 65535},
        {std::string("\xFD\x00\x00\x01", 4), 65536, 65536},
        {"\xFE" + LE(16777216, 8), 16777216, 16777216},
        {"\xFE" + LE(0x123456789ULL, 8), 0x123456789LL, 0x23456789LL},
    };
    for (const auto& c : cases) {
        PacketReader a(AsBytes(c.bytes));
        EXPECT_EQ(a.read_length_coded64(), c.value64);
        EXPECT_TRUE(a.ok());
        EXPECT_TRUE(a.at_end());
        PacketReader b(AsBytes(c.bytes));
        EXPECT_EQ(b.read_length_coded(), c.value32);
    }
    // Cut short: reported, never read past the end.
    for (const std::string& cut :
         {std::string(""), std::string("\xFC\x01"), std::string("\xFE\x01\x02\x03")}) {
        PacketReader r(AsBytes(cut));
        r.read_length_coded64();
        EXPECT_FALSE(r.ok()) << cut.size();
    }
}

TEST(Protocol, CurrentGreetingGivesTwentyCharacterScramble) {
    const std::string version = "5.5.5-10.11.6-MariaDB";
    const TMysqlGreeting g = Parse(Greeting(version, 0xF7FF));
    EXPECT_EQ(g.protocol_version, 10);
    EXPECT_EQ(g.server_version, version);
    EXPECT_EQ(g.thread_id, 1234u);
    EXPECT_EQ(g.scramble, "abcdefghijklmnopqrst");
    EXPECT_EQ(g.server_capabilities, 0xF7FFu);
    EXPECT_TRUE(g.has_status);
    EXPECT_EQ(g.server_language, 0x21u);
    EXPECT_EQ(g.server_status, 2);
    EXPECT_FALSE(IsVersion410(g.server_version));
}

TEST(Protocol, ShortGreetingDropsSecureConnection) {
    // Without the second scramble part the 4.1 scramble cannot be used.
    const TMysqlGreeting g = Parse(Greeting("4.0.27", 0xA22C, false));
    EXPECT_EQ(g.scramble, "abcdefgh");
    EXPECT_EQ(g.server_capabilities, 0xA22Cu & ~CLIENT_SECURE_CONNECTION);
    // A 4.1.0 server keeps the flag: it sends its own challenge later.
    const TMysqlGreeting g410 = Parse(Greeting("4.1.0-alpha", 0xA22C, false));
    EXPECT_TRUE(IsVersion410(g410.server_version));
    EXPECT_EQ(g410.server_capabilities, 0xA22Cu);
    // The pre-4.1 greeting ends after the capabilities: no language or status.
    std::string old =
        "\x0A"
        "3.23.58" +
        std::string(1, '\0') + LE(7, 4) + "12345678" + '\0' + LE(0x2C, 2);
    const TMysqlGreeting g3 = Parse(old);
    EXPECT_EQ(g3.thread_id, 7u);
    EXPECT_EQ(g3.scramble, "12345678");
    EXPECT_EQ(g3.server_capabilities, 0x2Cu);
    EXPECT_FALSE(g3.has_status);
    EXPECT_EQ(g3.server_status, 0);
}

TEST(Protocol, TruncatedGreetingsNeverReadOutside) {
    const std::string full = Greeting("5.7.1", 0xFFFF);
    for (std::size_t n = 0; n <= full.size(); ++n) {
        const std::string cut = full.substr(0, n);
        const TMysqlGreeting g = Parse(cut);  // would trip the sanitizers if it read past
        EXPECT_LE(g.scramble.size(), 20u);
    }
    // A version text without its zero byte.
    const TMysqlGreeting g = Parse(
        "\x0A"
        "5.1.73");
    EXPECT_EQ(g.server_version, "5.1.73");
    EXPECT_EQ(g.thread_id, 0u);
    EXPECT_EQ(g.scramble, "");
}

TEST(Protocol, LoginCharacterSetByServerVersion) {
    for (const char* v :
         {"5.5.3", "5.5.5-10.11.6-MariaDB", "10.6.12-MariaDB", "8.0.36", "5.7.44-log"})
        EXPECT_EQ(LoginCharacterSet(v).number, 45) << v;
    for (const char* v : {"5.5.2-m2", "5.1.73-log", "5.3.12-MariaDB", "4.1.22", "", "x"})
        EXPECT_EQ(LoginCharacterSet(v).number, 83) << v;
}

TEST(Protocol, OkPacketWithStatusWarningsAndMessage) {
    const std::string info = "Records: 3  Duplicates: 1  Warnings: 0";
    const std::string packet = std::string(1, '\0') + LenEnc(3) + LenEnc(16777216) + LE(0x0003, 2) +
                               LE(2, 2) + LenStr(info);
    const TMysqlOkPacket ok = ParseOkPacket(AsBytes(packet), CLIENT_TRANSACTIONS, CLIENT_RESERVED);
    EXPECT_EQ(ok.affected_rows, 3);
    EXPECT_EQ(ok.insert_id, 16777216);  // 8-byte form read in full
    EXPECT_TRUE(ok.has_status);
    EXPECT_EQ(ok.server_status, 3);
    EXPECT_EQ(ok.warning_count, 2);
    EXPECT_EQ(ok.info, info);
    EXPECT_TRUE(ok.complete);

    // A server without transactions sends no status; a 0 length means no message.
    const std::string plain =
        std::string(1, '\0') + LenEnc(1) + LenEnc(0) + LE(5, 2) + std::string(1, '\0');
    const TMysqlOkPacket p = ParseOkPacket(AsBytes(plain), 0, CLIENT_RESERVED);
    EXPECT_FALSE(p.has_status);
    EXPECT_EQ(p.warning_count, 5);
    EXPECT_EQ(p.info, "");

    // The shortest OK packet of old servers.
    const TMysqlOkPacket tiny =
        ParseOkPacket(AsBytes(std::string(1, '\0')), CLIENT_TRANSACTIONS, CLIENT_RESERVED);
    EXPECT_FALSE(tiny.complete);
    EXPECT_EQ(tiny.affected_rows, 0);
}

TEST(Protocol, EndPackets) {
    const std::string end = "\xFE" + LE(4, 2) + LE(0x000A, 2);
    EXPECT_TRUE(IsEndPacket(AsBytes(end)));
    const TMysqlEndPacket e = ParseEndPacket(AsBytes(end));
    EXPECT_EQ(e.warning_count, 4);
    EXPECT_EQ(e.server_status, 0x0A);
    // A row that starts with an 8-byte length is not an end packet.
    EXPECT_FALSE(IsEndPacket(AsBytes("\xFE" + LE(300, 8))));
    // The pre-4.1 end packet is a single byte.
    EXPECT_TRUE(IsEndPacket(AsBytes(std::string("\xFE"))));
    EXPECT_EQ(ParseEndPacket(AsBytes(std::string("\xFE"))).server_status, 0);
}

TEST(Protocol, RowsWithNullEmptyAndLongValues) {
    const std::string v250(250, 'a'), v251(251, 'b'), v65536(65536, 'c');
    const std::string packet = LenStr("") + "\xFB" + LenStr(v250) + LenStr(v251) + LenStr(v65536) +
                               LenStr(std::string("a\0b", 3));
    std::vector<std::optional<std::string_view>> values;
    ASSERT_TRUE(SplitRow(AsBytes(packet), 6, values));
    ASSERT_EQ(values.size(), 6u);
    EXPECT_EQ(values[0], std::optional<std::string_view>(""));
    EXPECT_FALSE(values[1].has_value());
    EXPECT_EQ(*values[2], v250);
    EXPECT_EQ(*values[3], v251);
    EXPECT_EQ(*values[4], v65536);
    EXPECT_EQ(*values[5], std::string_view("a\0b", 3));
    // Too few values, or a length that runs past the packet.
    EXPECT_FALSE(SplitRow(AsBytes(packet), 7, values));
    EXPECT_FALSE(SplitRow(AsBytes(LenEnc(10) + "abc"), 1, values));
    EXPECT_FALSE(SplitRow(AsBytes("\xFE" + LE(0xFFFFFFFFFFFFULL, 8)), 1, values));
}

TEST(Protocol, ColumnDescriptionIn41Form) {
    const std::string block =
        LE(33, 2) + LE(11, 4) + '\x03' + LE(NOT_NULL_FLAG | PRI_KEY_FLAG, 2) + '\0' + LE(0, 2);
    const std::vector<std::optional<std::string_view>> values = {"def", "travik", "v",  "versao",
                                                                 "id",  "id",     block};
    const TMysql_FieldDef f = UnpackFieldDef(values, true, true);
    EXPECT_EQ(f.catalog, "def");
    EXPECT_EQ(f.db, "travik");
    EXPECT_EQ(f.Table, "v");
    EXPECT_EQ(f.org_table, "versao");
    EXPECT_EQ(f.Name, "id");
    EXPECT_EQ(f.org_name, "id");
    EXPECT_EQ(f.charsetnr, 33u);
    EXPECT_EQ(f.Length, 11u);
    EXPECT_EQ(f.FieldType, FIELD_TYPE_LONG);
    EXPECT_EQ(f.Flags, NOT_NULL_FLAG | PRI_KEY_FLAG | NUM_FLAG);
    EXPECT_EQ(f.Decimals, 0u);
    EXPECT_EQ(f.Def, "");
    EXPECT_EQ(f.Max_Length, 0u);

    // NULL fixed block: all zero, but a DECIMAL (type 0) is still numeric.
    const std::vector<std::optional<std::string_view>> nullBlock = {"def", "", "",          "",
                                                                    "x",   "", std::nullopt};
    const TMysql_FieldDef n = UnpackFieldDef(nullBlock, true, true);
    EXPECT_EQ(n.Length, 0u);
    EXPECT_EQ(n.Flags, NUM_FLAG);
    // A short block reads as far as it goes.
    const std::vector<std::optional<std::string_view>> shortBlock = {"",  "", "",    "",
                                                                     "y", "", "\x21"};
    EXPECT_EQ(UnpackFieldDef(shortBlock, true, true).charsetnr, 0x21u);
}

TEST(Protocol, ColumnDescriptionInOlderForm) {
    const std::string len14 = LE(14, 3), len19 = LE(19, 3), len4 = LE(4, 3), len1 = LE(1, 3);
    const std::string timestamp(1, static_cast<char>(FIELD_TYPE_TIMESTAMP)), noFlags(2, '\0');
    const std::string flags2 = LE(0x0121, 2) + '\x02';
    const std::vector<std::optional<std::string_view>> longFlags = {"t", "stamp", len14, timestamp,
                                                                    flags2};
    const TMysql_FieldDef f = UnpackFieldDef(longFlags, false, true);
    EXPECT_EQ(f.Table, "t");
    EXPECT_EQ(f.Name, "stamp");
    EXPECT_EQ(f.Length, 14u);
    EXPECT_EQ(f.FieldType, FIELD_TYPE_TIMESTAMP);
    EXPECT_EQ(f.Flags, 0x0121u | NUM_FLAG);  // a 14-character timestamp is numeric
    EXPECT_EQ(f.Decimals, 2u);
    EXPECT_EQ(f.org_table, "");
    EXPECT_EQ(f.charsetnr, 0u);

    const std::vector<std::optional<std::string_view>> shortFlags = {"t",       "d",        len19,
                                                                     timestamp, "\x01\x03", "dflt"};
    const TMysql_FieldDef g = UnpackFieldDef(shortFlags, false, false);
    EXPECT_EQ(g.Flags, 0x01u);  // a 19-character timestamp is not numeric
    EXPECT_EQ(g.Decimals, 3u);
    EXPECT_EQ(g.Def, "dflt");

    const std::vector<std::optional<std::string_view>> year = {"t", "y", len4, "\x0D", noFlags};
    EXPECT_TRUE(UnpackFieldDef(year, false, false).Flags & NUM_FLAG);
    const std::vector<std::optional<std::string_view>> bit = {"t", "b", len1, "\x10", noFlags};
    EXPECT_EQ(UnpackFieldDef(bit, false, false).Flags, UNSIGNED_FLAG);
}
