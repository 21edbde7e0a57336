// The packet layer and the SHA-1 scramble against a real MariaDB server: login, results
// with and without compression, packets at the 16 MiB boundary in both directions.
#include <gtest/gtest.h>

#include <memory>

#include "NetTestSession.h"
#include "dbclient/ClientErrors.h"
#include "testsupport/testsupport.h"

namespace {

using namespace dbclient;
using nettest::LoginOptions;

testsupport::MariaDbServer* gServer = nullptr;

class MariaDbEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        server_ = std::make_unique<testsupport::MariaDbServer>(
            testsupport::MariaDbServer::Options{.extraArgs = {"--max-allowed-packet=64M"}});
        gServer = server_.get();
    }
    void TearDown() override { server_.reset(); }

  private:
    std::unique_ptr<testsupport::MariaDbServer> server_;
};
const auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new MariaDbEnvironment);

class NetAgainstMariaDb : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        net_.SetMaxAllowedPacketSize(64u << 20);
        LoginOptions options;
        options.compress = GetParam();
        ASSERT_EQ(nettest::Login(net_, gServer->port(), options), "");
        ASSERT_EQ(net_.compress(), GetParam());
    }
    TMysqlNet net_;
};

TEST_P(NetAgainstMariaDb, StatementsAnsweredWithRowsAndNulls) {
    const auto rows =
        nettest::Query(net_, "SELECT 1, NULL, 'x', REPEAT('v', 251), REPEAT('w', 65536)");
    ASSERT_TRUE(rows) << net_.last_error();
    ASSERT_EQ(rows->size(), 1u);
    const nettest::Row& row = rows->front();
    EXPECT_EQ(row[0], "1");
    EXPECT_FALSE(row[1]);
    EXPECT_EQ(row[2], "x");
    EXPECT_EQ(row[3], std::string(251, 'v'));
    EXPECT_EQ(row[4], std::string(65536, 'w'));
    // A server error keeps the session usable.
    EXPECT_FALSE(nettest::Query(net_, "SELEC 1"));
    EXPECT_EQ(net_.last_errno(), 1064u);
    EXPECT_NE(net_.last_error().find("You have an error in your SQL syntax"), std::string::npos);
    EXPECT_EQ(net_.last_error().find("#42000"), std::string::npos);
    EXPECT_TRUE(net_.net_connected());
    const auto again = nettest::Query(net_, "SELECT 2");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->at(0)[0], "2");
}

TEST_P(NetAgainstMariaDb, RowsAtThe16MiBBoundary) {
    // A row of one value of n bytes is a packet of n + 4 bytes (length-coded with 0xFD).
    for (const std::size_t n :
         {std::size_t{0xFFFFFF - 5}, std::size_t{0xFFFFFF - 4}, std::size_t{0xFFFFFF - 3}}) {
        const auto rows =
            nettest::Query(net_, "SELECT CONCAT(REPEAT('a', " + std::to_string(n - 1) + "), 'z')");
        ASSERT_TRUE(rows) << n << ": " << net_.last_error();
        ASSERT_EQ(rows->size(), 1u);
        const std::string& value = *rows->front()[0];
        ASSERT_EQ(value.size(), n);
        EXPECT_EQ(value.find_first_not_of('a'), n - 1);
        EXPECT_EQ(value.back(), 'z');
        EXPECT_TRUE(net_.net_pack());
        EXPECT_EQ(net_.max_packet(), 8192);
    }
}

TEST_P(NetAgainstMariaDb, StatementsAtThe16MiBBoundary) {
    // The command body is the command byte and the statement: 0xFFFFFF bytes in all is
    // a full packet and an empty one; one byte more spills into a second packet.
    const std::string head = "SELECT LENGTH('", tail = "')";
    for (const std::size_t body : {std::size_t{0xFFFFFF}, std::size_t{0xFFFFFF + 1}}) {
        const std::size_t n = body - 1 - head.size() - tail.size();
        const auto rows = nettest::Query(net_, head + std::string(n, 's') + tail);
        ASSERT_TRUE(rows) << body << ": " << net_.last_error();
        EXPECT_EQ(rows->at(0)[0], std::to_string(n));
    }
}

TEST_P(NetAgainstMariaDb, SecondResultSurvivesShrinkingAfterTheFirst) {
    bool more = false;
    const auto first = nettest::Query(net_, "SELECT REPEAT('x', 30000); SELECT 'second'", &more);
    ASSERT_TRUE(first) << net_.last_error();
    EXPECT_EQ(first->at(0)[0]->size(), 30000u);
    EXPECT_TRUE(more);
    EXPECT_TRUE(net_.net_pack());
    const auto second = nettest::ReadResult(net_, &more);
    ASSERT_TRUE(second) << net_.last_error();
    EXPECT_EQ(second->at(0)[0], "second");
    EXPECT_FALSE(more);
}

INSTANTIATE_TEST_SUITE_P(CompressionOffAndOn, NetAgainstMariaDb, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Compressed" : "Plain"; });

TEST(NetTimeOuts, LargeStatementsGoOutOverTheNonBlockingSocket) {
    // With time-outs the socket stays non-blocking; a statement larger than the socket's
    // send buffer must still go out whole.
    TMysqlNet net;
    net.SetNoTimeOut(false);
    ASSERT_EQ(nettest::Login(net, gServer->port(), LoginOptions{}), "");
    ASSERT_EQ(net.vio().fcntl_mode() & 1, 1);
    const auto rows =
        nettest::Query(net, "SELECT LENGTH('" + std::string(8000000, 'w') + "'), SLEEP(0.1)");
    ASSERT_TRUE(rows) << net.last_error();
    EXPECT_EQ(rows->at(0)[0], "8000000");
}

TEST(NetLogin, WrongPasswordIsRefusedByTheServer) {
    TMysqlNet net;
    LoginOptions options;
    options.password = "wrong";
    EXPECT_NE(nettest::Login(net, gServer->port(), options), "");
    EXPECT_EQ(net.last_errno(), 1045u);
    EXPECT_EQ(net.last_error().rfind("Access denied for user 'admin'@", 0), 0u) << net.last_error();
}

TEST(NetLogin, TheServerLogsTheConnectionAndItsStatements) {
    TMysqlNet net;
    ASSERT_EQ(nettest::Login(net, gServer->port(), LoginOptions{}), "");
    ASSERT_TRUE(nettest::Query(net, "SELECT 'logged statement'"));
    net.net_clear();
    net.net_write_command(1, "");  // COM_QUIT
    net.net_close();
    // Searched as text: other tests here log statements of many megabytes.
    const std::string log = gServer->GeneralLog();
    EXPECT_NE(log.find("Connect\tadmin@"), std::string::npos);
    EXPECT_NE(log.find("Query\tSELECT 'logged statement'\n"), std::string::npos);
}

}  // namespace
