// Values and statements at the packet-size boundaries against a real MariaDB server:
// the length-coded forms, packets of exactly 0xFFFFFF bytes and values of 16 MiB and
// more, in both directions and with and without compression.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ClientTestSupport.h"
#include "dbclient/MysqlClient.h"
#include "testsupport/testsupport.h"

using namespace dbclient;
using clienttest::Exec;
using clienttest::Scalar;

namespace {

// Statements of many megabytes: no general log.
testsupport::MariaDbServer& Server() {
    static testsupport::MariaDbServer server({
        .extraArgs = {"--max-allowed-packet=64M"},
        .initSql =
            "CREATE DATABASE travik_test;\n"
            "CREATE TABLE travik_test.blobs (id INT PRIMARY KEY, data LONGBLOB) ENGINE=InnoDB;\n",
        .generalLog = false,
    });
    return server;
}

std::unique_ptr<TMysqlClient> Connect(const clienttest::Login& login) {
    return clienttest::Connect(Server().port(), login);
}

}  // namespace

TEST(ClientPackets, ValuesAroundTheLengthFormsAndPacketBoundaries) {
    for (const bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "compressed" : "plain");
        auto client = Connect({.db = "travik_test", .compress = compress, .maxPacket = 64u << 20});
        ASSERT_TRUE(client);
        // 0xFFFFFF - 4 bytes gives a row packet of exactly 0xFFFFFF bytes (followed by an
        // empty one); one more byte crosses the boundary.
        const std::vector<std::size_t> sizes = {0,     250,          251,          65535,
                                                65536, 0xFFFFFF - 4, 0xFFFFFF - 3, 17u << 20};
        for (const std::size_t n : sizes) {
            SCOPED_TRACE(n);
            bool ok = false;
            auto r =
                client->query("SELECT REPEAT('x', " + std::to_string(n) + "), 'after'", true, ok);
            ASSERT_TRUE(ok) << client->LastErrorNo() << " " << client->LastError();
            ASSERT_TRUE(r);
            r->FetchLengths();
            ASSERT_EQ(r->FieldLenght(0), n);
            const std::string_view v(r->FieldValue(0), n);
            EXPECT_EQ(v.find_first_not_of('x'), std::string_view::npos);
            EXPECT_STREQ(r->FieldValue(1), "after");
        }
    }
}

TEST(ClientPackets, LargeStatementsCrossTheBoundaryOnTheWayOut) {
    auto client = Connect({.db = "travik_test", .compress = false, .maxPacket = 64u << 20});
    ASSERT_TRUE(client);
    // Command byte + statement = exactly 0xFFFFFF bytes: a full packet and an empty one.
    const std::string head = "SELECT LENGTH('";
    const std::string tail = "')";
    const std::size_t fill = 0xFFFFFE - head.size() - tail.size();
    EXPECT_EQ(Scalar(*client, head + std::string(fill, 'y') + tail), std::to_string(fill));
    EXPECT_EQ(Scalar(*client, head + std::string(fill + 1, 'y') + tail), std::to_string(fill + 1));
    // A value of 16 MiB and more written and read back.
    std::string data(17u << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
    Exec(*client, "REPLACE INTO blobs VALUES (1, '" + data + "')");
    bool ok = false;
    auto r = client->query("SELECT data, MD5(data) = MD5('" + data + "') FROM blobs WHERE id = 1",
                           true, ok);
    ASSERT_TRUE(ok) << client->LastError();
    r->FetchLengths();
    ASSERT_EQ(r->FieldLenght(0), data.size());
    EXPECT_TRUE(std::string_view(r->FieldValue(0), data.size()) == data);
    EXPECT_STREQ(r->FieldValue(1), "1");
}
