// The packet layer against scripted servers: framing and sequence numbers, the 16 MiB
// split in both directions, the compressed protocol, error packets and lost connections.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <optional>
#include <string>

#include "dbclient/ClientErrors.h"
#include "dbclient/MysqlNet.h"
#include "testsupport/ScriptedServer.h"

namespace {

using namespace dbclient;
using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;

constexpr std::uint32_t kFlag41 = 0x4000;

std::string Uint3(std::size_t n) {
    return {static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16)};
}

std::string Packet(std::uint8_t seq, const std::string& payload) {
    return Uint3(payload.size()) + static_cast<char>(seq) + payload;
}

std::string Deflate(const std::string& data) {
    uLongf size = compressBound(data.size());
    std::string out(size, '\0');
    EXPECT_EQ(compress(reinterpret_cast<Bytef*>(out.data()), &size,
                       reinterpret_cast<const Bytef*>(data.data()), data.size()),
              Z_OK);
    out.resize(size);
    return out;
}

std::string Inflate(const std::string& data, std::size_t size) {
    std::string out(size, '\0');
    uLongf produced = size;
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &produced,
                         reinterpret_cast<const Bytef*>(data.data()), data.size()),
              Z_OK);
    out.resize(produced);
    return out;
}

// One unit of the compressed protocol around `data`.
std::string Unit(std::uint8_t seq, const std::string& data, bool deflate) {
    if (!deflate) return Uint3(data.size()) + static_cast<char>(seq) + Uint3(0) + data;
    const std::string packed = Deflate(data);
    return Uint3(packed.size()) + static_cast<char>(seq) + Uint3(data.size()) + packed;
}

const std::string kGreeting = Packet(0,
                                     "\x0a"
                                     "greeting");

// Opens `net` to the scripted server and reads its greeting.
void Open(TMysqlNet& net, int port) {
    ASSERT_EQ(net.net_open(VIO_TYPE_TCPIP, "127.0.0.1", "", port, 5, true), 0) << net.last_error();
    ASSERT_EQ(net.net_safe_read(kFlag41), 9) << net.last_error();
}

std::string ReadText(TMysqlNet& net, long len) {
    return std::string(net.read_pos(), static_cast<std::size_t>(len));
}

// A server that greets, then records everything the client sends until it closes.
struct RecordingServer {
    std::string received;
    std::string answer;  // sent after the greeting
    std::optional<ScriptedServer> server;
    RecordingServer() {
        server.emplace([this](ScriptedConnection& c, int) {
            c.Send(kGreeting + answer);
            received = c.RecvAll(std::chrono::seconds(20));
        });
    }
    // Waits for the client to close and returns what arrived.
    std::string Finish(TMysqlNet& net) {
        net.net_close();
        server.reset();
        return received;
    }
};

TEST(NetWrite, CommandsAndPacketsCarryHeadersAndSequenceNumbers) {
    RecordingServer peer;
    TMysqlNet net;
    Open(net, peer.server->port());
    net.net_clear();
    ASSERT_EQ(net.net_write_command(3, "SELECT 1"), 0);
    ASSERT_EQ(net.my_net_write("abc"), 0);  // continues the numbering
    ASSERT_EQ(net.my_net_write(""), 0);
    ASSERT_EQ(net.net_flush(), 0);
    EXPECT_EQ(peer.Finish(net), Packet(0, "\x03SELECT 1") + Packet(1, "abc") + Packet(2, ""));
}

TEST(NetWrite, CommandBodiesAreSplitAt16MiB) {
    RecordingServer peer;
    TMysqlNet net;
    net.SetMaxAllowedPacketSize(64u << 20);
    Open(net, peer.server->port());
    // A body (command byte + argument) of exactly 0xFFFFFF bytes: a full packet and an
    // empty one, so that the server knows the command has ended.
    const std::string exact(0xFFFFFE, 'x');
    net.net_clear();
    ASSERT_EQ(net.net_write_command(3, exact), 0);
    // One byte more: the second packet carries it.
    const std::string more = std::string(0xFFFFFE, 'y') + "z";
    net.net_clear();
    ASSERT_EQ(net.net_write_command(3, more), 0);
    const std::string got = peer.Finish(net);
    const std::string expected = Packet(0, "\x03" + exact) + Packet(1, "") +
                                 Packet(0, "\x03" + more.substr(0, 0xFFFFFE)) + Packet(1, "z");
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
}

TEST(NetWrite, TooLargeStatementsAreRefusedBeforeAnythingIsSent) {
    RecordingServer peer;
    TMysqlNet net;
    Open(net, peer.server->port());
    net.SetMaxAllowedPacketSize(100);
    net.net_clear();
    EXPECT_EQ(net.net_write_command(3, std::string(95, 'q')), 1);  // 95 + 5 reaches 100
    EXPECT_EQ(net.last_errno(), ER_NET_PACKET_TOO_LARGE);
    EXPECT_EQ(net.my_net_write(std::string(0xFFFFFF, 'q')), 1);
    EXPECT_EQ(net.last_errno(), ER_NET_PACKET_TOO_LARGE);
    EXPECT_EQ(net.net_write_command(3, std::string(94, 'q')), 0);
    EXPECT_EQ(peer.Finish(net), Packet(0, "\x03" + std::string(94, 'q')));
}

TEST(NetRead, AnswersOf0xFFFFFFBytesAreJoinedWithTheNextPacket) {
    RecordingServer peer;
    const std::string big(0xFFFFFF, 'a');
    peer.answer = Packet(1, big) + Packet(2, "tail") + Packet(3, "next");
    TMysqlNet net;
    net.SetMaxAllowedPacketSize(64u << 20);
    Open(net, peer.server->port());
    const long len = net.net_safe_read(kFlag41);
    ASSERT_EQ(len, 0xFFFFFF + 4);
    EXPECT_TRUE(ReadText(net, len) == big + "tail");
    EXPECT_EQ(net.read_pos()[len], '\0');
    EXPECT_EQ(net.max_packet() % 4096, 0);
    ASSERT_EQ(net.net_safe_read(kFlag41), 4);
    EXPECT_STREQ(net.read_pos(), "next");
    // Shrinking afterwards gives the memory back.
    EXPECT_TRUE(net.net_pack());
    EXPECT_EQ(net.max_packet(), 8192);
    peer.Finish(net);
}

TEST(NetRead, BufferGrowsIn4KiBStepsAndAnswersAboveTheMaximumFail) {
    RecordingServer peer;
    peer.answer = Packet(1, std::string(10000, 'b')) + Packet(2, std::string(20000, 'c'));
    TMysqlNet net;
    Open(net, peer.server->port());
    EXPECT_EQ(net.max_packet(), 8192);
    ASSERT_EQ(net.net_safe_read(kFlag41), 10000);
    EXPECT_EQ(net.max_packet(), 12288);
    net.SetMaxAllowedPacketSize(16384);
    EXPECT_EQ(net.net_safe_read(kFlag41), -1);
    EXPECT_EQ(net.last_errno(), CR_NET_PACKET_TOO_LARGE);
    EXPECT_EQ(net.last_error(), "Got packet bigger than 'max_allowed_packet'");
    EXPECT_FALSE(net.net_connected());
    peer.Finish(net);
}

TEST(NetRead, WrongSequenceNumberLosesTheConnection) {
    RecordingServer peer;
    peer.answer = Packet(5, "out of order");
    TMysqlNet net;
    Open(net, peer.server->port());
    EXPECT_EQ(net.net_safe_read(kFlag41), -1);
    EXPECT_EQ(net.last_errno(), CR_SERVER_LOST);
    EXPECT_EQ(net.last_error(), "Lost connection to MySQL server during query");
    EXPECT_FALSE(net.net_connected());
    peer.Finish(net);
}

TEST(NetRead, EmptyPacketsAndCutConnectionsLoseTheConnection) {
    {
        RecordingServer peer;
        peer.answer = Packet(1, "");
        TMysqlNet net;
        Open(net, peer.server->port());
        EXPECT_EQ(net.net_safe_read(kFlag41), -1);
        EXPECT_EQ(net.last_errno(), CR_SERVER_LOST);
        peer.Finish(net);
    }
    ScriptedServer cut([](ScriptedConnection& c, int) {
        c.Send(kGreeting + Packet(1, "complete").substr(0, 7));  // the answer breaks off
        c.Close();
    });
    TMysqlNet net;
    Open(net, cut.port());
    EXPECT_EQ(net.net_safe_read(kFlag41), -1);
    EXPECT_EQ(net.last_errno(), CR_SERVER_LOST);
    EXPECT_FALSE(net.net_connected());
}

TEST(NetRead, ServerErrorPacketsKeepTheConnectionOpen) {
    RecordingServer peer;
    const std::string longMessage(250, 'm');
    peer.answer = Packet(1, "\xff\x15\x04#28000Access denied") + Packet(2, "\xff\x19\x04no state") +
                  Packet(3, "\xff\x01") + Packet(4, "\xff\x20\x04" + longMessage);
    TMysqlNet net;
    Open(net, peer.server->port());
    EXPECT_EQ(net.net_safe_read(kFlag41), -1);
    EXPECT_EQ(net.last_errno(), 1045u);
    EXPECT_EQ(net.last_error(), "Access denied");
    EXPECT_EQ(net.net_safe_read(kFlag41), -1);
    EXPECT_EQ(net.last_errno(), 1049u);
    EXPECT_EQ(net.last_error(), "no state");
    EXPECT_EQ(net.net_safe_read(kFlag41), -1);
    EXPECT_EQ(net.last_errno(), CR_UNKNOWN_ERROR);
    EXPECT_EQ(net.last_error(), "Unknown MySQL error");
    EXPECT_EQ(net.net_safe_read(kFlag41), -1);
    EXPECT_EQ(net.last_error(), longMessage.substr(0, 199));
    EXPECT_TRUE(net.net_connected());
    peer.Finish(net);
}

TEST(ErrorPacket, ParsedFromBytes) {
    const auto parse = [](const std::string& s, unsigned protocol, std::uint32_t flags) {
        return ParseErrorPacket(
            std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()), protocol, flags);
    };
    // Without the 4.1 flag the state stays in the message.
    EXPECT_EQ(parse("\xff\x15\x04#28000denied", 10, 0).message, "#28000denied");
    // An old server's message follows the 0xFF directly.
    const TServerError old = parse("\xffold message", 9, kFlag41);
    EXPECT_EQ(old.number, CR_UNKNOWN_ERROR);
    EXPECT_EQ(old.message, "old message");
    // A '#' without a full state does not read past the packet.
    EXPECT_EQ(parse("\xff\x15\x04#28", 10, kFlag41).message, "");
    // Error number 0 would read as no error at all: it is an unknown error.
    const TServerError zero = parse(std::string("\xff\0\0#28000denied", 14), 10, kFlag41);
    EXPECT_EQ(zero.number, CR_UNKNOWN_ERROR);
    EXPECT_EQ(zero.message, "Unknown MySQL error");
}

TEST(CompressedWrite, ShortDataGoesUncompressedLongerDataCompressed) {
    RecordingServer peer;
    TMysqlNet net;
    Open(net, peer.server->port());
    net.SetCompress(true);
    net.net_clear();
    const std::string p49(45, 'r');  // 4-byte header + 45 = 49 bytes of data
    const std::string p50(46, 'r');
    ASSERT_EQ(net.my_net_write(p49), 0);
    ASSERT_EQ(net.net_flush(), 0);
    ASSERT_EQ(net.my_net_write(p50), 0);
    ASSERT_EQ(net.net_flush(), 0);
    std::string noise;
    for (int i = 0; i < 60; ++i) noise += static_cast<char>((i * 197 + 13) % 251);
    ASSERT_EQ(net.my_net_write(noise), 0);  // does not get shorter: sent as is
    ASSERT_EQ(net.net_flush(), 0);
    std::string got = peer.Finish(net);

    EXPECT_EQ(got.substr(0, 7 + 49), Uint3(49) + '\0' + Uint3(0) + Packet(0, p49));
    got.erase(0, 7 + 49);
    ASSERT_GE(got.size(), 7u);
    const std::size_t packedLength = static_cast<unsigned char>(got[0]);
    EXPECT_LT(packedLength, 50u);
    EXPECT_EQ(got[3], '\x01');
    EXPECT_EQ(got.substr(4, 3), Uint3(50));
    EXPECT_EQ(Inflate(got.substr(7, packedLength), 50), Packet(0, p50));
    got.erase(0, 7 + packedLength);
    EXPECT_EQ(got, Uint3(64) + '\x02' + Uint3(0) + Packet(0, noise));
}

TEST(CompressedRead, PacketsAcrossAndWithinUnits) {
    RecordingServer peer;
    // Unit 1 (compressed): two whole packets and the start of a third; unit 2 (stored as
    // is): the rest of the third.
    const std::string third = Packet(3, std::string(300, 't'));
    const std::string data1 =
        Packet(1, std::string(100, 'o')) + Packet(2, "two") + third.substr(0, 50);
    peer.answer = Unit(1, data1, true) + Unit(2, third.substr(50), false);
    TMysqlNet net;
    Open(net, peer.server->port());
    net.SetCompress(true);
    ASSERT_EQ(net.net_safe_read(kFlag41), 100);
    EXPECT_EQ(std::string(net.read_pos()), std::string(100, 'o'));
    ASSERT_EQ(net.net_safe_read(kFlag41), 3);
    EXPECT_STREQ(net.read_pos(), "two");
    ASSERT_EQ(net.net_safe_read(kFlag41), 300);
    EXPECT_EQ(std::string(net.read_pos()), std::string(300, 't'));
    peer.Finish(net);
}

TEST(CompressedRead, ChainsOf0xFFFFFFBytesAreJoined) {
    RecordingServer peer;
    std::string payload(0xFFFFFF, 'j');
    for (std::size_t i = 0; i < payload.size(); i += 4099)
        payload[i] = static_cast<char>('a' + i % 26);
    const std::string stream = Packet(1, payload) + Packet(2, "end") + Packet(3, "after");
    // Sent in units of 1 MiB of data each, as a server flushing its buffer would.
    std::uint8_t seq = 1;
    for (std::size_t at = 0; at < stream.size(); at += 1u << 20)
        peer.answer += Unit(seq++, stream.substr(at, 1u << 20), true);
    TMysqlNet net;
    net.SetMaxAllowedPacketSize(64u << 20);
    Open(net, peer.server->port());
    net.SetCompress(true);
    const long len = net.net_safe_read(kFlag41);
    ASSERT_EQ(len, 0xFFFFFF + 3);
    EXPECT_TRUE(ReadText(net, len) == payload + "end");
    ASSERT_EQ(net.net_safe_read(kFlag41), 5);
    EXPECT_STREQ(net.read_pos(), "after");
    peer.Finish(net);
}

TEST(CompressedRead, BadDataLosesTheConnection) {
    for (const std::string& unit : {Uint3(10) + '\x01' + Uint3(100) + std::string(10, 'z'),
                                    // deflated data that gives fewer bytes than announced
                                    [] {
                                        const std::string packed =
                                            Deflate(Packet(1, std::string(80, 'k')));
                                        return Uint3(packed.size()) + '\x01' + Uint3(200) + packed;
                                    }()}) {
        RecordingServer peer;
        peer.answer = unit;
        TMysqlNet net;
        Open(net, peer.server->port());
        net.SetCompress(true);
        EXPECT_EQ(net.net_safe_read(kFlag41), -1);
        EXPECT_EQ(net.last_errno(), CR_SERVER_LOST);
        EXPECT_FALSE(net.net_connected());
        peer.Finish(net);
    }
}

TEST(CompressedRead, ShrinkingKeepsDataNotYetHandedOut) {
    RecordingServer peer;
    // One unit: a large packet (the buffer grows) and the next answer behind it.
    peer.answer = Unit(1, Packet(1, std::string(30000, 'l')) + Packet(2, "next result"), true);
    TMysqlNet net;
    Open(net, peer.server->port());
    net.SetCompress(true);
    ASSERT_EQ(net.net_safe_read(kFlag41), 30000);
    EXPECT_GT(net.max_packet(), 30000);
    EXPECT_TRUE(net.net_pack());
    EXPECT_EQ(net.max_packet(), 8192);
    ASSERT_EQ(net.net_safe_read(kFlag41), 11);
    EXPECT_STREQ(net.read_pos(), "next result");
    peer.Finish(net);
}

TEST(CompressedRoundTrip, CommandAndAnswerNumbering) {
    // The client's units are numbered from 0 after net_clear; the server's answer
    // continues the numbering of the units.
    std::string received;
    std::optional<ScriptedServer> server;
    server.emplace([&received](ScriptedConnection& c, int) {
        c.Send(kGreeting);
        received = c.Recv(7 + 4 + 9);
        c.Send(Unit(1, Packet(1, "ok"), false));
        c.RecvAll(std::chrono::seconds(20));
    });
    TMysqlNet net;
    Open(net, server->port());
    net.SetCompress(true);
    net.net_clear();
    ASSERT_EQ(net.net_write_command(3, "SELECT 1"), 0);
    ASSERT_EQ(net.net_safe_read(kFlag41), 2);
    EXPECT_STREQ(net.read_pos(), "ok");
    net.net_close();
    server.reset();
    EXPECT_EQ(received, Uint3(13) + '\0' + Uint3(0) + Packet(0, "\x03SELECT 1"));
}

TEST(HostileServer, GarbageEndsInALostConnectionNotACrash) {
    // Random bytes, plain and in the compressed protocol: every read either hands out a
    // packet that lies inside the buffer or fails with the connection closed.
    std::uint32_t seed = 12345;
    const auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0xFF; };
    for (int round = 0; round < 40; ++round) {
        const bool compressed = round % 2 == 1;
        std::string garbage;
        for (int i = 0; i < 2000; ++i) garbage += static_cast<char>(next());
        // Keep sequence numbers plausible now and then, so that reads get past the header.
        garbage[3] = '\x01';
        ScriptedServer peer([&garbage](ScriptedConnection& c, int) {
            c.Send(kGreeting + garbage);
            c.ShutdownWrite();
            c.RecvAll(std::chrono::seconds(20));
        });
        TMysqlNet net;
        net.SetMaxAllowedPacketSize(1u << 20);
        Open(net, peer.port());
        net.SetCompress(compressed);
        for (int read = 0; read < 50; ++read) {
            const long len = net.net_safe_read(kFlag41);
            if (len > 0) {
                ASSERT_LT(static_cast<std::size_t>(len),
                          static_cast<std::size_t>(net.max_packet()));
                EXPECT_EQ(net.read_pos()[len], '\0');
            } else if (!net.net_connected()) {
                break;
            }
        }
        EXPECT_FALSE(net.net_connected());
        net.net_close();
    }
}

TEST(CompressedHeader, ParsedFromBytes) {
    const std::uint8_t bytes[] = {0x31, 0x00, 0x00, 0x07, 0x32, 0x01, 0x00};
    const auto header = ParseCompressedHeader(bytes);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->length, 49u);
    EXPECT_EQ(header->sequence, 7);
    EXPECT_EQ(header->uncompressed, 306u);
    EXPECT_FALSE(ParseCompressedHeader(std::span(bytes, 6)));
    const auto packet = ParsePacketHeader(bytes);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->length, 49u);
    EXPECT_EQ(packet->sequence, 7);
}

}  // namespace
