// The blocking socket against scripted peers on 127.0.0.1: notification order, line
// ends, exact reads, time-outs, stop requests, pending options and closing.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "download/BlockingSocket.h"
#include "testsupport/ScriptedServer.h"
#include "testsupport/testsupport.h"

using namespace download;
using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;
using namespace std::chrono_literals;

namespace {

struct Note {
    TSocketHookReason reason;
    std::string value;
};

// Records every status notification of a socket.
struct StatusLog {
    std::vector<Note> notes;
    void Attach(TBlockingSocket& s) {
        s.OnStatus = [this](TBlockingSocket&, TSocketHookReason r, const std::string& v) {
            notes.push_back({r, v});
        };
    }
    std::vector<TSocketHookReason> Reasons() const {
        std::vector<TSocketHookReason> r;
        for (const auto& n : notes) r.push_back(n.reason);
        return r;
    }
    int Count(TSocketHookReason reason) const {
        int c = 0;
        for (const auto& n : notes) c += n.reason == reason;
        return c;
    }
};

std::string Port(const ScriptedServer& server) {
    return std::to_string(server.port());
}

}  // namespace

TEST(BlockingSocket, ClosingANeverOpenedSocketRaisesOneCloseAndNothingElse) {
    TTCPBlockingSocket s;
    StatusLog log;
    log.Attach(s);
    s.CloseSocket();
    ASSERT_EQ(log.notes.size(), 1u);
    EXPECT_EQ(log.notes[0].reason, hrSocketClose);
    EXPECT_EQ(log.notes[0].value, "");
    EXPECT_EQ(s.LastError(), 0);
    EXPECT_EQ(s.Socket(), platform::net::kInvalidSocket);
}

TEST(BlockingSocket, RefusedConnectReportsItsStepsInOrder) {
    const std::string port = std::to_string(testsupport::FreePort());
    for (int timeout : {0, 2000}) {
        SCOPED_TRACE(timeout);
        TTCPBlockingSocket s;
        s.SetConnectionTimeout(timeout);
        StatusLog log;
        log.Attach(s);
        s.Connect("127.0.0.1", port);
        const std::vector<TSocketHookReason> expected = {hrResolvingBegin, hrResolvingEnd,
                                                         hrSocketCreate, hrError, hrConnect};
        // A connect with a time-out waits for writability, which reports hrCanWrite.
        if (timeout > 0 && log.notes.size() > 3 && log.notes[3].reason == hrCanWrite)
            log.notes.erase(log.notes.begin() + 3);
        EXPECT_EQ(log.Reasons(), expected);
        ASSERT_EQ(log.notes.size(), expected.size());
        EXPECT_EQ(log.notes[0].value, "127.0.0.1:" + port);
        EXPECT_EQ(log.notes[1].value, "127.0.0.1:" + port);
        EXPECT_EQ(log.notes[2].value, "IPv4");
        EXPECT_EQ(log.notes[3].value, "10061,Connection refused");
        EXPECT_EQ(log.notes[4].value, "127.0.0.1:" + port);
        EXPECT_EQ(s.LastError(), 10061);
        EXPECT_EQ(s.LastErrorDesc(), "Connection refused");
    }
}

TEST(BlockingSocket, AnIPv6LiteralMakesAnIPv6Socket) {
    TTCPBlockingSocket s;
    StatusLog log;
    log.Attach(s);
    const std::string port = std::to_string(testsupport::FreePort());
    s.Connect("::1", port);
    ASSERT_GE(log.notes.size(), 3u);
    EXPECT_EQ(log.notes[1].value, "::1:" + port);
    EXPECT_EQ(log.notes[2].reason, hrSocketCreate);
    EXPECT_EQ(log.notes[2].value, "IPv6");
    EXPECT_NE(s.LastError(), 0);  // nothing listens there
}

TEST(BlockingSocket, ConnectWithTimeoutReachesAListeningPeer) {
    ScriptedServer server([](ScriptedConnection& c, int) {
        c.Send("hi");
        c.RecvAll(2s);
    });
    TTCPBlockingSocket s;
    s.SetConnectionTimeout(3000);
    s.Connect("127.0.0.1", Port(server));
    ASSERT_EQ(s.LastError(), 0);
    EXPECT_EQ(s.GetRemoteSinPort(), server.port());
    EXPECT_EQ(s.GetRemoteSinIP(), "127.0.0.1");
    EXPECT_EQ(s.RecvBufferStr(2, 2000), "hi");
    EXPECT_FALSE(s.NonBlockMode());
}

TEST(BlockingSocket, LineEndsOfEveryKindAndASplitCrLf) {
    ScriptedServer server([](ScriptedConnection& c, int) {
        c.Send("a\r\nb\nc\rd\n\re\r");
        std::this_thread::sleep_for(150ms);
        c.Send("\nf\r\n\r\nrest");
        c.RecvAll(2s);
    });
    TTCPBlockingSocket s;
    s.SetConvertLineEnd(true);
    s.Connect("127.0.0.1", Port(server));
    ASSERT_EQ(s.LastError(), 0);
    std::vector<std::string> lines;
    for (int i = 0; i < 7; ++i) lines.push_back(s.RecvString(2000));
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c", "d", "e", "f", ""}));
    EXPECT_EQ(s.RecvBufferStr(4, 2000), "rest");
}

TEST(BlockingSocket, WithoutConvertLineEndOnlyCrLfEndsALine) {
    ScriptedServer server([](ScriptedConnection& c, int) {
        c.Send("a\nb\rc\r\nd||e||");
        c.RecvAll(2s);
    });
    TTCPBlockingSocket s;
    s.Connect("127.0.0.1", Port(server));
    EXPECT_EQ(s.RecvString(2000), "a\nb\rc");
    EXPECT_EQ(s.RecvTerminated(2000, "||"), "d");
    EXPECT_EQ(s.RecvTerminated(2000, "||"), "e");
}

TEST(BlockingSocket, ExactReadsKeepWhatIsLeftOver) {
    ScriptedServer server([](ScriptedConnection& c, int) {
        c.Send("0123456789");
        c.RecvAll(2s);
    });
    TTCPBlockingSocket s;
    StatusLog log;
    log.Attach(s);
    s.Connect("127.0.0.1", Port(server));
    char buffer[4];
    EXPECT_EQ(s.RecvBufferEx(buffer, 4, 2000), 4);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(s.RecvPacket(2000), "456789");
    EXPECT_EQ(s.RecvCounter(), 10);
    EXPECT_GE(log.Count(hrReadCount), 1);
}

TEST(BlockingSocket, StreamUnitCutByThePeerIsNotAppended) {
    ScriptedServer server([](ScriptedConnection& c, int) {
        c.Send(std::string(65536 + 100, 'x'));
        c.Close();
    });
    TTCPBlockingSocket s;
    s.Connect("127.0.0.1", Port(server));
    platform::MemoryStream stream;
    s.RecvStreamSize(stream, 2000, 2 * 65536);
    EXPECT_EQ(s.LastError(), 10054);
    EXPECT_EQ(s.LastErrorDesc(), "Connection reset by peer");
    EXPECT_EQ(stream.Size(), 65536);
}

TEST(BlockingSocket, SilentPeerTimesOut) {
    ScriptedServer server([](ScriptedConnection& c, int) { c.RecvAll(3s); });
    TTCPBlockingSocket s;
    StatusLog log;
    log.Attach(s);
    s.Connect("127.0.0.1", Port(server));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(s.RecvString(300), "");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(s.LastError(), 10060);
    EXPECT_EQ(log.notes.back().value, "10060,Connection timed out");
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 2500ms);
}

TEST(BlockingSocket, WithoutInterPacketTimeoutTheTimeCoversTheWholeRead) {
    ScriptedServer server([](ScriptedConnection& c, int) {
        for (int i = 0; i < 40 && c.Send("x"); ++i) std::this_thread::sleep_for(50ms);
    });
    TTCPBlockingSocket s;
    s.Connect("127.0.0.1", Port(server));
    s.SetInterPacketTimeout(false);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(s.RecvString(300), "");
    EXPECT_EQ(s.LastError(), 10060);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
}

TEST(BlockingSocket, StopFlagFailsTheNextOperationOnce) {
    ScriptedServer server([](ScriptedConnection& c, int) {
        c.Send("data");
        c.RecvAll(2s);
    });
    TTCPBlockingSocket s;
    s.Connect("127.0.0.1", Port(server));
    s.SetStopFlag(true);
    EXPECT_EQ(s.RecvPacket(2000), "");
    EXPECT_EQ(s.LastError(), 10053);
    EXPECT_EQ(s.LastErrorDesc(), "Software caused connection abort");
    EXPECT_FALSE(s.StopFlag());
    EXPECT_EQ(s.RecvPacket(2000), "data");
    s.SetStopFlag(true);
    EXPECT_EQ(s.SendBuffer("x", 1), 0);
    EXPECT_EQ(s.LastError(), 10053);
}

TEST(BlockingSocket, SendsInPiecesAfterOneMonitorCall) {
    ScriptedServer server([](ScriptedConnection& c, int) {
        c.Send(c.Recv(10, 2s));
        c.RecvAll(2s);
    });
    TTCPBlockingSocket s;
    s.Connect("127.0.0.1", Port(server));
    std::vector<std::string> events;
    s.OnStatus = [&](TBlockingSocket&, TSocketHookReason r, const std::string& v) {
        if (r == hrWriteCount || r == hrReadCount)
            events.push_back((r == hrWriteCount ? "write " : "read ") + v);
    };
    s.OnMonitor = [&](TBlockingSocket&, bool writing, const void* buffer, std::int32_t len) {
        events.push_back(
            std::string(writing ? "monitor-out " : "monitor-in ") +
            std::string(static_cast<const char*>(buffer), static_cast<std::size_t>(len)));
    };
    s.SetSendMaxChunk(4);
    EXPECT_EQ(s.SendBuffer("0123456789", 10), 10);
    EXPECT_EQ(s.SendCounter(), 10);
    EXPECT_EQ(s.RecvBufferStr(10, 2000), "0123456789");
    ASSERT_GE(events.size(), 6u);
    EXPECT_EQ(events[0], "monitor-out 0123456789");
    EXPECT_EQ(events[1], "write 4");
    EXPECT_EQ(events[2], "write 4");
    EXPECT_EQ(events[3], "write 2");
    // For received bytes the count comes before the monitor call.
    EXPECT_EQ(events[4].rfind("read ", 0), 0u);
    EXPECT_EQ(events[5].rfind("monitor-in ", 0), 0u);
}

TEST(BlockingSocket, ReadinessWaitingDataPurgeAndReadFilter) {
    ScriptedServer server([](ScriptedConnection& c, int) {
        c.Send("12345");
        c.RecvUntil("next");
        c.Send("abcdef");
        c.RecvAll(2s);
    });
    TTCPBlockingSocket s;
    StatusLog log;
    log.Attach(s);
    s.Connect("127.0.0.1", Port(server));
    EXPECT_TRUE(s.CanRead(2000));
    EXPECT_EQ(log.notes.back().reason, hrCanRead);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(s.WaitingData(), 5);
    s.Purge();
    EXPECT_EQ(s.LastError(), 0);
    EXPECT_EQ(s.WaitingData(), 0);
    EXPECT_FALSE(s.CanRead(50));
    EXPECT_EQ(s.LastError(), 0);

    s.OnReadFilter = [](TBlockingSocket&, std::string& v) { v = v.substr(0, 3); };
    s.SendString("next");
    EXPECT_EQ(s.RecvPacket(2000), "abc");
}

TEST(BlockingSocket, OverlongLineFailsWithNoBufferSpace) {
    ScriptedServer server([](ScriptedConnection& c, int) {
        c.Send(std::string(5000, 'z'));
        c.RecvAll(2s);
    });
    TTCPBlockingSocket s;
    s.SetMaxLineLength(1000);
    s.Connect("127.0.0.1", Port(server));
    EXPECT_EQ(s.RecvString(2000), "");
    EXPECT_EQ(s.LastError(), 10055);
    EXPECT_EQ(s.LastErrorDesc(), "No Buffer space available");
}

TEST(BlockingSocket, PendingOptionsApplyAtCreationAndDieWithAClose) {
    ScriptedServer server([](ScriptedConnection& c, int) { c.RecvAll(1s); });
    TTCPBlockingSocket fresh;
    fresh.Connect("127.0.0.1", Port(server));
    const std::int32_t systemDefault = fresh.SizeRecvBuffer();

    TTCPBlockingSocket applied;
    applied.SetSizeRecvBuffer(8192);
    applied.Connect("127.0.0.1", Port(server));
    ASSERT_EQ(applied.LastError(), 0);
    const std::int32_t size = applied.SizeRecvBuffer();
    EXPECT_NE(size, systemDefault);
    EXPECT_LE(size, 2 * 8192);  // the system may double what it was asked for

    TTCPBlockingSocket dropped;
    dropped.SetSizeRecvBuffer(8192);
    dropped.CloseSocket();
    dropped.Connect("127.0.0.1", Port(server));
    EXPECT_EQ(dropped.SizeRecvBuffer(), systemDefault);

    TTCPBlockingSocket closed;
    EXPECT_EQ(closed.SizeRecvBuffer(), 1024);  // nothing open to ask
}

TEST(BlockingSocket, ClosingFromTheMonitorHookEndsTheReadAtOnce) {
    ScriptedServer server([](ScriptedConnection& c, int) {
        for (int i = 0; i < 50 && c.Send(std::string(4096, 'q')); ++i)
            std::this_thread::sleep_for(5ms);
    });
    TTCPBlockingSocket s;
    StatusLog log;
    log.Attach(s);
    int monitorCalls = 0;
    s.OnMonitor = [&](TBlockingSocket& sender, bool writing, const void*, std::int32_t) {
        if (writing) return;
        ++monitorCalls;
        sender.CloseSocket();  // re-enters the socket from its own hook
    };
    s.Connect("127.0.0.1", Port(server));
    const auto start = std::chrono::steady_clock::now();
    platform::MemoryStream stream;
    s.RecvStreamSize(stream, 5000, 1 << 20);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(s.LastError(), 10038);
    EXPECT_EQ(s.Socket(), platform::net::kInvalidSocket);
    EXPECT_LE(monitorCalls, 3);
    EXPECT_EQ(log.Count(hrSocketClose), 1);
}

TEST(BlockingSocket, ErrorTexts) {
    EXPECT_EQ(TBlockingSocket::GetErrorDesc(0), "");
    EXPECT_EQ(TBlockingSocket::GetErrorDesc(10065), "No route to host");
    EXPECT_EQ(TBlockingSocket::GetErrorDesc(10091), "Network subsystem is unusable");
    EXPECT_EQ(TBlockingSocket::GetErrorDesc(11001), "Host not found");
    EXPECT_EQ(TBlockingSocket::GetErrorDesc(11004), "Valid name, no data record of requested type");
    EXPECT_EQ(TBlockingSocket::GetErrorDesc(12345), "Other Winsock error (12345)");
}

TEST(BlockingSocket, RaiseExceptThrowsTheSocketError) {
    TTCPBlockingSocket s;
    s.SetRaiseExcept(true);
    try {
        s.Connect("127.0.0.1", std::to_string(testsupport::FreePort()));
        FAIL() << "no exception";
    } catch (const ESocketError& e) {
        EXPECT_EQ(e.ErrorCode, 10061);
        EXPECT_EQ(e.ErrorMessage, "Connection refused");
        EXPECT_STREQ(e.what(), "TCP/IP Socket error 10061: Connection refused");
    }
}

TEST(BlockingSocket, ANameResolvesToIPv4First) {
    ScriptedServer server([](ScriptedConnection& c, int) {
        c.Send("ok");
        c.RecvAll(1s);
    });
    TTCPBlockingSocket s;
    StatusLog log;
    log.Attach(s);
    s.Connect("localhost", Port(server));
    ASSERT_EQ(s.LastError(), 0);
    EXPECT_EQ(log.notes[0].value, "localhost:" + Port(server));
    EXPECT_EQ(log.notes[1].value, "127.0.0.1:" + Port(server));
    EXPECT_EQ(log.notes[2].value, "IPv4");
    EXPECT_EQ(s.RecvBufferStr(2, 2000), "ok");
}

TEST(BlockingSocket, ClosedSocketCanBeConnectedAgain) {
    ScriptedServer server([](ScriptedConnection& c, int index) {
        c.Send("conn" + std::to_string(index));
        c.RecvAll(1s);
    });
    TTCPBlockingSocket s;
    s.SetFamily(famIP4);
    for (int i = 0; i < 2; ++i) {
        s.Connect("127.0.0.1", Port(server));
        EXPECT_EQ(s.RecvBufferStr(5, 2000), "conn" + std::to_string(i));
        s.CloseSocket();
        EXPECT_EQ(s.Family(), famIP4);
        EXPECT_EQ(s.Socket(), platform::net::kInvalidSocket);
    }
}
