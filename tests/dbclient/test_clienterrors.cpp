// The client error table and its message formatting.
#include <gtest/gtest.h>

#include "dbclient/ClientErrors.h"

namespace {

using namespace dbclient;

TEST(ClientErrors, TextsAsTheyStand) {
    EXPECT_EQ(ClientErrorText(2000), "Unknown MySQL error");
    EXPECT_EQ(ClientErrorText(CR_SERVER_LOST), "Lost connection to MySQL server during query");
    EXPECT_EQ(ClientErrorText(CR_COMMANDS_OUT_OF_SYNC),
              "Commands out of sync;  You can't run this command now");
    EXPECT_EQ(ClientErrorText(CR_NET_PACKET_TOO_LARGE),
              "Got packet bigger than 'max_allowed_packet'");
    EXPECT_EQ(ClientErrorText(2068), "LOAD DATA LOCAL INFILE request refused");
    EXPECT_EQ(ClientErrorMessage(CR_AUTH_PLUGIN_CANNOT_LOAD, "dialog"),
              "Authentication plugin 'dialog' cannot be loaded");
    EXPECT_EQ(ClientErrorText(1999), "");
    EXPECT_EQ(ClientErrorText(2021), "");
    for (unsigned n = 2000; n <= 2020; ++n) EXPECT_FALSE(ClientErrorText(n).empty()) << n;
}

TEST(ClientErrors, FormattingCutsHostsAndFillsNumbers) {
    const std::string host70(70, 'h');
    EXPECT_EQ(ClientErrorMessage(CR_CONN_HOST_ERROR, host70, 111),
              "Can't connect to MySQL server on '" + std::string(64, 'h') + "' (111)");
    EXPECT_EQ(ClientErrorMessage(CR_UNKNOWN_HOST, "db.example", -2),
              "Unknown MySQL Server Host 'db.example' (-2)");
    EXPECT_EQ(ClientErrorMessage(CR_VERSION_ERROR, 11, 10),
              "Protocol mismatch. Server Version = 11 Client Version = 10");
    EXPECT_EQ(
        ClientErrorMessage(CR_NAMEDPIPEWAIT_ERROR, "srv", std::string(40, 'p'), 4294967295ul),
        "Can't wait for named pipe to host: srv  pipe: " + std::string(32, 'p') + " (4294967295)");
    EXPECT_EQ(FormatErrorText(kOpenSslErrorFormat,
                              {std::string("text"), std::string("f.c"), 12LL, std::string("data")}),
              "OpenSSL error: text:f.c:12:data\\n");
    EXPECT_EQ(FormatErrorText("100%% %s", {}), "100% ");
    EXPECT_EQ(FormatErrorText("trailing %", {}), "trailing %");
}

}  // namespace
