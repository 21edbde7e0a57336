// URL splitting, percent decoding, folded header lines and the other text helpers.
#include <gtest/gtest.h>

#include "download/NetUtil.h"

using namespace download;

TEST(SplitUrl, FullUrlWithUserPortPathAndQuery) {
    const TUrlParts u = SplitUrl("http://joe:se:cret@files.example:8080/pub/app.zip?x=1&y=2");
    EXPECT_EQ(u.Protocol, "http");
    EXPECT_EQ(u.User, "joe");
    EXPECT_EQ(u.Password, "se:cret");
    EXPECT_EQ(u.Host, "files.example");
    EXPECT_EQ(u.Port, "8080");
    EXPECT_EQ(u.Path, "/pub/app.zip");
    EXPECT_EQ(u.Parameters, "x=1&y=2");
    EXPECT_EQ(u.Target, "/pub/app.zip?x=1&y=2");
}

TEST(SplitUrl, DefaultsByProtocolAndMissingParts) {
    EXPECT_EQ(SplitUrl("https://host/").Port, "443");
    EXPECT_EQ(SplitUrl("FTP://host/").Port, "21");
    const TUrlParts bare = SplitUrl("host.example");
    EXPECT_EQ(bare.Protocol, "http");
    EXPECT_EQ(bare.Host, "host.example");
    EXPECT_EQ(bare.Port, "80");
    EXPECT_EQ(bare.Target, "/");
    EXPECT_EQ(bare.Path, "/");
    EXPECT_EQ(SplitUrl("http:///x").Host, "localhost");
    // An "@" after the first "/" belongs to the path.
    const TUrlParts at = SplitUrl("http://host/a@b");
    EXPECT_EQ(at.User, "");
    EXPECT_EQ(at.Host, "host");
    EXPECT_EQ(at.Path, "/a@b");
}

TEST(SplitUrl, BracketedIPv6Host) {
    const TUrlParts u = SplitUrl("http://[::1]:8081/f");
    EXPECT_EQ(u.Host, "::1");
    EXPECT_EQ(u.Port, "8081");
    EXPECT_EQ(u.Target, "/f");
    EXPECT_EQ(SplitUrl("http://[fe80::1]/").Port, "80");
}

TEST(PercentDecode, TripletsBreaksAndLoosePercents) {
    EXPECT_EQ(PercentDecode("a%40b%3a%3Ac"), "a@b::c");
    EXPECT_EQ(PercentDecode("a%\r\nb"), "ab");
    EXPECT_EQ(PercentDecode("a%\n\rb"), "ab");
    EXPECT_EQ(PercentDecode("a%\nb"), "ab");
    EXPECT_EQ(PercentDecode("a%zzb"), "a%zzb");
    EXPECT_EQ(PercentDecode("abc%4"), "abc");
    EXPECT_EQ(PercentDecode("abc%"), "abc");
    EXPECT_EQ(PercentDecode("%00x").size(), 2u);
}

TEST(JoinFoldedHeader, JoinsContinuationLinesUpToTheLastLine) {
    const std::vector<std::string> lines = {"X-A: one", " two",   "\tthree", "X-B: b", "= eq",
                                            "\"q\"",    "X-C: c", " last",   ""};
    std::size_t i = 0;
    EXPECT_EQ(JoinFoldedHeader(lines, i), "X-A: one two three");
    EXPECT_EQ(i, 3u);
    EXPECT_EQ(JoinFoldedHeader(lines, i), "X-B: b = eq \"q\"");
    EXPECT_EQ(JoinFoldedHeader(lines, i), "X-C: c last");
    EXPECT_EQ(JoinFoldedHeader(lines, i), "");
    EXPECT_EQ(i, lines.size());

    // The last line of the list is never folded in; an empty line ends the header.
    const std::vector<std::string> tail = {"X-D: d  ", " end"};
    i = 0;
    EXPECT_EQ(JoinFoldedHeader(tail, i), "X-D: d");
    const std::vector<std::string> gap = {"X-E: e", "", " not"};
    i = 0;
    EXPECT_EQ(JoinFoldedHeader(gap, i), "X-E: e");
    EXPECT_EQ(i, 1u);
}

TEST(NetText, Base64NumbersAndAddresses) {
    EXPECT_EQ(EncodeBase64(""), "");
    EXPECT_EQ(EncodeBase64("f"), "Zg==");
    EXPECT_EQ(EncodeBase64("fo"), "Zm8=");
    EXPECT_EQ(EncodeBase64("foo"), "Zm9v");
    EXPECT_EQ(EncodeBase64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(EncodeBase64("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    using namespace std::string_literals;
    for (const std::string& bytes : {""s, "f"s, "fo"s, "foo"s, "foobar"s, "\xff\x00\xfe?>"s})
        EXPECT_EQ(DecodeBase64(EncodeBase64(bytes)), bytes);
    // Not Base64: another alphabet, a missing or misplaced pad, whitespace, stray bits.
    for (const char* text :
         {"Zm9v-_==", "Zg=", "Zg", "Z===", "Zg==Zm8=", "Zm 9v", "Zh==", "Zm9=", "Zm8=\n"})
        EXPECT_EQ(DecodeBase64(text), std::nullopt) << text;

    EXPECT_EQ(ParseHex("1a"), 26);
    EXPECT_EQ(ParseHex("FFFFFFFF"), 0xFFFFFFFFLL);
    EXPECT_FALSE(ParseHex("8000000000000000"));
    EXPECT_FALSE(ParseHex("1g"));
    EXPECT_FALSE(ParseHex(""));
    EXPECT_EQ(ParseDecimal("3000000000"), 3000000000LL);
    EXPECT_FALSE(ParseDecimal("-1"));
    EXPECT_FALSE(ParseDecimal("12a"));
    EXPECT_FALSE(ParseDecimal("99999999999999999999"));

    EXPECT_TRUE(IsIP4("127.0.0.1"));
    EXPECT_FALSE(IsIP4("256.0.0.1"));
    EXPECT_FALSE(IsIP4("1.2.3"));
    EXPECT_FALSE(IsIP4("localhost"));
    EXPECT_TRUE(IsIP6("::1"));
    EXPECT_TRUE(IsIP6("fe80::1:2"));
    EXPECT_FALSE(IsIP6("host:80"));

    EXPECT_EQ(TextBefore("a:b:c", ":"), "a");
    EXPECT_EQ(TextAfter("a:b:c", ":"), "b:c");
    EXPECT_EQ(TextAfter("abc", ":"), "abc");
    EXPECT_EQ(Trim(" \t x y \r\n"), "x y");
    EXPECT_EQ(
        HeaderValue({"HTTP/1.1 200 OK", "content-RANGE:  bytes 5-9/10 ", ""}, "Content-Range"),
        "bytes 5-9/10");
    EXPECT_FALSE(HeaderValue({"X: y"}, "Content-Range"));
}
