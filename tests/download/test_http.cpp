// The HTTP client against a real nginx (plain GETs, ranges, errors, a large file,
// connection reuse) and against scripted peers for what nginx will not send.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "download/HttpClient.h"
#include "download/NetUtil.h"
#include "testsupport/ScriptedServer.h"
#include "testsupport/testsupport.h"

using namespace download;
using testsupport::ScriptedConnection;
using testsupport::ScriptedServer;
using namespace std::chrono_literals;

namespace {

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(size, '\0');
    for (auto& c : s) c = static_cast<char>(gen());
    return s;
}

// One nginx for the whole program, serving a small and a large file; every answer
// carries the server's connection number in X-Conn.
struct Nginx {
    testsupport::TempDir root{"travik-http-root"};
    std::string small = "hello from nginx\n";
    std::string big = RandomBytes(5 * 1024 * 1024 + 123, 7);
    std::unique_ptr<testsupport::NginxServer> server;
    Nginx() {
        testsupport::WriteFile(root / "small.txt", small);
        testsupport::WriteFile(root / "big.bin", big);
        server = std::make_unique<testsupport::NginxServer>(
            root.path(), "    add_header X-Conn $connection always;");
    }
    std::vector<testsupport::NginxServer::LogEntry> LogFor(const std::string& uri) const {
        std::vector<testsupport::NginxServer::LogEntry> r;
        for (auto& e : server->AccessLog())
            if (e.uri == uri) r.push_back(e);
        return r;
    }
};

Nginx& Web() {
    static Nginx nginx;
    return nginx;
}

std::string Body(THTTPClient& http) {
    return http.Document().Bytes();
}

// A scripted HTTP peer: per connection it reads one request header, records it, and
// sends the answer in parts with a pause between them; then it ends the stream (or
// holds the connection open and silent for `hold`).
class Peer {
  public:
    explicit Peer(std::vector<std::string> parts, std::chrono::milliseconds hold = 0ms)
        : parts_(std::move(parts)), hold_(hold) {
        server_ = std::make_unique<ScriptedServer>([this](ScriptedConnection& c, int) {
            const std::string request = c.RecvUntil("\r\n\r\n", 3s);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
            }
            for (std::size_t i = 0; i < parts_.size(); ++i) {
                if (i > 0) std::this_thread::sleep_for(100ms);
                if (!c.Send(parts_[i])) return;
            }
            if (hold_ > 0ms) {
                c.RecvAll(hold_);
            } else {
                // End the answer, then read until the client closes, so that nothing
                // unread turns the close into a reset.
                c.ShutdownWrite();
                c.RecvAll(3s);
            }
        });
    }
    ~Peer() { server_.reset(); }
    std::string url(const std::string& path = "/") const { return server_->url(path); }
    int port() const { return server_->port(); }
    std::vector<std::string> requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

  private:
    std::vector<std::string> parts_;
    std::chrono::milliseconds hold_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::unique_ptr<ScriptedServer> server_;
};

}  // namespace

// --- Against nginx -------------------------------------------------------------------------

TEST(HttpNginx, PlainGetReadsTheWholeFile) {
    THTTPClient http;
    ASSERT_TRUE(http.HTTPMethod("GET", Web().server->url("/small.txt")));
    EXPECT_EQ(http.ResultCode(), 200);
    EXPECT_EQ(http.ResultString(), "OK");
    EXPECT_EQ(Body(http), Web().small);
    EXPECT_EQ(http.Document().Position(), 0);
    EXPECT_EQ(http.DownloadSize(), static_cast<std::int64_t>(Web().small.size()));
    EXPECT_EQ(http.MimeType(), "application/octet-stream");
    EXPECT_TRUE(http.BodyComplete());
    ASSERT_FALSE(http.Headers().empty());
    EXPECT_EQ(http.Headers().front(), "HTTP/1.1 200 OK");
    EXPECT_EQ(HeaderValue(http.Headers(), "Content-Length"), std::to_string(Web().small.size()));
    // Protocol 1.0 closes after every answer.
    EXPECT_EQ(http.Sock().Socket(), platform::net::kInvalidSocket);
    const auto log = Web().LogFor("/small.txt");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().method, "GET");
    EXPECT_EQ(log.back().status, "200");
    EXPECT_EQ(log.back().range, "");
}

TEST(HttpNginx, RangesFromAnOffsetAndBetweenTwoOffsets) {
    THTTPClient http;
    http.SetRangeStart(1000);
    ASSERT_TRUE(http.HTTPMethod("GET", Web().server->url("/big.bin")));
    EXPECT_EQ(http.ResultCode(), 206);
    EXPECT_EQ(Body(http), Web().big.substr(1000));
    EXPECT_EQ(HeaderValue(http.Headers(), "Content-Range"),
              "bytes 1000-" + std::to_string(Web().big.size() - 1) + "/" +
                  std::to_string(Web().big.size()));

    http.Clear();
    http.SetRangeEnd(1024);
    ASSERT_TRUE(http.HTTPMethod("GET", Web().server->url("/big.bin")));
    EXPECT_EQ(http.ResultCode(), 206);
    EXPECT_EQ(Body(http), Web().big.substr(0, 1025));

    const auto log = Web().LogFor("/big.bin");
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2].range, "bytes=1000-");
    EXPECT_EQ(log[log.size() - 2].status, "206");
    EXPECT_EQ(log.back().range, "bytes=0-1024");
}

TEST(HttpNginx, MissingFileIsA404WithItsPage) {
    THTTPClient http;
    EXPECT_TRUE(http.HTTPMethod("GET", Web().server->url("/no/such/file.zip")));
    EXPECT_EQ(http.ResultCode(), 404);
    EXPECT_EQ(http.ResultString(), "Not Found");
    EXPECT_NE(Body(http).find("404"), std::string::npos);
    EXPECT_EQ(http.MimeType(), "text/html");
    const auto log = Web().LogFor("/no/such/file.zip");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].status, "404");
}

TEST(HttpNginx, LargeFileWholeInDocumentOrTakenOutAsItArrives) {
    {
        THTTPClient http;
        ASSERT_TRUE(http.HTTPMethod("GET", Web().server->url("/big.bin")));
        EXPECT_EQ(http.Document().Size(), static_cast<std::int64_t>(Web().big.size()));
        EXPECT_TRUE(Body(http) == Web().big);
    }
    // An owner that keeps memory bounded moves the body out from the hooks.
    THTTPClient http;
    std::string sink;
    std::int64_t largest = 0;
    int closes = 0;
    const auto take = [&] {
        largest = std::max(largest, http.Document().Size());
        sink += http.Document().Bytes();
        http.Document().Clear();
    };
    http.Sock().OnMonitor = [&](TBlockingSocket&, bool writing, const void*, std::int32_t) {
        if (!writing) take();
    };
    http.Sock().OnStatus = [&](TBlockingSocket&, TSocketHookReason reason, const std::string&) {
        if (reason == hrSocketClose && http.ResultCode() != 500) {
            ++closes;
            EXPECT_TRUE(http.BodyComplete());
            take();
        }
    };
    ASSERT_TRUE(http.HTTPMethod("GET", Web().server->url("/big.bin")));
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(sink.size(), Web().big.size());
    EXPECT_TRUE(sink == Web().big);
    // At most the unit before the last receive and the unit completed without one.
    EXPECT_LE(largest, 2 * 65536);
    EXPECT_EQ(http.Document().Size(), 0);
}

TEST(HttpNginx, Protocol11ReusesTheConnectionAnd10DoesNot) {
    const auto connection = [](THTTPClient& http) {
        return HeaderValue(http.Headers(), "X-Conn").value_or("?");
    };
    const auto before = Web().LogFor("/small.txt").size();

    THTTPClient keep;
    keep.SetProtocol("1.1");
    int creates = 0;
    keep.Sock().OnStatus = [&](TBlockingSocket&, TSocketHookReason r, const std::string&) {
        creates += r == hrSocketCreate;
    };
    ASSERT_TRUE(keep.HTTPMethod("GET", Web().server->url("/small.txt")));
    const std::string first = connection(keep);
    EXPECT_NE(keep.Sock().Socket(), platform::net::kInvalidSocket);
    keep.Clear();  // Headers hold the last answer; before a request they are request lines
    ASSERT_TRUE(keep.HTTPMethod("GET", Web().server->url("/small.txt")));
    EXPECT_EQ(Body(keep), Web().small);
    EXPECT_EQ(connection(keep), first);
    EXPECT_EQ(creates, 1);

    THTTPClient once;
    ASSERT_TRUE(once.HTTPMethod("GET", Web().server->url("/small.txt")));
    const std::string third = connection(once);
    once.Clear();
    ASSERT_TRUE(once.HTTPMethod("GET", Web().server->url("/small.txt")));
    EXPECT_NE(connection(once), third);
    EXPECT_NE(third, first);

    EXPECT_EQ(Web().LogFor("/small.txt").size(), before + 4);
}

// --- Request header ------------------------------------------------------------------------

TEST(HttpRequest, DefaultLinesInTheirOrder) {
    Peer peer({"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"});
    THTTPClient http;
    ASSERT_TRUE(http.HTTPMethod("get", peer.url("/pub/app.zip")));
    EXPECT_EQ(Body(http), "ok");
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(peer.requests()[0],
              "GET /pub/app.zip HTTP/1.0\r\n"
              "Host: 127.0.0.1:" +
                  std::to_string(peer.port()) +
                  "\r\n"
                  "Keep-Alive: 300\r\n"
                  "Connection: keep-alive\r\n"
                  "User-Agent: Mozilla/4.0 (compatible; TravikVersoes)\r\n"
                  "\r\n");
}

TEST(HttpRequest, RangeCookieAuthorisationQueryAndOwnLines) {
    Peer peer(
        {"HTTP/1.0 200 OK\r\nSet-Cookie: sid = abc ; path=/\r\nSet-Cookie: lang=pt\r\n"
         "Content-Length: 0\r\n\r\n"});
    THTTPClient http;
    http.Cookies().push_back("old=1");
    http.SetRangeStart(5000);
    http.SetKeepAlive(false);
    http.SetUserAgent("");
    http.Headers().push_back("X-Own: mine");
    ASSERT_TRUE(
        http.HTTPMethod("GET", peer.url("/x/y?q=1&r=%41").replace(0, 7, "http://us%40er:p%3Ass@")));
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(peer.requests()[0],
              "GET /x/y?q=1&r=%41 HTTP/1.0\r\n"
              "Host: 127.0.0.1:" +
                  std::to_string(peer.port()) +
                  "\r\n"
                  "Authorization: Basic " +
                  EncodeBase64("us@er:p:ss") +
                  "\r\n"
                  "Connection: close\r\n"
                  "Cookie: old=1\r\n"
                  "Range: bytes=5000-\r\n"
                  "X-Own: mine\r\n"
                  "\r\n");
    EXPECT_EQ(http.Cookies(), (std::vector<std::string>{"old=1", "sid=abc", "lang=pt"}));
}

TEST(HttpRequest, ProxyFormAndLocalInterface) {
    Peer proxy({"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nvia"});
    THTTPClient http;
    http.SetProxyHost("127.0.0.1");
    http.SetProxyPort(std::to_string(proxy.port()));
    http.SetProxyUser("pu");
    http.SetProxyPass("pp");
    http.SetIPInterface("127.0.0.1");
    std::vector<std::string> binds;
    http.Sock().OnStatus = [&](TBlockingSocket&, TSocketHookReason r, const std::string& v) {
        if (r == hrBind) binds.push_back(v);
    };
    ASSERT_TRUE(http.HTTPMethod("GET", "http://files.example/pub/a.zip"));
    EXPECT_EQ(Body(http), "via");
    EXPECT_EQ(binds, (std::vector<std::string>{"127.0.0.1:0"}));
    EXPECT_EQ(http.TargetHost(), "127.0.0.1");
    EXPECT_EQ(proxy.requests().at(0),
              "GET http://files.example:80/pub/a.zip HTTP/1.0\r\n"
              "Host: files.example\r\n"
              "Proxy-Authorization: Basic " +
                  EncodeBase64("pu:pp") +
                  "\r\n"
                  "Keep-Alive: 300\r\n"
                  "Proxy-Connection: keep-alive\r\n"
                  "User-Agent: Mozilla/4.0 (compatible; TravikVersoes)\r\n"
                  "\r\n");
}

TEST(HttpRequest, RangesAndLengthsBeyond32Bits) {
    Peer peer({"HTTP/1.0 206 Partial Content\r\nContent-Length: 5000000000\r\n\r\nabc"});
    THTTPClient http;
    http.SetRangeStart(3000000000);
    EXPECT_FALSE(http.HTTPMethod("GET", peer.url("/huge.bin")));
    EXPECT_NE(peer.requests().at(0).find("\r\nRange: bytes=3000000000-\r\n"), std::string::npos);
    EXPECT_EQ(http.DownloadSize(), 5000000000LL);
    EXPECT_FALSE(http.BodyComplete());
}

TEST(HttpRequest, BodyWithContentTypeAndLength) {
    Peer peer({"HTTP/1.0 201 Created\r\n\r\n"});
    THTTPClient http;
    http.SetMimeType("application/x-www-form-urlencoded");
    http.Document().Write(std::string("a=1&b=2"));
    http.SetRangeStart(10);
    http.SetRangeEnd(4);
    ASSERT_TRUE(http.HTTPMethod("POST", peer.url("/form")));
    EXPECT_EQ(http.ResultCode(), 201);
    EXPECT_EQ(http.ResultString(), "Created");
    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].find("Range: bytes=10-\r\n"
                               "User-Agent: Mozilla/4.0 (compatible; TravikVersoes)\r\n"
                               "Content-Type: application/x-www-form-urlencoded\r\n"
                               "Content-Length: 7\r\n\r\n"),
              std::string::npos)
        << requests[0];
    EXPECT_GT(http.UploadSize(), 7);
}

// --- Answers nginx does not give -------------------------------------------------------------

TEST(HttpAnswer, ChunkedBodiesWithExtensionsAndLineEndVariants) {
    const std::string a26 = "abcdefghijklmnopqrstuvwxyz";
    Peer peer(
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
         "1a;name=value\r\n" +
             a26 +
             "\r\n"
             "3 ; x\n123\n"
             "5\r",
         "\nhello\r\n0\r\nTrailer: t\r\n\r\n"});
    THTTPClient http;
    ASSERT_TRUE(http.HTTPMethod("GET", peer.url("/c")));
    EXPECT_EQ(http.ResultCode(), 200);
    EXPECT_EQ(Body(http), a26 + "123hello");
    EXPECT_TRUE(http.BodyComplete());
    EXPECT_EQ(http.DownloadSize(), 5);
}

TEST(HttpAnswer, ChunkedBodyThatNeverReachesItsLastChunkIsIncomplete) {
    for (const std::string& tail :
         {std::string("5\r\nhello\r\n"), std::string("5\r\nhello\r\nzz\r\n")}) {
        Peer peer({"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + tail});
        THTTPClient http;
        http.SetTimeout(2000);
        bool completeAtClose = true;
        http.Sock().OnStatus = [&](TBlockingSocket&, TSocketHookReason r, const std::string&) {
            if (r == hrSocketClose && http.ResultCode() != 500)
                completeAtClose = http.BodyComplete();
        };
        EXPECT_FALSE(http.HTTPMethod("GET", peer.url("/c")));
        EXPECT_EQ(http.ResultCode(), 200);
        EXPECT_EQ(Body(http), "hello");
        EXPECT_FALSE(http.BodyComplete());
        EXPECT_FALSE(completeAtClose);
    }
}

TEST(HttpAnswer, CountedBodyCutShortFails) {
    Peer peer({"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(70000, 'b')});
    THTTPClient http;
    http.SetTimeout(2000);
    EXPECT_FALSE(http.HTTPMethod("GET", peer.url("/short")));
    EXPECT_EQ(http.ResultCode(), 200);
    EXPECT_FALSE(http.BodyComplete());
    EXPECT_EQ(http.Sock().LastError(), 10054);
    EXPECT_EQ(http.Document().Size(), 65536);  // the interrupted unit is not kept
}

TEST(HttpAnswer, InterimContinueIsSkipped) {
    Peer peer({"HTTP/1.1 100 Continue\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"});
    THTTPClient http;
    ASSERT_TRUE(http.HTTPMethod("GET", peer.url("/")));
    EXPECT_EQ(http.ResultCode(), 200);
    EXPECT_EQ(Body(http), "ok");
    int statusLines = 0;
    for (const auto& h : http.Headers()) statusLines += StartsWith(h, "HTTP/");
    EXPECT_EQ(statusLines, 1);
}

TEST(HttpAnswer, Expect100SendsTheBodyAfterTheInterimAnswer) {
    std::string received;
    ScriptedServer server([&](ScriptedConnection& c, int) {
        std::string head = c.RecvUntil("\r\n\r\n", 3s);
        c.Send("HTTP/1.1 100 Continue\r\n\r\n");
        received = head + c.Recv(5, 3s);
        c.Send("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 4\r\n\r\ndone");
    });
    THTTPClient http;
    http.SetProtocol("1.1");
    http.SetStatus100(true);
    http.Document().Write(std::string("12345"));
    ASSERT_TRUE(http.HTTPMethod("PUT", server.url("/up")));
    EXPECT_EQ(http.ResultCode(), 200);
    EXPECT_EQ(Body(http), "done");
    EXPECT_EQ(http.UploadSize(), 5);
    EXPECT_NE(received.find("Expect: 100-continue\r\n\r\n12345"), std::string::npos) << received;
    // "Connection: close" closes also with protocol 1.1.
    EXPECT_EQ(http.Sock().Socket(), platform::net::kInvalidSocket);
}

TEST(HttpAnswer, UnframedBodyIsReadUntilTheServerCloses) {
    Peer peer({"HTTP/1.0 200 OK\r\nContent-Length: nonsense\r\n\r\nfirst ", "second"});
    THTTPClient http;
    ASSERT_TRUE(http.HTTPMethod("GET", peer.url("/")));
    EXPECT_EQ(Body(http), "first second");
    EXPECT_TRUE(http.BodyComplete());
    EXPECT_EQ(http.DownloadSize(), 0);
    EXPECT_EQ(http.Sock().LastError(), 0);
}

TEST(HttpAnswer, AnswerWithoutStatusLineGoesIntoTheDocument) {
    Peer peer({"hello world\r\nmore", " bytes"});
    THTTPClient http;
    ASSERT_TRUE(http.HTTPMethod("GET", peer.url("/")));
    EXPECT_EQ(http.ResultCode(), 0);
    EXPECT_EQ(Body(http), "hello world\r\nmore bytes");
    EXPECT_TRUE(http.Headers().empty());
}

TEST(HttpAnswer, FoldedHeaderLinesCookiesAndAStatusWithoutReason) {
    Peer peer(
        {"HTTP/1.0 200\r\nX-Long: one\r\n two\r\n\tthree\r\nSet-Cookie: a=1; path=/\r\n"
         "Content-Type: text/plain;\r\n charset=utf-8\r\nContent-Length: 1\r\n\r\nz"});
    THTTPClient http;
    http.Cookies() = {"a=0", "gone=x"};
    ASSERT_TRUE(http.HTTPMethod("GET", peer.url("/")));
    EXPECT_EQ(http.ResultCode(), 200);
    EXPECT_EQ(http.ResultString(), "");
    EXPECT_EQ(HeaderValue(http.Headers(), "X-Long"), "one two three");
    EXPECT_EQ(http.MimeType(), "text/plain; charset=utf-8");
    EXPECT_EQ(Body(http), "z");
    EXPECT_EQ(http.Cookies(), (std::vector<std::string>{"a=1", "gone=x"}));

    Peer second({"HTTP/1.0 200 OK\r\nSet-Cookie: gone=; path=/\r\n\r\n"});
    http.Clear();
    ASSERT_TRUE(http.HTTPMethod("GET", second.url("/")));
    EXPECT_NE(second.requests().at(0).find("Cookie: a=1; gone=x\r\n"), std::string::npos);
    EXPECT_EQ(http.Cookies(), (std::vector<std::string>{"a=1"}));
}

TEST(HttpAnswer, NoBodyIsReadFor204And304AndHead) {
    // The peer announces a length but sends nothing and keeps the connection: reading a
    // body would run into the time-out.
    for (const std::string status : {"204 No Content", "304 Not Modified", "200 OK"}) {
        Peer peer({"HTTP/1.0 " + status + "\r\nContent-Length: 10\r\n\r\n"}, 3s);
        THTTPClient http;
        http.SetTimeout(1000);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(http.HTTPMethod(status == "200 OK" ? "HEAD" : "GET", peer.url("/"))) << status;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms) << status;
        EXPECT_EQ(http.Document().Size(), 0);
        EXPECT_TRUE(http.BodyComplete());
        EXPECT_EQ(peer.requests().at(0).substr(0, 5), status == "200 OK" ? "HEAD " : "GET /");
    }
}

TEST(HttpAnswer, ServerThatStopsSendingTimesOut) {
    Peer peer({"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n0123456789"}, 5s);
    THTTPClient http;
    http.SetTimeout(300);
    std::vector<std::string> errors;
    http.Sock().OnStatus = [&](TBlockingSocket&, TSocketHookReason r, const std::string& v) {
        if (r == hrError) errors.push_back(v);
    };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(http.HTTPMethod("GET", peer.url("/")));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(http.ResultCode(), 200);
    EXPECT_FALSE(http.BodyComplete());
    EXPECT_EQ(http.Sock().LastError(), 10060);
    EXPECT_EQ(errors, (std::vector<std::string>{"10060,Connection timed out"}));
}

TEST(HttpAnswer, EndlessHeaderIsRefused) {
    std::string flood = "HTTP/1.0 200 OK\r\n";
    for (int i = 0; i < 3000; ++i) flood += "X-" + std::to_string(i) + ": y\r\n";
    Peer peer({flood + "\r\n"});
    THTTPClient http;
    EXPECT_FALSE(http.HTTPMethod("GET", peer.url("/")));
    EXPECT_FALSE(http.BodyComplete());
    EXPECT_EQ(http.Sock().Socket(), platform::net::kInvalidSocket);
}

// --- Connection failures -----------------------------------------------------------------

TEST(HttpConnect, RefusedPortNotificationsInOrder) {
    const std::string port = std::to_string(testsupport::FreePort());
    THTTPClient http;
    std::vector<std::pair<TSocketHookReason, std::string>> notes;
    http.Sock().OnStatus = [&](TBlockingSocket&, TSocketHookReason r, const std::string& v) {
        notes.emplace_back(r, v);
    };
    EXPECT_FALSE(http.HTTPMethod("GET", "http://127.0.0.1:" + port + "/f.zip"));
    EXPECT_EQ(http.ResultCode(), 500);
    const std::vector<std::pair<TSocketHookReason, std::string>> expected = {
        {hrSocketClose, ""},
        {hrResolvingBegin, "127.0.0.1:" + port},
        {hrResolvingEnd, "127.0.0.1:" + port},
        {hrSocketCreate, "IPv4"},
        {hrError, "10061,Connection refused"},
        {hrConnect, "127.0.0.1:" + port},
    };
    EXPECT_EQ(notes, expected);
    EXPECT_EQ(http.Sock().LastError(), 10061);
}

TEST(HttpConnect, HttpsToAServerWithoutTlsFailsAtTheHandshake) {
    Peer peer({"HTTP/1.0 200 OK\r\n\r\n"});
    THTTPClient http;
    EXPECT_FALSE(http.HTTPMethod("GET", "https://127.0.0.1:" + std::to_string(peer.port()) + "/x"));
    EXPECT_EQ(http.Sock().LastError(), 10091);
    EXPECT_EQ(http.Sock().LastErrorDesc().rfind("TLS handshake failed: ", 0), 0u)
        << http.Sock().LastErrorDesc();
    EXPECT_EQ(http.ResultCode(), 500);
    EXPECT_TRUE(http.Document().Bytes().empty());
}

TEST(HttpConnect, AbortStopsTheNextOperation) {
    Peer peer({"HTTP/1.0 200 OK\r\n\r\nbody"});
    THTTPClient http;
    http.Sock().OnStatus = [&](TBlockingSocket&, TSocketHookReason r, const std::string&) {
        if (r == hrConnect) http.Abort();
    };
    EXPECT_FALSE(http.HTTPMethod("GET", peer.url("/")));
    EXPECT_EQ(http.Sock().LastError(), 10053);
}

TEST(HttpConnect, BracketedIPv6HostOverTheIPv6Loopback) {
    const int listener = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener, 4) != 0) {
        if (listener >= 0) ::close(listener);
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    }
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string port = std::to_string(ntohs(a.sin6_port));
    std::string request;
    std::thread peer([&] {
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return;
        const int fd = ::accept(listener, nullptr, nullptr);
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const auto n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            request.append(buffer, static_cast<std::size_t>(n));
        }
        const std::string answer = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nv6";
        ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        ::shutdown(fd, SHUT_WR);
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        ::close(fd);
    });
    THTTPClient http;
    std::string created;
    http.Sock().OnStatus = [&](TBlockingSocket&, TSocketHookReason r, const std::string& v) {
        if (r == hrSocketCreate) created = v;
    };
    const bool ok = http.HTTPMethod("GET", "http://[::1]:" + port + "/six");
    peer.join();
    ::close(listener);
    ASSERT_TRUE(ok);
    EXPECT_EQ(created, "IPv6");
    EXPECT_EQ(Body(http), "v6");
    EXPECT_NE(request.find("GET /six HTTP/1.0\r\nHost: [::1]:" + port + "\r\n"), std::string::npos)
        << request;
}
