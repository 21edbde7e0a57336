// The Windows agent's https client under Wine, over the system's TLS: the test CA is
// trusted in the Wine prefix's current-user Root store, as an administrator would add a
// corporate root, and nginx serves over TLS on 127.0.0.1 with certificates made at test
// time. Driven through travik-https.exe (tests/win32/travik-https.cpp).
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include "testsupport/ScriptedServer.h"
#include "testsupport/WineSession.h"

namespace {

using namespace std::chrono_literals;
using testsupport::NginxServer;
using testsupport::NginxTls;
using testsupport::WineSession;

class WindowsHttps : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        certs_ = std::make_unique<testsupport::TestCertificates>();
        root_ = std::make_unique<testsupport::TempDir>("travik-win-https");
        std::string body(1 << 20, '\0');
        for (std::size_t i = 0; i < body.size(); ++i)
            body[i] = static_cast<char>((i * 2654435761u) >> 13);
        testsupport::WriteFile(*root_ / "pkg.bin", body);
        const auto good = certs_->Issue("127.0.0.1", "IP:127.0.0.1,DNS:localhost");
        const auto foreign = certs_->Issue("127.0.0.1", "IP:127.0.0.1", /*byOtherCa=*/true);
        const auto wrongName = certs_->Issue("wrong.example", "DNS:wrong.example");
        const NginxTls goodTls{good.cert, good.key};
        // Under /ssi/ the length is not known in advance: the body ends with the
        // connection, after the server's close notice.
        std::filesystem::create_directory(*root_ / "ssi");
        testsupport::WriteFile(*root_ / "ssi/pkg.bin", body);
        secure_ = std::make_unique<NginxServer>(
            root_->path(), "location /ssi/ { ssi on; ssi_types *; }", &goodTls);
        const NginxTls foreignTls{foreign.cert, foreign.key};
        foreign_ = std::make_unique<NginxServer>(root_->path(), "", &foreignTls);
        const NginxTls wrongNameTls{wrongName.cert, wrongName.key};
        wrongName_ = std::make_unique<NginxServer>(root_->path(), "", &wrongNameTls);
        const NginxTls oldTls{good.cert, good.key, "TLSv1.1", "DEFAULT:@SECLEVEL=0"};
        old_ = std::make_unique<NginxServer>(root_->path(), "", &oldTls);
        // Certificates refused for a cause of their own.
        const std::string san = "IP:127.0.0.1";
        const auto serve = [&](const testsupport::TestCertificates::Issued& issued) {
            const NginxTls tls{issued.cert, issued.key};
            return std::make_unique<NginxServer>(root_->path(), "", &tls);
        };
        expired_ = serve(certs_->Issue({.commonName = "127.0.0.1",
                                        .subjectAltName = san,
                                        .startDate = "200101000000Z",
                                        .endDate = "200201000000Z"}));
        notYetValid_ = serve(certs_->Issue({.commonName = "127.0.0.1",
                                            .subjectAltName = san,
                                            .startDate = "450101000000Z",
                                            .endDate = "460101000000Z"}));
        clientOnly_ = serve(certs_->Issue({.commonName = "127.0.0.1",
                                           .subjectAltName = san,
                                           .extensions = "extendedKeyUsage=clientAuth"}));
        const auto intermediate = certs_->Issue(
            {.commonName = "Travik Test Intermediate",
             .extensions = "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign"});
        noIntermediate_ = serve(certs_->Issue(
            {.commonName = "127.0.0.1", .subjectAltName = san, .issuer = &intermediate}));
        // A revocation list whose server takes the connection and ends it without an answer.
        silent_ = std::make_unique<testsupport::ScriptedServer>(
            [](testsupport::ScriptedConnection& c, int) { c.RecvAll(3s); });
        revocable_ = serve(
            certs_->Issue({.commonName = "127.0.0.1",
                           .subjectAltName = san,
                           .extensions = "crlDistributionPoints=URI:" + silent_->url("/ca.crl")}));

        wine_ = std::make_unique<WineSession>(TRAVIK_WINDOWS_BUILD_DIR);
        const std::string der = *certs_ / "ca.der";
        testsupport::Openssl({"x509", "-in", certs_->ca(), "-outform", "DER", "-out", der});
        trusted_ = Https({"trust", WineSession::WindowsPath(der)});
        good_ = good;
        wrongNameCert_ = wrongName;
    }
    static void TearDownTestSuite() {
        wine_.reset();
        revocable_.reset();
        silent_.reset();
        noIntermediate_.reset();
        clientOnly_.reset();
        notYetValid_.reset();
        expired_.reset();
        old_.reset();
        wrongName_.reset();
        foreign_.reset();
        secure_.reset();
        root_.reset();
        certs_.reset();
    }
    void SetUp() override { ASSERT_EQ(trusted_.exitStatus, 0) << trusted_.out << trusted_.err; }

    static testsupport::ProcessResult Https(const std::vector<std::string>& args) {
        return testsupport::Run(wine_->Options(wine_->BuildDir() + "/travik-https.exe", args),
                                120s);
    }
    static std::string Url(const std::string& host, const NginxServer& server) {
        return "https://" + host + ":" + std::to_string(server.port()) + "/pkg.bin";
    }

    static inline std::unique_ptr<testsupport::TestCertificates> certs_;
    static inline std::unique_ptr<testsupport::TempDir> root_;
    static inline std::unique_ptr<NginxServer> secure_, foreign_, wrongName_, old_;
    static inline std::unique_ptr<NginxServer> expired_, notYetValid_, clientOnly_, noIntermediate_,
        revocable_;
    static inline std::unique_ptr<testsupport::ScriptedServer> silent_;
    static inline std::unique_ptr<WineSession> wine_;
    static inline testsupport::ProcessResult trusted_;
    static inline testsupport::TestCertificates::Issued good_, wrongNameCert_;
    testsupport::TempDir dest_{"travik-win-https-dest"};
};

TEST_F(WindowsHttps, TransferOverSchannelIsByteExact) {
    for (const std::string host : {"127.0.0.1", "localhost"}) {
        const std::string out = dest_ / (host + ".bin");
        const auto r = Https({"get", Url(host, *secure_), WineSession::WindowsPath(out)});
        EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
        EXPECT_EQ(r.out, "Schannel\nstatus 200\n") << host;
        EXPECT_TRUE(testsupport::ReadFile(out) == testsupport::ReadFile(*root_ / "pkg.bin"))
            << host;
    }
    const auto log = secure_->AccessLog();
    EXPECT_EQ(log.size(), 2u);
    for (const auto& entry : log) EXPECT_EQ(entry.status, "200");

    const std::string out = dest_ / "ssi.bin";
    const std::string url = "https://127.0.0.1:" + std::to_string(secure_->port()) + "/ssi/pkg.bin";
    const auto r = Https({"get", url, WineSession::WindowsPath(out)});
    EXPECT_EQ(r.out, "Schannel\nstatus 200\n") << r.err;
    EXPECT_TRUE(testsupport::ReadFile(out) == testsupport::ReadFile(*root_ / "pkg.bin"));
}

TEST_F(WindowsHttps, UntrustedMisnamedOrOldServersAreRefusedWithTheCause) {
    const struct {
        NginxServer* server;
        std::string host, cause;
    } cases[] = {
        {foreign_.get(), "127.0.0.1",
         "TLS certificate rejected: unknown certificate authority or missing intermediate "
         "certificate (127.0.0.1)"},
        {wrongName_.get(), "localhost", "TLS certificate rejected: host name mismatch (localhost)"},
        {wrongName_.get(), "127.0.0.1",
         "TLS certificate rejected: IP address mismatch (127.0.0.1)"},
        {old_.get(), "127.0.0.1", "TLS handshake failed: protocol version below TLS 1.2"},
        {expired_.get(), "127.0.0.1", "TLS certificate rejected: certificate expired (127.0.0.1)"},
        {notYetValid_.get(), "127.0.0.1",
         "TLS certificate rejected: certificate not yet valid (127.0.0.1)"},
        {clientOnly_.get(), "127.0.0.1",
         "TLS certificate rejected: certificate not meant for a server (127.0.0.1)"},
        {noIntermediate_.get(), "127.0.0.1",
         "TLS certificate rejected: unknown certificate authority or missing intermediate "
         "certificate (127.0.0.1)"},
    };
    for (const auto& c : cases) {
        const std::string out = dest_ / ("refused-" + std::to_string(c.server->port()) + c.host);
        const auto r = Https({"get", Url(c.host, *c.server), WineSession::WindowsPath(out)});
        EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
        EXPECT_EQ(r.out.rfind("Schannel\nerror 10091 " + c.cause, 0), 0u) << r.out;
        EXPECT_FALSE(testsupport::PathExists(out));
        EXPECT_TRUE(c.server->AccessLog().empty()) << c.cause;
    }
}

// A revocation status that could not be learnt is no refusal. (The chain engine's wait
// for it is bounded by the transfer's time-out; Wine's waits for the server instead.)
TEST_F(WindowsHttps, ARevocationServerThatDoesNotAnswerLeavesTheStatusUnknown) {
    const std::string out = dest_ / "revocable.bin";
    const auto r =
        Https({"get", Url("127.0.0.1", *revocable_), WineSession::WindowsPath(out), "3000"});
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Schannel\nstatus 200\n") << r.err;
    EXPECT_GE(silent_->connections(), 1);
}

// A server that renegotiates once it has the request, showing a certificate the client
// would have refused at the start. Wine's TLS cannot renegotiate: the transfer ends at
// once with that cause, and nothing of the answer is taken.
TEST_F(WindowsHttps, ARenegotiationEndsTheTransferWithItsCause) {
    std::atomic<bool> renegotiated{false};
    testsupport::ScriptedServer server([&](testsupport::ScriptedConnection& c, int) {
        if (!c.StartTls(good_.cert, good_.key, /*renegotiable=*/true)) return;
        c.RecvUntil("\r\n\r\n");
        if (!c.Renegotiate(wrongNameCert_.cert, wrongNameCert_.key, 60s)) return;
        renegotiated = true;
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody");
    });
    const std::string out = dest_ / "renegotiated.bin";
    const auto r = Https(
        {"get", server.url("/pkg.bin").replace(0, 4, "https"), WineSession::WindowsPath(out)});
    EXPECT_EQ(r.out,
              "Schannel\nerror 10091 TLS handshake failed: the server asked to renegotiate the "
              "session, which the system's TLS cannot do\n")
        << r.err;
    EXPECT_FALSE(renegotiated);
    EXPECT_FALSE(testsupport::PathExists(out));
}

}  // namespace
