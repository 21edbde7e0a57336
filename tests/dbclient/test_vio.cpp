// The transport: connecting (refused, unknown host, silent server, time-outs), reads
// with and without time-out, the blocking mode, named pipes and the draining close.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "dbclient/ClientErrors.h"
#include "dbclient/MysqlVio.h"
#include "testsupport/ScriptedServer.h"
#include "testsupport/testsupport.h"

namespace {

using namespace dbclient;
using namespace std::chrono_literals;
using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;

using Clock = std::chrono::steady_clock;

std::string ReadSome(TMysqlVio& vio) {
    char buffer[64];
    const long n = vio.vio_read(buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

TEST(VioOpen, RefusedPortGives2003WithTheSystemErrorCode) {
    TMysqlVio vio;
    const int port = testsupport::FreePort();
    EXPECT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", port, 5, true), -6);
    EXPECT_EQ(vio.VIO_type(), VIO_CLOSED);
    EXPECT_EQ(vio.last_errno(), CR_CONN_HOST_ERROR);
    EXPECT_EQ(vio.Last_error(), "Can't connect to MySQL server on '127.0.0.1' (" +
                                    std::to_string(ECONNREFUSED) + ")");
}

TEST(VioOpen, UnknownHostGives2005AndCutsLongNames) {
    TMysqlVio vio;
    EXPECT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "no-such-host.invalid", "", 3306, 5, true), -7);
    EXPECT_EQ(vio.VIO_type(), VIO_CLOSED);
    EXPECT_EQ(vio.last_errno(), CR_UNKNOWN_HOST);
    EXPECT_EQ(vio.Last_error().rfind("Unknown MySQL Server Host 'no-such-host.invalid' (", 0), 0u)
        << vio.Last_error();
    EXPECT_EQ(vio.Last_error().back(), ')');

    const std::string longHost = std::string(62, 'h') + ".invalid";  // 70 characters
    EXPECT_EQ(vio.vio_open(VIO_TYPE_TCPIP, longHost, "", 3306, 5, true), -7);
    EXPECT_EQ(
        vio.Last_error().rfind("Unknown MySQL Server Host '" + longHost.substr(0, 64) + "' (", 0),
        0u)
        << vio.Last_error();
}

TEST(VioOpen, SilentServerGives2003AfterTheConnectTimeOut) {
    ScriptedServer silent([](ScriptedConnection& c, int) { c.RecvAll(5s); });
    TMysqlVio vio;
    const auto start = Clock::now();
    EXPECT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", silent.port(), 1, true), -7);
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 900ms);
    EXPECT_LT(elapsed, 4s);
    EXPECT_EQ(vio.VIO_type(), VIO_CLOSED);
    EXPECT_EQ(vio.last_errno(), CR_CONN_HOST_ERROR);
    EXPECT_EQ(vio.Last_error(),
              "Can't connect to MySQL server on '127.0.0.1' (" + std::to_string(ETIMEDOUT) + ")");

    // Without a connect time-out there is no wait for the greeting.
    const auto again = Clock::now();
    EXPECT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", silent.port(), 0, true), 0);
    EXPECT_LT(Clock::now() - again, 500ms);
    EXPECT_EQ(vio.VIO_type(), VIO_TYPE_TCPIP);
    EXPECT_EQ(vio.last_errno(), 0u);
    // An open connection is not opened again.
    EXPECT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", silent.port(), 0, true), -20);
    vio.vio_close();
    EXPECT_EQ(vio.VIO_type(), VIO_CLOSED);
}

TEST(VioOpen, KindsThatCannotBeOpenedHere) {
    ScriptedServer greeter([](ScriptedConnection& c, int) {
        c.Send("hello");
        c.RecvAll(5s);
    });
    TMysqlVio vio;
    EXPECT_EQ(vio.vio_open(VIO_TYPE_SSL, "127.0.0.1", "", greeter.port(), 5, true), -2);
    // No named pipes on this platform: 2017, or TCP when the fallback is allowed.
    EXPECT_EQ(vio.vio_open(VIO_TYPE_NAMEDPIPE, "", "", greeter.port(), 5, false), -9);
    EXPECT_EQ(vio.last_errno(), CR_NAMEDPIPEOPEN_ERROR);
    EXPECT_EQ(vio.Last_error().rfind("Can't open named pipe to host: .  pipe: MySQL (", 0), 0u)
        << vio.Last_error();
    EXPECT_EQ(vio.VIO_type(), VIO_CLOSED);
    EXPECT_EQ(vio.vio_open(VIO_TYPE_NAMEDPIPE, "127.0.0.1", "", greeter.port(), 5, true), 0);
    EXPECT_EQ(vio.VIO_type(), VIO_TYPE_TCPIP);
    EXPECT_EQ(ReadSome(vio), "hello");
    // TCP is opened only with the socket fallback allowed.
    TMysqlVio other;
    EXPECT_EQ(other.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", greeter.port(), 5, false), 0);
    EXPECT_EQ(other.VIO_type(), VIO_CLOSED);
}

TEST(VioReadWrite, TimeOutsBlockingModeAndEndOfStream) {
    std::string received;
    std::optional<ScriptedServer> server;
    server.emplace([&received](ScriptedConnection& c, int) {
        c.Send("greeting");
        received = c.Recv(4, 5s);
        std::this_thread::sleep_for(1500ms);  // longer than the client's read time-out
        c.Send("late");
        c.Recv(1, 5s);
        c.Close();
    });
    TMysqlVio vio;
    vio.SetNoTimeOut(false);
    ASSERT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", server->port(), 1, true), 0);
    EXPECT_EQ(vio.fcntl_mode() & 1, 1);  // time-outs keep the socket non-blocking
    EXPECT_EQ(ReadSome(vio), "greeting");
    EXPECT_EQ(vio.vio_write("ping", 4), 4);
    char buffer[16];
    const auto start = Clock::now();
    EXPECT_EQ(vio.vio_read(buffer, sizeof buffer), -1);
    EXPECT_GE(Clock::now() - start, 900ms);
    EXPECT_FALSE(vio.vio_should_retry());
    EXPECT_FALSE(vio.vio_intrerupted());
    // Back to blocking reads without time-out.
    vio.SetNoTimeOut(true);
    EXPECT_EQ(vio.fcntl_mode() & 1, 0);
    EXPECT_EQ(ReadSome(vio), "late");
    EXPECT_EQ(vio.vio_write("x", 1), 1);
    EXPECT_EQ(vio.vio_read(buffer, sizeof buffer), 0);  // the server closed
    EXPECT_FALSE(vio.vio_should_retry());
    vio.vio_close();
    EXPECT_EQ(vio.vio_read(buffer, sizeof buffer), -1);
    EXPECT_EQ(vio.vio_write("x", 1), -1);
    EXPECT_EQ(vio.vio_blocking(true), -1);
    EXPECT_FALSE(vio.vio_wait_readable(1));
    server.reset();
    EXPECT_EQ(received, "ping");
}

TEST(VioClose, DrainsPendingInputButNotWithoutEnd) {
    // The server ends its side only after it has seen the client's end of stream; the
    // client drains what arrives meanwhile, so the close is orderly.
    std::atomic<bool> sawEnd{false};
    std::optional<ScriptedServer> polite;
    polite.emplace([&sawEnd](ScriptedConnection& c, int) {
        c.Send("greeting" + std::string(3000, 'd'));
        c.RecvAll(5s);
        sawEnd = true;
    });
    TMysqlVio vio;
    ASSERT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", polite->port(), 5, true), 0);
    const auto closing = Clock::now();
    vio.vio_close();
    EXPECT_LT(Clock::now() - closing, 1s);
    polite.reset();
    EXPECT_TRUE(sawEnd);
    EXPECT_EQ(vio.VIO_type(), VIO_CLOSED);

    // A server that never stops sending does not hold the close.
    std::atomic<bool> stop{false};
    ScriptedServer flood([&stop](ScriptedConnection& c, int) {
        const std::string chunk(4096, 'f');
        while (!stop && c.Send(chunk)) std::this_thread::sleep_for(1ms);
    });
    ASSERT_EQ(vio.vio_open(VIO_TYPE_TCPIP, "127.0.0.1", "", flood.port(), 5, true), 0);
    const auto start = Clock::now();
    vio.vio_close();
    EXPECT_LT(Clock::now() - start, 5s);
    stop = true;
}

TEST(VioErrors, TextsAreKeptTo200Characters) {
    TMysqlVio vio;
    vio.SetError(1234, std::string(300, 'e'));
    EXPECT_EQ(vio.last_errno(), 1234u);
    EXPECT_EQ(vio.Last_error(), std::string(200, 'e'));
    vio.ClearError();
    EXPECT_EQ(vio.last_errno(), 0u);
    EXPECT_EQ(vio.Last_error(), "");
}

}  // namespace
