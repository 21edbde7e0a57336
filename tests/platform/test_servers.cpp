// The test servers themselves: they start on loopback, and their logs read back.
#include <gtest/gtest.h>

#include "testsupport/ScriptedServer.h"
#include "testsupport/testsupport.h"

TEST(TestServers, NginxServesAndLogsRanges) {
    testsupport::TempDir root;
    testsupport::WriteFile(root / "file.bin", "0123456789");
    testsupport::NginxServer nginx(root.path());
    const auto r = testsupport::Run({.argv = {"curl", "-s", "-r", "2-", nginx.url("/file.bin")}});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "23456789");
    const auto log = nginx.AccessLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].uri, "/file.bin");
    EXPECT_EQ(log[0].range, "bytes=2-");
    EXPECT_EQ(log[0].status, "206");
}

TEST(TestServers, MariaDbRunsItsInitialStatementsAndLogs) {
    testsupport::MariaDbServer db({.initSql = "CREATE DATABASE smoke;\n"});
    EXPECT_GT(db.port(), 0);
    EXPECT_TRUE(testsupport::PathExists(db.dataDir() + "/smoke"));
    EXPECT_TRUE(testsupport::PathExists(db.generalLogPath()));
}

TEST(TestServers, ScriptedServerRunsItsScriptPerConnection) {
    testsupport::ScriptedServer server([](testsupport::ScriptedConnection& c, int index) {
        const std::string request = c.RecvUntil("\r\n\r\n");
        c.Send("HTTP/1.0 200 OK\r\n\r\nconnection " + std::to_string(index) + " got " +
               std::to_string(request.size()));
    });
    for (int i = 0; i < 2; ++i) {
        const auto r = testsupport::Run({.argv = {"curl", "-s", "-0", server.url("/x")}});
        EXPECT_EQ(r.out.rfind("connection " + std::to_string(i) + " got ", 0), 0u) << r.out;
    }
    EXPECT_EQ(server.connections(), 2);
}
