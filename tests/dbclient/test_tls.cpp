// TLS against a real MariaDB server with a certificate made at test time: encryption
// without a CA, verification with the right CA, refusal with a CA that did not sign
// the certificate or a certificate made out to another host.
#include <gtest/gtest.h>

#include <memory>

#include "NetTestSession.h"
#include "dbclient/MysqlVio.h"
#include "testsupport/testsupport.h"
#include "tls/OpenSsl.h"

namespace {

using namespace dbclient;
using namespace tls;
using nettest::LoginOptions;
using testsupport::Run;

struct Certificates {
    std::string ca, otherCa, caFolder, cert, key;
};

Certificates* gCerts = nullptr;
testsupport::MariaDbServer* gServer = nullptr;

class TlsEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        made_ = std::make_unique<testsupport::TestCertificates>();
        const auto server = made_->Issue("127.0.0.1", "IP:127.0.0.1");
        certs_ = {made_->ca(), made_->otherCa(), *made_ / "cafolder", server.cert, server.key};
        // A CA folder in the hashed form the library looks up.
        Run({.argv = {"mkdir", certs_.caFolder}});
        Run({.argv = {"cp", certs_.ca, certs_.caFolder + "/ca.pem"}});
        testsupport::Openssl({"rehash", certs_.caFolder});
        gCerts = &certs_;

        server_ = std::make_unique<testsupport::MariaDbServer>(testsupport::MariaDbServer::Options{
            .extraArgs = {"--ssl-cert=" + certs_.cert, "--ssl-key=" + certs_.key,
                          "--ssl-ca=" + certs_.ca}});
        gServer = server_.get();
    }
    void TearDown() override {
        server_.reset();
        made_.reset();
    }

  private:
    std::unique_ptr<testsupport::TestCertificates> made_;
    Certificates certs_;
    std::unique_ptr<testsupport::MariaDbServer> server_;
};
const auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new TlsEnvironment);

// The session's TLS version as the server sees it.
std::string SslVersion(TMysqlNet& net) {
    const auto rows = nettest::Query(net, "SHOW SESSION STATUS LIKE 'Ssl_version'");
    if (!rows || rows->empty()) return "query failed: " + net.last_error();
    return rows->front().at(1).value_or("NULL");
}

TEST(Tls, LoadsTheLibrariesOnce) {
    ASSERT_TRUE(LoadOpenSSL());
    EXPECT_TRUE(OpenSSLLoaded());
    EXPECT_TRUE(LoadOpenSSL());
}

TEST(Tls, WithoutCaEveryCertificateIsAcceptedAndTheSessionIsEncrypted) {
    ASSERT_TRUE(LoadOpenSSL());
    for (const bool compress : {false, true}) {
        TMysqlNet net;
        LoginOptions options;
        options.tls = true;
        options.compress = compress;
        std::string cipher;
        ASSERT_EQ(nettest::Login(net, gServer->port(), options, &cipher), "");
        EXPECT_EQ(net.vio_type(), VIO_TYPE_SSL);
        EXPECT_FALSE(cipher.empty());
        const std::string version = SslVersion(net);
        EXPECT_TRUE(version == "TLSv1.2" || version == "TLSv1.3") << version;
        // Large answers cross many TLS records.
        const auto rows = nettest::Query(net, "SELECT REPEAT('t', 1000000)");
        ASSERT_TRUE(rows) << net.last_error();
        EXPECT_EQ(rows->at(0)[0]->size(), 1000000u);
        net.net_close();
        EXPECT_EQ(net.vio_type(), VIO_CLOSED);
    }
}

TEST(Tls, ReadsWithTimeOutsOverTheNonBlockingSocket) {
    ASSERT_TRUE(LoadOpenSSL());
    TMysqlNet net;
    net.SetNoTimeOut(false);  // the socket stays non-blocking; reads wait at most 30 s
    LoginOptions options;
    options.tls = true;
    ASSERT_EQ(nettest::Login(net, gServer->port(), options), "");
    EXPECT_EQ(net.vio().fcntl_mode() & 1, 1);
    const auto rows = nettest::Query(net, "SELECT REPEAT('n', 3000000), SLEEP(0.2)");
    ASSERT_TRUE(rows) << net.last_error();
    EXPECT_EQ(rows->at(0)[0]->size(), 3000000u);
    const std::string statement = "SELECT LENGTH('" + std::string(5000000, 'w') + "')";
    const auto length = nettest::Query(net, statement);
    ASSERT_TRUE(length) << net.last_error();
    EXPECT_EQ(length->at(0)[0], "5000000");
}

TEST(Tls, TheRightCaFileOrFolderVerifiesTheServer) {
    ASSERT_TRUE(LoadOpenSSL());
    for (const bool folder : {false, true}) {
        TMysqlNet net;
        LoginOptions options;
        options.tls = true;
        (folder ? options.capath : options.ca) = folder ? gCerts->caFolder : gCerts->ca;
        ASSERT_EQ(nettest::Login(net, gServer->port(), options), "")
            << (folder ? "folder" : "file");
        EXPECT_EQ(net.vio_type(), VIO_TYPE_SSL);
        EXPECT_NE(SslVersion(net).find("TLSv1."), std::string::npos);
    }
}

TEST(Tls, AnotherCaFailsWithTheLibrarysError) {
    ASSERT_TRUE(LoadOpenSSL());
    TMysqlNet net;
    LoginOptions options;
    options.tls = true;
    options.ca = gCerts->otherCa;
    EXPECT_EQ(nettest::Login(net, gServer->port(), options), "no TLS");
    EXPECT_FALSE(net.net_connected());
    const auto error = TakeOpenSslError();
    ASSERT_TRUE(error);
    EXPECT_NE(error->code, 0u);
    EXPECT_NE(error->text.find("certificate verify failed"), std::string::npos) << error->text;
}

TEST(Tls, AVerifiedCertificateMustNameTheHost) {
    ASSERT_TRUE(LoadOpenSSL());
    // The certificate names 127.0.0.1; the same server reached as "localhost" is refused.
    TMysqlNet net;
    ASSERT_EQ(net.net_open(VIO_TYPE_TCPIP, "localhost", "", gServer->port(), 10, true), 0);
    ASSERT_GT(net.net_safe_read(nettest::kClientFlags), 0);
    std::string start =
        std::string("\x85\xea\x03\x00", 4) + std::string(4, '\0') + '\x53' + std::string(23, '\0');
    ASSERT_EQ(net.my_net_write(start), 0);
    ASSERT_EQ(net.net_flush(), 0);
    std::string cipher;
    net.SwitchToSSL("", "", gCerts->ca, "", cipher, 10);
    EXPECT_NE(net.vio_type(), VIO_TYPE_SSL);
    EXPECT_FALSE(net.net_connected());
    const auto error = TakeOpenSslError();
    ASSERT_TRUE(error);
    EXPECT_NE(error->text.find("certificate verify failed"), std::string::npos) << error->text;
}

TEST(Tls, LibrariesStayLoadedUnderALiveSession) {
    ASSERT_TRUE(LoadOpenSSL());
    {
        TMysqlNet net;
        LoginOptions options;
        options.tls = true;
        ASSERT_EQ(nettest::Login(net, gServer->port(), options), "");
        UnloadOpenSSL();
        EXPECT_TRUE(OpenSSLLoaded());
        EXPECT_NE(SslVersion(net).find("TLSv1."), std::string::npos);
    }
    UnloadOpenSSL();
    EXPECT_FALSE(OpenSSLLoaded());
    EXPECT_FALSE(TakeOpenSslError());
    ASSERT_TRUE(LoadOpenSSL());
}

TEST(Tls, SwitchDoesNothingOnAClosedTransport) {
    ASSERT_TRUE(LoadOpenSSL());
    TMysqlVio vio;
    std::string cipher = "unchanged";
    vio.SwitchToSSL("", "", "", "", cipher, 10);
    EXPECT_EQ(vio.VIO_type(), VIO_CLOSED);
    EXPECT_EQ(cipher, "unchanged");
}

}  // namespace
