// The client session against scripted servers, for what a current server will not do:
// old greetings and scrambles, 4.1.0 challenges, other protocol versions, short error
// packets, requests for local files, hostile and broken answers.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "dbclient/ClientErrors.h"
#include "dbclient/MysqlClient.h"
#include "dbclient/Scramble.h"
#include "testsupport/MysqlMessages.h"
#include "testsupport/ScriptedMysql.h"
#include "testsupport/ScriptedServer.h"
#include "testsupport/testsupport.h"
#include "tls/OpenSsl.h"

using namespace dbclient;
using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;

namespace {

constexpr std::uint32_t kComponentFlags = 0x30020;
const std::string kScramble = "abcdefghijklmnopqrst";

std::string LE(std::uint64_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

std::string Packet(std::uint8_t seq, const std::string& payload) {
    return LE(payload.size(), 3) + static_cast<char>(seq) + payload;
}

struct ClientPacket {
    int seq = -1;  // -1: nothing arrived
    std::string payload;
};

ClientPacket ReadPacket(ScriptedConnection& c) {
    const std::string header = c.Recv(4, std::chrono::seconds(5));
    if (header.size() < 4) return {};
    const std::size_t length = static_cast<unsigned char>(header[0]) |
                               static_cast<unsigned char>(header[1]) << 8 |
                               static_cast<unsigned char>(header[2]) << 16;
    return {static_cast<unsigned char>(header[3]), c.Recv(length, std::chrono::seconds(5))};
}

// Greeting of protocol 10; without `secondPart` it ends after the capabilities, as
// servers before 4.1 send it.
std::string Greeting(const std::string& version, std::uint32_t caps, bool secondPart,
                     std::uint8_t protocol = 10) {
    std::string g = std::string(1, static_cast<char>(protocol)) + version + '\0' + LE(77, 4) +
                    kScramble.substr(0, 8) + '\0' + LE(caps, 2);
    if (secondPart) g += '\x08' + LE(2, 2) + std::string(13, '\0') + kScramble.substr(8) + '\0';
    return g;
}

std::string Ok(std::uint32_t status = 2) {
    return std::string(1, '\0') + '\0' + '\0' + LE(status, 2) + LE(0, 2);
}

// What the scripted server saw, handed to the test when the script ends.
struct Seen {
    std::vector<ClientPacket> packets;
    std::string rest;  // bytes after the last expected packet
};

std::unique_ptr<TMysqlClient> NewClient() {
    auto client = std::make_unique<TMysqlClient>();
    client->SetConnectTimeout(5);
    return client;
}

bool Connect(TMysqlClient& client, int port, const std::string& user, const std::string& password,
             const std::string& db = "") {
    return client.connect("127.0.0.1", user, password, db, port, "", true, kComponentFlags);
}

}  // namespace

TEST(Handshake, PreFourOneServerGetsTheOldScrambleAndInitDb) {
    const std::string longUser(40, 'u');
    const std::string longDb(70, 'd');
    std::promise<Seen> seen;
    ScriptedServer server([&](ScriptedConnection& c, int) {
        // No secure connection, no connect-with-database, no 4.1 flags.
        c.Send(Packet(0, Greeting("4.0.27-standard", 0x2004, false)));
        Seen s;
        s.packets.push_back(ReadPacket(c));  // login
        c.Send(Packet(2, Ok()));
        s.packets.push_back(ReadPacket(c));  // COM_INIT_DB
        c.Send(Packet(1, Ok()));
        s.packets.push_back(ReadPacket(c));  // COM_QUIT
        seen.set_value(s);
    });
    auto client = NewClient();
    ASSERT_TRUE(Connect(*client, server.port(), longUser, "secret", longDb)) << client->LastError();
    EXPECT_EQ(client->ServerVersion(), "4.0.27-standard");
    EXPECT_EQ(client->ThreadId(), 77u);
    EXPECT_FALSE(client->Use410Password());
    client->close();
    const Seen s = seen.get_future().get();
    ASSERT_EQ(s.packets.size(), 3u);
    // Login: the 5-byte start (16 flag bits, 24 bits of the packet size), the user cut
    // to 32 bytes, the old scramble with its zero byte, and no database.
    const ClientPacket& login = s.packets[0];
    EXPECT_EQ(login.seq, 1);
    // 0xE285 without the 4.1 flags, the database flag and the component's compression
    // (the server does not offer it).
    const std::uint32_t flags = 0xE285u & ~0xC200u;
    const std::string expected = LE(flags | CLIENT_CONNECT_WITH_DB, 2) +
                                 LE(16777216 & 0xFFFFFF, 3) + longUser.substr(0, 32) + '\0' +
                                 scramble_old("secret", kScramble.substr(0, 8)) + '\0';
    EXPECT_EQ(login.payload, expected);
    // The database follows as COM_INIT_DB (whole: only the login packet cuts names).
    EXPECT_EQ(s.packets[1].seq, 0);
    EXPECT_EQ(s.packets[1].payload, "\x02" + longDb);
    EXPECT_EQ(s.packets[2].payload, "\x01");
}

TEST(Handshake, SwitchToTheOldScrambleOnRequest) {
    std::promise<Seen> seen;
    ScriptedServer server([&](ScriptedConnection& c, int) {
        c.Send(Packet(0, Greeting("5.0.96", 0xA20D, true)));
        Seen s;
        s.packets.push_back(ReadPacket(c));
        c.Send(Packet(2, "\xFE"));  // this account has a pre-4.1 password
        s.packets.push_back(ReadPacket(c));
        c.Send(Packet(4, Ok()));
        seen.set_value(s);
        c.RecvAll(std::chrono::seconds(2));
    });
    auto client = NewClient();
    ASSERT_TRUE(Connect(*client, server.port(), "olduser", "oldpw", "travik"))
        << client->LastError();
    const Seen s = seen.get_future().get();
    ASSERT_EQ(s.packets.size(), 2u);
    // The 4.1 login: 32-byte start, user, 20-byte scramble, database.
    const std::string& login = s.packets[0].payload;
    const std::uint32_t flags =
        0xE285u | CLIENT_CONNECT_WITH_DB | 0x30000u;  // no compression offered
    EXPECT_EQ(login.substr(0, 4), LE(flags, 4));
    EXPECT_EQ(login.substr(4, 4), LE(16777216, 4));
    EXPECT_EQ(login[8], '\x53');  // utf8: 5.0 has no utf8mb4
    EXPECT_EQ(login.substr(9, 23), std::string(23, '\0'));
    EXPECT_EQ(login.substr(32), std::string("olduser") + '\0' + '\x14' +
                                    scramble_sha1(kScramble, "oldpw") + "travik" + '\0');
    // The answer to the switch: 8 characters and a zero byte.
    EXPECT_EQ(s.packets[1].seq, 3);
    EXPECT_EQ(s.packets[1].payload, scramble_old("oldpw", kScramble.substr(0, 8)));
    EXPECT_EQ(s.packets[1].payload.size(), 9u);
}

TEST(Handshake, FreshScrambleRequestedAfterTheLoginPacket) {
    const std::string fresh = "ZYXWVUTSRQPONMLKJIHG";
    std::promise<Seen> seen;
    ScriptedServer server([&](ScriptedConnection& c, int) {
        c.Send(Packet(0, Greeting("5.5.5-10.11.6-MariaDB", 0xA20D, true)));
        Seen s;
        s.packets.push_back(ReadPacket(c));
        c.Send(Packet(2, std::string("\xFE") + "mysql_native_password" + '\0' + fresh + '\0'));
        s.packets.push_back(ReadPacket(c));
        c.Send(Packet(4, Ok()));
        seen.set_value(s);
        c.RecvAll(std::chrono::seconds(2));
    });
    auto client = NewClient();
    ASSERT_TRUE(Connect(*client, server.port(), "u", "pw")) << client->LastError();
    const Seen s = seen.get_future().get();
    ASSERT_EQ(s.packets.size(), 2u);
    EXPECT_EQ(s.packets[1].seq, 3);
    EXPECT_EQ(s.packets[1].payload, scramble_sha1(fresh, "pw"));
    // A MariaDB server knows utf8mb4 (45): statements go as UTF-8 from here on.
    EXPECT_EQ(s.packets[0].payload[8], '\x2D');
    EXPECT_TRUE(client->Utf8Used());
}

TEST(Handshake, FourOneZeroChallengesInBothForms) {
    for (const char first : {'k', '*'}) {
        SCOPED_TRACE(first);
        std::string challenge = std::string(1, first) + "bcdefghijklmnopqrstuvwx";
        std::promise<Seen> seen;
        ScriptedServer server([&](ScriptedConnection& c, int) {
            c.Send(Packet(0, Greeting("4.1.0-alpha", 0xA20D, false)));
            Seen s;
            s.packets.push_back(ReadPacket(c));
            c.Send(Packet(2, challenge));
            s.packets.push_back(ReadPacket(c));
            c.Send(Packet(4, Ok()));
            seen.set_value(s);
            c.RecvAll(std::chrono::seconds(2));
        });
        auto client = NewClient();
        ASSERT_TRUE(Connect(*client, server.port(), "early", "pw41")) << client->LastError();
        EXPECT_TRUE(client->Use410Password());
        const Seen s = seen.get_future().get();
        ASSERT_EQ(s.packets.size(), 2u);
        // Password field of the login: eight x and a zero byte.
        EXPECT_EQ(s.packets[0].payload.substr(32),
                  std::string("early") + '\0' + "xxxxxxxx" + '\0' + '\0');
        EXPECT_EQ(s.packets[1].payload, scramble_410_reply(challenge, "pw41"));
        EXPECT_EQ(s.packets[1].payload.size(), 20u);
    }
}

TEST(Handshake, ProtocolVersions) {
    // Version 11 is refused with 2007 before anything is sent.
    std::promise<Seen> seen11;
    ScriptedServer v11([&](ScriptedConnection& c, int) {
        c.Send(Packet(0, Greeting("9.9.9", 0xA20D, true, 11)));
        Seen s;
        s.rest = c.RecvAll(std::chrono::seconds(2));
        seen11.set_value(s);
    });
    auto client = NewClient();
    EXPECT_FALSE(Connect(*client, v11.port(), "u", "p"));
    EXPECT_EQ(client->LastErrorNo(), 2007u);
    EXPECT_EQ(client->LastError(), "Protocol mismatch. Server Version = 11 Client Version = 10");
    EXPECT_FALSE(client->Connected());
    const std::string rest11 = seen11.get_future().get().rest;
    EXPECT_EQ(rest11.find(std::string("u\0p", 3)), std::string::npos);  // no login packet

    // Version 9: the short greeting, the old scramble; its error packets carry no number.
    std::promise<Seen> seen9;
    ScriptedServer v9([&](ScriptedConnection& c, int) {
        c.Send(Packet(
            0, std::string("\x09") + "3.21.33" + '\0' + LE(5, 4) + kScramble.substr(0, 8) + '\0'));
        Seen s;
        s.packets.push_back(ReadPacket(c));
        c.Send(Packet(2, Ok()));
        s.packets.push_back(ReadPacket(c));
        c.Send(Packet(1,
                      "\xFF"
                      "Table 'x' doesn't exist"));
        seen9.set_value(s);
        c.RecvAll(std::chrono::seconds(2));
    });
    client->SetShouldReconnect(false);
    ASSERT_TRUE(Connect(*client, v9.port(), "u", "p")) << client->LastError();
    EXPECT_EQ(client->ProtocolVersion(), 9u);
    bool ok = true;
    EXPECT_FALSE(client->query("SELECT * FROM x", true, ok));
    EXPECT_FALSE(ok);
    EXPECT_EQ(client->LastErrorNo(), 2000u);
    EXPECT_EQ(client->LastError(), "Table 'x' doesn't exist");
    const Seen s9 = seen9.get_future().get();
    EXPECT_EQ(s9.packets[0].payload, LE(0xE285u & ~0xC200u, 2) + LE(0, 3) + "u" + '\0' +
                                         scramble_old("p", kScramble.substr(0, 8)) + '\0');
    EXPECT_EQ(s9.packets[1].payload, "\x03SELECT * FROM x");
}

TEST(Handshake, ErrorPacketsAtLogin) {
    // Shorter than 4 bytes: the client's own "Unknown MySQL error".
    ScriptedServer shortError([](ScriptedConnection& c, int) {
        c.Send(Packet(0, "\xFF\x01"));
        c.RecvAll(std::chrono::seconds(2));
    });
    auto client = NewClient();
    EXPECT_FALSE(Connect(*client, shortError.port(), "u", "p"));
    EXPECT_EQ(client->LastErrorNo(), 2000u);
    EXPECT_EQ(client->LastError(), "Unknown MySQL error");
    EXPECT_FALSE(client->Connected());

    // A refused host answers the connection with an error instead of a greeting.
    ScriptedServer refused([](ScriptedConnection& c, int) {
        c.Send(Packet(0, "\xFF" + LE(1130, 2) + "Host '10.0.0.1' is not allowed to connect"));
        c.RecvAll(std::chrono::seconds(2));
    });
    EXPECT_FALSE(Connect(*client, refused.port(), "u", "p"));
    EXPECT_EQ(client->LastErrorNo(), 1130u);
    EXPECT_EQ(client->LastError(), "Host '10.0.0.1' is not allowed to connect");

    // Access denied in the 4.1 form loses its SQL state.
    ScriptedServer denied([](ScriptedConnection& c, int) {
        c.Send(Packet(0, Greeting("5.1.73", 0xA20D, true)));
        ReadPacket(c);
        c.Send(Packet(2, "\xFF" + LE(1045, 2) + "#28000Access denied for user 'u'"));
        c.RecvAll(std::chrono::seconds(2));
    });
    EXPECT_FALSE(Connect(*client, denied.port(), "u", "p"));
    EXPECT_EQ(client->LastErrorNo(), 1045u);
    EXPECT_EQ(client->LastError(), "Access denied for user 'u'");
}

TEST(Handshake, UnexpectedAuthenticationAnswersFail) {
    // A method this client does not have ends the login with 2059; data that does not
    // fit the method (a short nonce, more data for a one-round method) with 2012. Nothing
    // that is not an OK packet passes for a login, and the connection is closed.
    struct Case {
        std::string answer;
        unsigned errnum;
        std::string text;
    };
    const std::vector<Case> cases = {
        {std::string("\xFE") + "auth_gssapi_client" + '\0' + "0123456789abcdefghij" + '\0', 2059,
         "Authentication plugin 'auth_gssapi_client' cannot be loaded"},
        {std::string("\xFE") + "client_ed25519" + '\0' + "0123456789abcdefghij" + '\0', 2012,
         "Error in server handshake"},
        {std::string("\x01") + "more data", 2012, "Error in server handshake"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ScriptedServer server([&](ScriptedConnection& conn, int) {
            conn.Send(Packet(0, Greeting("5.5.5-10.11.6-MariaDB", 0xA20D, true)));
            ReadPacket(conn);
            conn.Send(Packet(2, c.answer));
            conn.RecvAll(std::chrono::seconds(2));
        });
        auto client = NewClient();
        EXPECT_FALSE(Connect(*client, server.port(), "u", "p"));
        EXPECT_EQ(client->LastErrorNo(), c.errnum);
        EXPECT_EQ(client->LastError(), c.text);
        EXPECT_FALSE(client->Connected());
    }
}

TEST(Handshake, PluggableAuthenticationInTheLoginAndChangeOfUser) {
    // A server of today names its method in the greeting; the login announces pluggable
    // authentication, answers with that method and names it. No database: its flag is
    // not sent, so neither is its field.
    const std::string nonce = "0123456789ABCDEFGHIJ";
    const std::string fresh = "KLMNOPQRSTUVWXYZ!#%&";
    std::promise<Seen> seen;
    ScriptedServer server([&](ScriptedConnection& c, int) {
        c.Send(Packet(
            0, testsupport::mysql::PluginGreeting("8.4.3", "caching_sha2_password", nonce, false)));
        Seen s;
        s.packets.push_back(ReadPacket(c));  // login
        c.Send(Packet(2, "\x01\x03"));       // fast path
        c.Send(Packet(3, Ok()));
        s.packets.push_back(ReadPacket(c));  // COM_CHANGE_USER
        c.Send(Packet(1, std::string("\xFE") + "mysql_native_password" + '\0' + fresh + '\0'));
        s.packets.push_back(ReadPacket(c));
        c.Send(Packet(3, Ok()));
        seen.set_value(s);
        c.RecvAll(std::chrono::seconds(2));
    });
    auto client = NewClient();
    client->SetShouldReconnect(false);
    ASSERT_TRUE(Connect(*client, server.port(), "u", "pw")) << client->LastError();
    EXPECT_TRUE(client->ClientFlag() & CLIENT_PLUGIN_AUTH);
    ASSERT_TRUE(client->change_user("v", "pw2", "db")) << client->LastError();
    const Seen s = seen.get_future().get();
    ASSERT_EQ(s.packets.size(), 3u);
    const std::string& login = s.packets[0].payload;
    EXPECT_EQ(login.substr(0, 4), LE(0xE285u | 0x30000u | CLIENT_PLUGIN_AUTH, 4));
    EXPECT_EQ(login.substr(32), std::string("u") + '\0' + '\x20' + scramble_sha256(nonce, "pw") +
                                    "caching_sha2_password" + '\0');
    // The change of user: user, answer, database, character set, method.
    EXPECT_EQ(s.packets[1].payload, std::string("\x11v") + '\0' + '\x20' +
                                        scramble_sha256(nonce, "pw2") + "db" + '\0' + LE(45, 2) +
                                        "caching_sha2_password" + '\0');
    EXPECT_EQ(s.packets[2].seq, 2);
    EXPECT_EQ(s.packets[2].payload, scramble_sha1(fresh, "pw2"));
    EXPECT_EQ(client->User(), "v");
}

TEST(Handshake, TlsAskedForButNotOffered) {
    std::promise<Seen> seen;
    ScriptedServer server([&](ScriptedConnection& c, int) {
        c.Send(Packet(0, Greeting("5.5.5-10.11.6-MariaDB", 0xA20D, true)));  // no 0x800
        Seen s;
        s.rest = c.RecvAll(std::chrono::seconds(2));
        seen.set_value(s);
    });
    auto client = NewClient();
    client->SetUseSSL(true);
    EXPECT_FALSE(Connect(*client, server.port(), "user", "password"));
    EXPECT_EQ(client->LastErrorNo(), 2026u);
    EXPECT_FALSE(client->Connected());
    EXPECT_TRUE(client->UseSSL());  // a later attempt asks for TLS again
    // Nothing of the login went out in clear text.
    EXPECT_EQ(seen.get_future().get().rest.find("user"), std::string::npos);
}

TEST(Handshake, ServerThatNeverGreets) {
    ScriptedServer silent([](ScriptedConnection& c, int) { c.RecvAll(std::chrono::seconds(4)); });
    auto client = NewClient();
    client->SetConnectTimeout(1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Connect(*client, silent.port(), "u", "p"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(client->LastErrorNo(), 2003u);
}

namespace {

// A server that logs in anyone and answers the first statement with `answer`
// (packets from sequence number 1), then records what the client sends.
ScriptedServer::Script AnswerFirstStatement(std::vector<std::string> answer,
                                            std::promise<Seen>& seen,
                                            std::vector<std::string> thenSend = {}) {
    return [answer, thenSend, &seen](ScriptedConnection& c, int index) {
        if (index > 0) return;
        c.Send(Packet(0, Greeting("5.5.5-10.11.6-MariaDB", 0xA20D, true)));
        ReadPacket(c);
        c.Send(Packet(2, Ok()));
        Seen s;
        s.packets.push_back(ReadPacket(c));  // the statement
        std::uint8_t seq = 1;
        for (const auto& p : answer) c.Send(Packet(seq++, p));
        if (!thenSend.empty()) {
            // Wait for the client's part, then go on.
            s.packets.push_back(ReadPacket(c));
            seq = static_cast<std::uint8_t>(s.packets.back().seq + 1);
            for (const auto& p : thenSend) c.Send(Packet(seq++, p));
        }
        s.rest = c.RecvAll(std::chrono::milliseconds(500));
        seen.set_value(s);
    };
}

}  // namespace

TEST(LocalFiles, RequestRefusedAndNothingOfTheFileSent) {
    testsupport::TempDir dir;
    const std::string secret = dir / "secret.txt";
    testsupport::WriteFile(secret, "the client's private data");
    std::promise<Seen> seen;
    // After the refused transfer the server reports the statement done, with a further
    // result of the statement text pending.
    ScriptedServer server(
        AnswerFirstStatement({"\xFB" + secret}, seen,
                             {Ok(2 | SERVER_MORE_RESULTS_EXISTS),
                              std::string("\x00\x00\x00", 3) + LE(2, 2) + LE(0, 2)}));
    auto client = NewClient();
    client->SetShouldReconnect(false);
    ASSERT_TRUE(Connect(*client, server.port(), "u", "p")) << client->LastError();
    EXPECT_TRUE(client->ClientFlag() & CLIENT_LOCAL_FILES);
    bool ok = true;
    EXPECT_FALSE(client->query("LOAD DATA LOCAL INFILE 'x' INTO TABLE t; DO 1", true, ok));
    EXPECT_FALSE(ok);
    EXPECT_EQ(client->LastErrorNo(), 2068u);
    EXPECT_EQ(client->LastError(), "LOAD DATA LOCAL INFILE request refused");
    // The rest of the statement text can still be read.
    EXPECT_TRUE(client->moreResults());
    EXPECT_FALSE(client->nextResult(true, ok));
    EXPECT_TRUE(ok);
    EXPECT_FALSE(client->moreResults());
    client->close();
    const Seen s = seen.get_future().get();
    ASSERT_EQ(s.packets.size(), 2u);
    // Only the empty packet that ends the transfer.
    EXPECT_EQ(s.packets[1].seq, 2);
    EXPECT_EQ(s.packets[1].payload, "");
    EXPECT_EQ(s.rest.find("private"), std::string::npos);
}

TEST(LocalFiles, SentInPacketsWhenSwitchedOn) {
    testsupport::TempDir dir;
    const std::string file = dir / "data.txt";
    std::string contents(150000, '\0');
    for (std::size_t i = 0; i < contents.size(); ++i) contents[i] = static_cast<char>('A' + i % 23);
    testsupport::WriteFile(file, contents);
    std::promise<Seen> seen;
    ScriptedServer server([&](ScriptedConnection& c, int) {
        c.Send(Packet(0, Greeting("5.5.5-10.11.6-MariaDB", 0xA20D, true)));
        ReadPacket(c);
        c.Send(Packet(2, Ok()));
        Seen s;
        ReadPacket(c);
        c.Send(Packet(1, "\xFB" + file));
        for (;;) {
            s.packets.push_back(ReadPacket(c));
            if (s.packets.back().payload.empty()) break;
        }
        c.Send(Packet(static_cast<std::uint8_t>(s.packets.back().seq + 1),
                      std::string(1, '\0') + '\x05' + '\0' + LE(2, 2) + LE(0, 2)));
        seen.set_value(s);
        c.RecvAll(std::chrono::milliseconds(500));
    });
    auto client = NewClient();
    client->SetLocalInfile(true);
    client->SetShouldReconnect(false);
    ASSERT_TRUE(Connect(*client, server.port(), "u", "p")) << client->LastError();
    bool ok = false;
    client->query("LOAD DATA LOCAL INFILE 'x' INTO TABLE t", true, ok);
    EXPECT_TRUE(ok) << client->LastError();
    EXPECT_EQ(client->AffectedRows(), 5);
    const Seen s = seen.get_future().get();
    ASSERT_EQ(s.packets.size(), 4u);
    EXPECT_EQ(s.packets[0].payload.size(), 61440u);
    EXPECT_EQ(s.packets[1].payload.size(), 61440u);
    EXPECT_EQ(s.packets[0].payload + s.packets[1].payload + s.packets[2].payload, contents);
    EXPECT_EQ(s.packets[0].seq, 2);
    EXPECT_EQ(s.packets[3].seq, 5);
}

TEST(BrokenAnswers, CloseTheConnectionWith2013) {
    struct Case {
        const char* what;
        std::vector<std::string> answer;
    };
    const std::string def = std::string(
                                "\x03"
                                "def\x00\x00\x00\x01x\x00\x0C",
                                11) +
                            LE(33, 2) + LE(11, 4) + '\x03' + LE(0, 2) + '\0' + LE(0, 2);
    const std::string end = "\xFE" + LE(0, 2) + LE(2, 2);
    const std::vector<Case> cases = {
        {"fewer descriptions than columns", {"\x02", def, end}},
        {"more descriptions than columns", {"\x01", def, def, end}},
        {"a value running past its row",
         {"\x01", def, end,
          "\x0A"
          "abc",
          end}},
        {"a header cut inside its number", {"\xFE\x01"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::promise<Seen> seen;
        ScriptedServer server(AnswerFirstStatement(c.answer, seen));
        auto client = NewClient();
        client->SetShouldReconnect(false);
        ASSERT_TRUE(Connect(*client, server.port(), "u", "p")) << client->LastError();
        bool ok = true;
        EXPECT_FALSE(client->query("SELECT x", true, ok));
        EXPECT_FALSE(ok);
        EXPECT_EQ(client->LastErrorNo(), 2013u);
        EXPECT_FALSE(client->Connected());
        EXPECT_EQ(client->Status(), MYSQL_STATUS_READY);
        seen.get_future().get();
    }
}

TEST(BrokenAnswers, WrongSequenceNumber) {
    ScriptedServer server([](ScriptedConnection& c, int) {
        c.Send(Packet(0, Greeting("5.5.5-10.11.6-MariaDB", 0xA20D, true)));
        ReadPacket(c);
        c.Send(Packet(2, Ok()));
        ReadPacket(c);
        c.Send(Packet(5, Ok()));
        c.RecvAll(std::chrono::milliseconds(500));
    });
    auto client = NewClient();
    client->SetShouldReconnect(false);
    ASSERT_TRUE(Connect(*client, server.port(), "u", "p"));
    bool ok = true;
    client->query("DO 1", true, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(client->LastErrorNo(), 2013u);
    EXPECT_EQ(client->LastError(), "Lost connection to MySQL server during query");
    EXPECT_FALSE(client->Connected());
}

TEST(Commands, ShutdownClosesAndAnEmptyStatisticsTextIsAnError) {
    std::promise<Seen> seen;
    ScriptedServer server([&](ScriptedConnection& c, int) {
        c.Send(Packet(0, Greeting("5.5.5-10.11.6-MariaDB", 0xA20D, true)));
        ReadPacket(c);
        c.Send(Packet(2, Ok()));
        Seen s;
        s.packets.push_back(ReadPacket(c));  // COM_STATISTICS
        c.Send(Packet(1, std::string(1, '\0')));
        s.packets.push_back(ReadPacket(c));  // COM_SHUTDOWN
        c.Send(Packet(1, Ok()));
        s.packets.push_back(ReadPacket(c));  // COM_QUIT of the close that follows
        seen.set_value(s);
    });
    auto client = NewClient();
    client->SetShouldReconnect(false);
    ASSERT_TRUE(Connect(*client, server.port(), "u", "p"));
    EXPECT_EQ(client->stat(), "");
    EXPECT_EQ(client->LastErrorNo(), 2009u);
    EXPECT_EQ(client->LastError(), "Wrong host info");
    EXPECT_TRUE(client->shutdown()) << client->LastError();
    EXPECT_FALSE(client->Connected());
    const Seen s = seen.get_future().get();
    ASSERT_EQ(s.packets.size(), 3u);
    EXPECT_EQ(s.packets[0].payload, "\x09");
    EXPECT_EQ(s.packets[1].payload, "\x08");
    EXPECT_EQ(s.packets[2].payload, "\x01");
}

namespace {

using testsupport::mysql::ScriptedMysql;
using Authentication = ScriptedMysql::Options::Authentication;
using Steps = std::vector<std::string>;

// The server's RSA key pair and TLS certificate, made once with the openssl tool.
struct ServerKeys {
    testsupport::TestKeys keys;
    testsupport::TestCertificates certificates;
    testsupport::TestCertificates::Issued tls = certificates.Issue("127.0.0.1", "IP:127.0.0.1");
};

const ServerKeys& Keys() {
    static const ServerKeys keys;
    return keys;
}

Authentication Account(const std::string& method, bool cached = false) {
    Authentication a{.password = "s3cret-senha", .accountMethod = method, .cached = cached};
    a.rsaPrivateKey = Keys().keys / "rsa.pem";
    a.rsaPublicKey = Keys().keys / "rsa-spki.pem";
    return a;
}

Authentication WithTls(Authentication a) {
    a.tlsCert = Keys().tls.cert;
    a.tlsKey = Keys().tls.key;
    return a;
}

std::unique_ptr<TMysqlClient> LogIn(ScriptedMysql& server, const std::string& password, bool tls) {
    auto client = NewClient();
    client->SetShouldReconnect(false);
    if (tls) {
        EXPECT_TRUE(tls::LoadOpenSSL());
        client->SetUseSSL(true);
    }
    Connect(*client, server.port(), "atualizacaodb", password);
    return client;
}

std::string Nothing(const std::string&) {
    return Packet(1, Ok());
}

}  // namespace

TEST(PluggableAuthentication, EveryPathOfCachingSha2AndSha256) {
    struct Case {
        const char* what;
        Authentication auth;
        bool tls;
        Steps steps;
    };
    Authentication switched = Account("caching_sha2_password");
    switched.greetingMethod = "mysql_native_password";
    Authentication sha256 = Account("sha256_password");
    sha256.greetingMethod = "sha256_password";
    const std::vector<Case> cases = {
        {"fast path",
         Account("caching_sha2_password", true),
         false,
         {"login caching_sha2_password", "scramble", "fast", "ok"}},
        {"full authentication with the server's key",
         Account("caching_sha2_password"),
         false,
         {"login caching_sha2_password", "full", "public key", "rsa", "ok"}},
        {"full authentication over TLS",
         WithTls(Account("caching_sha2_password")),
         true,
         {"tls", "login caching_sha2_password", "full", "password", "ok"}},
        {"switch from the native method",
         switched,
         false,
         {"login mysql_native_password", "switch caching_sha2_password", "full", "public key",
          "rsa", "ok"}},
        {"sha256_password with the server's key",
         sha256,
         false,
         {"login sha256_password", "public key", "rsa", "ok"}},
        {"switch to sha256_password over TLS",
         WithTls(Account("sha256_password")),
         true,
         {"tls", "login caching_sha2_password", "switch sha256_password", "password", "ok"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedMysql server({.version = "8.4.3", .auth = c.auth}, Nothing);
        auto client = LogIn(server, "s3cret-senha", c.tls);
        EXPECT_TRUE(client->Connected()) << client->LastErrorNo() << " " << client->LastError();
        EXPECT_EQ(client->IsSSLUsed(), c.tls);
        EXPECT_TRUE(client->ping()) << client->LastError();
        client->close();
        EXPECT_EQ(server.AuthSteps(), std::vector<Steps>{c.steps});
    }
}

TEST(PluggableAuthentication, RefusedLogins) {
    // A wrong password: the server's 1045 passes through, by the fast path and by the key.
    for (const bool cached : {true, false}) {
        ScriptedMysql server({.version = "8.4.3", .auth = Account("caching_sha2_password", cached)},
                             Nothing);
        auto client = LogIn(server, "another-password", false);
        EXPECT_FALSE(client->Connected());
        EXPECT_EQ(client->LastErrorNo(), 1045u);
        EXPECT_EQ(client->LastError(),
                  "Access denied for user 'atualizacaodb'@'localhost' (using password: YES)");
        ASSERT_EQ(server.AuthSteps().size(), 1u);
        EXPECT_EQ(server.AuthSteps()[0].back(), "denied");
    }
    // A method this client does not have.
    {
        ScriptedMysql server(
            {.version = "8.4.3", .auth = Account("authentication_ldap_sasl_client")}, Nothing);
        auto client = LogIn(server, "s3cret-senha", false);
        EXPECT_FALSE(client->Connected());
        EXPECT_EQ(client->LastErrorNo(), 2059u);
        EXPECT_EQ(client->LastError(),
                  "Authentication plugin 'authentication_ldap_sasl_client' cannot be loaded");
        const Steps expected = {"login caching_sha2_password",
                                "switch authentication_ldap_sasl_client", "gone"};
        EXPECT_EQ(server.AuthSteps(), std::vector<Steps>{expected});
    }
    // A server that keeps switching: the client gives up after a few rounds.
    {
        Authentication endless = Account("caching_sha2_password", true);
        endless.extraSwitches = 1000;
        ScriptedMysql server({.version = "8.4.3", .auth = endless}, Nothing);
        auto client = LogIn(server, "s3cret-senha", false);
        EXPECT_FALSE(client->Connected());
        EXPECT_EQ(client->LastErrorNo(), 2012u);
        const auto logins = server.AuthSteps();
        ASSERT_EQ(logins.size(), 1u);
        const Steps& steps = logins[0];
        EXPECT_EQ(steps.back(), "gone");
        EXPECT_LE(steps.size(), 12u);
    }
}
