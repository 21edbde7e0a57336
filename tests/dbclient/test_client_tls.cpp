// The session's login over TLS against a real MariaDB server whose certificate is made
// at test time: without a CA (encryption only), with the CA that signed it, with
// another CA, and an account that requires TLS.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ClientTestSupport.h"
#include "dbclient/MysqlClient.h"
#include "testsupport/testsupport.h"
#include "tls/OpenSsl.h"

using namespace dbclient;
using namespace tls;

namespace {

// Certificates: a CA, a server certificate it signed for 127.0.0.1, and an unrelated CA.
struct Certificates {
    testsupport::TestCertificates made;
    testsupport::TestCertificates::Issued server =
        made.Issue("127.0.0.1", "IP:127.0.0.1,DNS:localhost");
};

Certificates& Certs() {
    static Certificates certs;
    return certs;
}

testsupport::MariaDbServer& Server() {
    static testsupport::MariaDbServer server({
        .extraArgs = {"--ssl-cert=" + Certs().server.cert, "--ssl-key=" + Certs().server.key,
                      "--ssl-ca=" + Certs().made.ca()},
        .initSql = "CREATE USER 'secure'@'%' IDENTIFIED BY 'tls' REQUIRE SSL;\n",
        .generalLog = false,
    });
    return server;
}

std::unique_ptr<TMysqlClient> TlsClient(const std::string& ca) {
    EXPECT_TRUE(LoadOpenSSL());
    auto client = std::make_unique<TMysqlClient>();
    client->SetUseSSL(true);
    client->SetSSLCa(ca);
    return client;
}

bool Connect(TMysqlClient& client, const std::string& user, const std::string& password) {
    return client.connect("127.0.0.1", user, password, "", Server().port(), "", true,
                          clienttest::kComponentFlags);
}

}  // namespace

TEST(ClientTls, EncryptedLoginWithoutCa) {
    auto client = TlsClient("");
    ASSERT_TRUE(Connect(*client, "secure", "tls"))
        << client->LastErrorNo() << " " << client->LastError();
    EXPECT_TRUE(client->IsSSLUsed());
    EXPECT_TRUE(client->ClientFlag() & CLIENT_SSL);
    EXPECT_FALSE(client->SSLCipher().empty());
    // The server sees the same cipher, and compression works inside TLS.
    EXPECT_EQ(clienttest::Scalar(*client,
                                 "SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS"
                                 " WHERE VARIABLE_NAME = 'SSL_CIPHER'"),
              client->SSLCipher());
    EXPECT_EQ(clienttest::Scalar(*client, "SELECT LENGTH(REPEAT('x', 100000))"), "100000");
    EXPECT_TRUE(client->ClientFlag() & CLIENT_COMPRESS);
}

TEST(ClientTls, CaThatSignedTheServerCertificate) {
    auto client = TlsClient(Certs().made.ca());
    ASSERT_TRUE(Connect(*client, "secure", "tls"))
        << client->LastErrorNo() << " " << client->LastError();
    EXPECT_TRUE(client->IsSSLUsed());
    EXPECT_EQ(clienttest::Scalar(*client, "SELECT CURRENT_USER()"), "secure@%");
}

TEST(ClientTls, OtherCaRefusesTheServer) {
    auto client = TlsClient(Certs().made.otherCa());
    EXPECT_FALSE(Connect(*client, "secure", "tls"));
    EXPECT_FALSE(client->Connected());
    EXPECT_NE(client->LastErrorNo(), 0u);
    EXPECT_EQ(client->LastError().rfind("OpenSSL error: ", 0), 0u) << client->LastError();
    EXPECT_NE(client->LastError().find("certificate verify failed"), std::string::npos)
        << client->LastError();
    // The request for TLS stays: a later attempt does not fall back to clear text.
    EXPECT_TRUE(client->UseSSL());
    EXPECT_FALSE(client->connect());
    EXPECT_FALSE(client->Connected());
}

TEST(ClientTls, AccountThatRequiresTlsRefusesClearText) {
    TMysqlClient client;
    EXPECT_FALSE(Connect(client, "secure", "tls"));
    EXPECT_EQ(client.LastErrorNo(), 1045u);
}
