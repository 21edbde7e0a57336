// Transfers through a real tinyproxy chosen by the environment: http in the proxy form,
// https through a CONNECT tunnel, Basic credentials, no_proxy, a proxy that refuses
// connections, and resume. The origins are named by this machine's host name (loopback
// names and addresses always go direct), and the https origin's certificate names it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "download/Downloader.h"
#include "download/HTTPDownloadWorker.h"
#include "test_downloader_support.h"
#include "testsupport/testsupport.h"

using namespace download;
using downloadtest::Bytes;
using downloadtest::Recorder;
using testsupport::NginxServer;
using testsupport::PathExists;
using testsupport::ReadFile;
using testsupport::TinyProxy;

namespace {

constexpr std::size_t kSize = 300000;

class Proxy : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        host_ = testsupport::LoopbackHostName();
        certs_ = std::make_unique<testsupport::TestCertificates>();
        root_ = std::make_unique<testsupport::TempDir>("travik-proxy-root");
        testsupport::WriteFile(*root_ / "pkg.bin", Bytes(kSize, 5));
        const auto cert = certs_->Issue(host_, "DNS:" + host_);
        const testsupport::NginxTls tls{cert.cert, cert.key};
        secure_ = std::make_unique<NginxServer>(root_->path(), "", &tls);
        plain_ = std::make_unique<NginxServer>(
            root_->path(), "location = /to-secure { return 302 " + Url(*secure_, "https") + "; }");
        open_ = std::make_unique<TinyProxy>();
        guarded_ = std::make_unique<TinyProxy>(TinyProxy::Options{"ana", "s3cr-t"});
        ::setenv("SSL_CERT_FILE", certs_->ca().c_str(), 1);
    }
    static void TearDownTestSuite() {
        ::unsetenv("SSL_CERT_FILE");
        guarded_.reset();
        open_.reset();
        plain_.reset();
        secure_.reset();
        root_.reset();
        certs_.reset();
    }
    void TearDown() override {
        for (const char* name : {"http_proxy", "https_proxy", "no_proxy"}) ::unsetenv(name);
    }

    static std::string Url(const NginxServer& server, const std::string& scheme,
                           const std::string& path = "/pkg.bin") {
        return scheme + "://" + host_ + ":" + std::to_string(server.port()) + path;
    }
    static void UseProxy(const std::string& value) {
        ::setenv("http_proxy", value.c_str(), 1);
        ::setenv("https_proxy", value.c_str(), 1);
    }
    void Fetch(const std::string& url) {
        d.SetDownloadDest(dest.path());
        d.SetDownloadUrl(url);
        d.SetDownloadNomeArq("pkg.bin");
        d.StartDownload();
    }
    std::string Target() const { return dest / "pkg.bin"; }
    // The last error text of the transfer's connection.
    std::string LastError() {
        auto& sock = dynamic_cast<THTTPDownloadWorker&>(d.Down()).HTTPClient().Sock();
        return std::to_string(sock.LastError()) + " " + sock.LastErrorDesc();
    }

    static inline std::string host_;
    static inline std::unique_ptr<testsupport::TestCertificates> certs_;
    static inline std::unique_ptr<testsupport::TempDir> root_;
    static inline std::unique_ptr<NginxServer> secure_, plain_;
    static inline std::unique_ptr<TinyProxy> open_, guarded_;
    testsupport::TempDir dest{"travik-proxy-dest"};
    TDownloader d;
    Recorder rec{d};
};

TEST_F(Proxy, HttpInTheProxyFormAndHttpsThroughATunnelEachHopDecidedAgain) {
    ::setenv("http_proxy", open_->address().c_str(), 1);
    ::setenv("https_proxy", ("http://" + open_->address()).c_str(), 1);
    Fetch(Url(*plain_, "http"));
    EXPECT_TRUE(ReadFile(Target()) == Bytes(kSize, 5));
    const auto forwarded = plain_->AccessLog().back();
    EXPECT_EQ(forwarded.status, "200");
    EXPECT_NE(forwarded.via.find("tinyproxy"), std::string::npos) << forwarded.via;

    // A redirect to https: the second hop goes through the tunnel.
    std::filesystem::remove(Target());
    Fetch(Url(*plain_, "http", "/to-secure"));
    EXPECT_TRUE(ReadFile(Target()) == Bytes(kSize, 5));
    EXPECT_EQ(secure_->AccessLog().back().status, "200");
    const std::string origin = host_ + ":" + std::to_string(plain_->port());
    const std::string secure = host_ + ":" + std::to_string(secure_->port());
    EXPECT_EQ(open_->Requests(), (std::vector<std::string>{
                                     "GET http://" + origin + "/pkg.bin HTTP/1.0",
                                     "GET http://" + origin + "/to-secure HTTP/1.0",
                                     "CONNECT " + secure + " HTTP/1.1",
                                 }));
}

TEST_F(Proxy, CredentialsPassAndMissingOrWrongOnesEndWithTheProxysAnswer) {
    const std::size_t plainMark = plain_->AccessLog().size();
    const std::size_t secureMark = secure_->AccessLog().size();
    const std::string proxy = " (" + guarded_->address() + ")";
    const struct {
        std::string value, scheme, error;
    } refused[] = {
        {guarded_->address(), "http",
         "10061 Proxy refused the request: 407 Proxy Authentication Required" + proxy},
        {guarded_->address(), "https",
         "10061 Proxy refused the tunnel: 407 Proxy Authentication Required" + proxy},
        {"http://ana:wrong@" + guarded_->address(), "http",
         "10061 Proxy refused the request: 401 Unauthorized" + proxy},
        {"http://ana:wrong@" + guarded_->address(), "https",
         "10061 Proxy refused the tunnel: 401 Unauthorized" + proxy},
    };
    for (const auto& c : refused) {
        UseProxy(c.value);
        Fetch(Url(c.scheme == "http" ? *plain_ : *secure_, c.scheme));
        EXPECT_EQ(LastError(), c.error);
        EXPECT_FALSE(PathExists(Target())) << c.error;
        EXPECT_EQ(ReadFile(Target() + ".part"), "") << c.error;
    }
    // No attempt went around the proxy.
    EXPECT_EQ(plain_->AccessLog().size(), plainMark);
    EXPECT_EQ(secure_->AccessLog().size(), secureMark);

    UseProxy("http://ana:s3cr%2Dt@" + guarded_->address());
    for (const char* scheme : {"http", "https"}) {
        std::filesystem::remove(Target());
        Fetch(Url(std::string(scheme) == "http" ? *plain_ : *secure_, scheme));
        EXPECT_TRUE(ReadFile(Target()) == Bytes(kSize, 5)) << scheme;
    }
}

TEST_F(Proxy, NoProxyGoesDirectAndARefusingProxyIsNotBypassed) {
    UseProxy("127.0.0.1:" + std::to_string(testsupport::FreePort()));
    const std::size_t mark = plain_->AccessLog().size();
    for (const char* scheme : {"http", "https"}) {
        Fetch(Url(std::string(scheme) == "http" ? *plain_ : *secure_, scheme));
        EXPECT_EQ(LastError(), "10061 Can't connect to proxy " +
                                   std::string(::getenv("http_proxy")) + " (Connection refused)");
        EXPECT_FALSE(PathExists(Target()));
    }
    EXPECT_EQ(plain_->AccessLog().size(), mark);

    ::setenv("no_proxy", ("example.com,." + host_).c_str(), 1);
    Fetch(Url(*plain_, "http"));
    EXPECT_TRUE(ReadFile(Target()) == Bytes(kSize, 5));
    EXPECT_EQ(plain_->AccessLog().back().via, "");
}

TEST_F(Proxy, WorkingFileIsResumedThroughTheProxy) {
    UseProxy(open_->address());
    const std::string whole = Bytes(kSize, 5);
    testsupport::WriteFile(Target() + ".part", whole.substr(0, 100000));
    Fetch(Url(*plain_, "http"));
    EXPECT_TRUE(ReadFile(Target()) == whole);
    const auto last = plain_->AccessLog().back();
    EXPECT_EQ(last.range, "bytes=100000-");
    EXPECT_EQ(last.status, "206");
    EXPECT_NE(last.via, "");
}

}  // namespace
