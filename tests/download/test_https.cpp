// https downloads against real nginx servers with certificates made at test time; the
// test CA is trusted through SSL_CERT_FILE, as an installation's trust store would be.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "download/Downloader.h"
#include "download/HttpClient.h"
#include "test_downloader_support.h"
#include "testsupport/ScriptedServer.h"
#include "testsupport/testsupport.h"

using namespace download;
using downloadtest::Bytes;
using downloadtest::Recorder;
using testsupport::NginxServer;
using testsupport::NginxTls;
using testsupport::PathExists;
using testsupport::ReadFile;

namespace {

constexpr std::size_t kSize = 1 << 20;

class Https : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        certs_ = std::make_unique<testsupport::TestCertificates>();
        root_ = std::make_unique<testsupport::TempDir>("travik-https-root");
        testsupport::WriteFile(*root_ / "pkg.bin", Bytes(kSize, 4));
        const auto good = certs_->Issue("127.0.0.1", "IP:127.0.0.1,DNS:localhost");
        const auto foreign = certs_->Issue("127.0.0.1", "IP:127.0.0.1", /*byOtherCa=*/true);
        const auto wrongName = certs_->Issue("wrong.example", "DNS:wrong.example");
        plain_ = std::make_unique<NginxServer>(root_->path());
        const NginxTls tls{good.cert, good.key};
        secure_ = std::make_unique<NginxServer>(
            root_->path(), "location = /to-plain { return 302 " + plain_->url("/pkg.bin") + "; }",
            &tls);
        redirector_ =
            std::make_unique<NginxServer>(root_->path(), "location = /to-secure { return 302 " +
                                                             secure_->url("/pkg.bin") + "; }");
        const NginxTls foreignTls{foreign.cert, foreign.key};
        foreign_ = std::make_unique<NginxServer>(root_->path(), "", &foreignTls);
        const NginxTls wrongNameTls{wrongName.cert, wrongName.key};
        wrongName_ = std::make_unique<NginxServer>(root_->path(), "", &wrongNameTls);
        const NginxTls oldTls{good.cert, good.key, "TLSv1.1", "DEFAULT:@SECLEVEL=0"};
        old_ = std::make_unique<NginxServer>(root_->path(), "", &oldTls);
        ::setenv("SSL_CERT_FILE", certs_->ca().c_str(), 1);
        good_ = good;
        wrongNameCert_ = wrongName;
    }
    static void TearDownTestSuite() {
        ::unsetenv("SSL_CERT_FILE");
        old_.reset();
        wrongName_.reset();
        foreign_.reset();
        redirector_.reset();
        secure_.reset();
        plain_.reset();
        root_.reset();
        certs_.reset();
    }

    void Fetch(const std::string& url) {
        d.SetDownloadDest(dest.path());
        d.SetDownloadUrl(url);
        d.SetDownloadNomeArq("pkg.bin");
        d.StartDownload();
    }
    std::string Target() const { return dest / "pkg.bin"; }

    static inline std::unique_ptr<testsupport::TestCertificates> certs_;
    static inline std::unique_ptr<testsupport::TempDir> root_;
    static inline std::unique_ptr<NginxServer> plain_, secure_, redirector_, foreign_, wrongName_,
        old_;
    static inline testsupport::TestCertificates::Issued good_, wrongNameCert_;
    testsupport::TempDir dest{"travik-https-dest"};
    TDownloader d;
    Recorder rec{d};
};

TEST_F(Https, TransferIsByteExactAndAKeptConnectionIsReused) {
    Fetch(secure_->url("/pkg.bin"));
    EXPECT_TRUE(ReadFile(Target()) == Bytes(kSize, 4));
    EXPECT_FALSE(PathExists(Target() + ".part"));
    EXPECT_EQ(secure_->AccessLog().back().status, "200");

    // Two requests over one TLS session (HTTP/1.1 keeps the connection), by name.
    THTTPClient http;
    http.SetProtocol("1.1");
    int sockets = 0;
    http.Sock().OnStatus = [&](TBlockingSocket&, TSocketHookReason r, const std::string&) {
        sockets += r == hrSocketCreate;
    };
    const std::string url = "https://localhost:" + std::to_string(secure_->port()) + "/pkg.bin";
    for (int i = 0; i < 2; ++i) {
        http.Clear();
        ASSERT_TRUE(http.HTTPMethod("GET", url)) << http.Sock().LastErrorDesc();
        EXPECT_EQ(http.ResultCode(), 200);
        EXPECT_EQ(http.Document().Size(), std::int64_t{kSize});
        EXPECT_TRUE(http.Document().Bytes() == Bytes(kSize, 4));
    }
    EXPECT_EQ(sockets, 1);
}

TEST_F(Https, WorkingFileIsResumedWithARange) {
    const std::string whole = Bytes(kSize, 4);
    testsupport::WriteFile(Target() + ".part", whole.substr(0, 100000));
    Fetch(secure_->url("/pkg.bin"));
    EXPECT_TRUE(ReadFile(Target()) == whole);
    const auto last = secure_->AccessLog().back();
    EXPECT_EQ(last.range, "bytes=100000-");
    EXPECT_EQ(last.status, "206");
}

TEST_F(Https, RedirectsToHttpsAreFollowedAndToPlainHttpRefused) {
    Fetch(redirector_->url("/to-secure"));
    EXPECT_TRUE(ReadFile(Target()) == Bytes(kSize, 4));

    std::filesystem::remove(Target());
    const std::size_t plainRequests = plain_->AccessLog().size();
    Fetch(secure_->url("/to-plain"));
    EXPECT_FALSE(PathExists(Target()));
    EXPECT_EQ(plain_->AccessLog().size(), plainRequests);  // nothing asked in clear text
    EXPECT_EQ(secure_->AccessLog().back().status, "302");
}

TEST_F(Https, UntrustedOrOldServersEndTheAttemptWithTheCause) {
    const struct {
        NginxServer* server;
        std::string host, cause;
    } cases[] = {
        {foreign_.get(), "127.0.0.1",
         "TLS certificate rejected: unable to get local issuer certificate"},
        {wrongName_.get(), "localhost", "TLS certificate rejected: hostname mismatch"},
        {wrongName_.get(), "127.0.0.1", "TLS certificate rejected: IP address mismatch"},
        {old_.get(), "127.0.0.1", "TLS handshake failed: tlsv1 alert protocol version"},
    };
    for (const auto& c : cases) {
        const std::string url =
            "https://" + c.host + ":" + std::to_string(c.server->port()) + "/pkg.bin";
        THTTPClient http;
        std::string errorNote;
        http.Sock().OnStatus = [&](TBlockingSocket&, TSocketHookReason r, const std::string& v) {
            if (r == hrError) errorNote = v;
        };
        EXPECT_FALSE(http.HTTPMethod("GET", url));
        EXPECT_EQ(http.Sock().LastError(), 10091);
        EXPECT_EQ(http.Sock().LastErrorDesc().rfind(c.cause, 0), 0u) << http.Sock().LastErrorDesc();
        EXPECT_EQ(errorNote, "10091," + http.Sock().LastErrorDesc());

        // The component keeps nothing: no target, and the working file holds no byte.
        Fetch(url);
        EXPECT_FALSE(PathExists(Target())) << c.cause;
        EXPECT_EQ(ReadFile(Target() + ".part"), "") << c.cause;
        EXPECT_TRUE(c.server->AccessLog().empty()) << c.cause;
    }
}

// A server that renegotiates once it has the request: the new handshake is verified like
// the first, so the same certificate lets the answer through and one for another name
// ends the attempt with its cause.
TEST_F(Https, ARenegotiationIsVerifiedLikeTheFirstHandshake) {
    for (const auto* second : {&good_, &wrongNameCert_}) {
        testsupport::ScriptedServer server([&](testsupport::ScriptedConnection& c, int) {
            if (!c.StartTls(good_.cert, good_.key, /*renegotiable=*/true)) return;
            c.RecvUntil("\r\n\r\n");
            if (c.Renegotiate(second->cert, second->key))
                c.Send("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody");
        });
        THTTPClient http;
        const bool ok = http.HTTPMethod("GET", server.url("/pkg.bin").replace(0, 4, "https"));
        if (second == &good_) {
            EXPECT_TRUE(ok) << http.Sock().LastErrorDesc();
            EXPECT_EQ(http.Document().Bytes(), "body");
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(http.Sock().LastErrorDesc(),
                      "TLS certificate rejected: IP address mismatch (127.0.0.1)");
        }
    }
}

TEST(HttpsLayer, WithoutTlsEveryOperationFailsWithItsText) {
    TSecureLayerNone none;
    EXPECT_FALSE(none.Connect(platform::net::kInvalidSocket));
    EXPECT_EQ(none.LastError(), -1);
    EXPECT_EQ(none.LastErrorDesc(), "SSL/TLS support is not compiled!");
    EXPECT_EQ(none.LibVersion(), "Without SSL support");
}

}  // namespace
