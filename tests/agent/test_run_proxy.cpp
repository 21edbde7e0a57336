// The real agent on a network that reaches the web only through a proxy (a private
// tinyproxy asking for Basic credentials), set up the way command-line HTTP tools are:
// http_proxy and https_proxy. The packages are named by this machine's host name.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "AgentRun.h"

namespace {

using agenttest::AgentFolder;

class AgentProxy : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const std::string host = testsupport::LoopbackHostName();
        www_ = std::make_unique<testsupport::TempDir>("travik-www");
        testsupport::WriteFile(*www_ / "pacote.zip", std::string(300000, 'p') + "fim");
        testsupport::WriteFile(*www_ / "seguro.zip", std::string(200000, 's') + "fim");
        certs_ = std::make_unique<testsupport::TestCertificates>();
        const auto issued = certs_->Issue(host, "DNS:" + host);
        const testsupport::NginxTls tls{issued.cert, issued.key};
        web_ = std::make_unique<testsupport::NginxServer>(www_->path());
        secureWeb_ = std::make_unique<testsupport::NginxServer>(www_->path(), "", &tls);
        proxy_ = std::make_unique<testsupport::TinyProxy>(
            testsupport::TinyProxy::Options{"ana", "s3cr-t"});
        const auto link = [&](const std::string& scheme, const testsupport::NginxServer& s,
                              const std::string& name) {
            return scheme + "://" + host + ":" + std::to_string(s.port()) + "/" + name;
        };
        // For every client the http package, for client 42 the https one.
        std::string rows;
        rows += agenttest::InsertVersion({1, 1, 0, 3, 0, 0, 0, link("http", *web_, "pacote.zip"),
                                          agenttest::Md5Sum(*www_ / "pacote.zip"), "pacote.zip"});
        rows += agenttest::InsertVersion({2, 1, 42, 3, 0, 0, 1,
                                          link("https", *secureWeb_, "seguro.zip"),
                                          agenttest::Md5Sum(*www_ / "seguro.zip"), "seguro.zip"});
        db_ = agenttest::StartUpdateDatabase(rows);
    }
    static void TearDownTestSuite() {
        db_.reset();
        proxy_.reset();
        secureWeb_.reset();
        web_.reset();
        certs_.reset();
        www_.reset();
    }

    static testsupport::ProcessResult RunThrough(const AgentFolder& agent,
                                                 const std::string& proxy) {
        return agent.Run(
            {"2000000000000", "2.0", "1", "42", agent / "p"}, db_->port(),
            {{"http_proxy", proxy}, {"https_proxy", proxy}, {"SSL_CERT_FILE", certs_->ca()}});
    }

    static inline std::unique_ptr<testsupport::TempDir> www_;
    static inline std::unique_ptr<testsupport::TestCertificates> certs_;
    static inline std::unique_ptr<testsupport::NginxServer> web_, secureWeb_;
    static inline std::unique_ptr<testsupport::TinyProxy> proxy_;
    static inline std::unique_ptr<testsupport::MariaDbServer> db_;
};

TEST_F(AgentProxy, BothPackagesComeThroughTheProxyWithItsCredentials) {
    AgentFolder agent;
    const std::size_t mark = proxy_->Requests().size();
    const auto r = RunThrough(agent, "http://ana:s3cr%2Dt@" + proxy_->address());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, agenttest::kAlertLine);
    EXPECT_EQ(testsupport::ReadFile(agent / "pacote.zip"),
              testsupport::ReadFile(*www_ / "pacote.zip"));
    EXPECT_EQ(testsupport::ReadFile(agent / "seguro.zip"),
              testsupport::ReadFile(*www_ / "seguro.zip"));
    auto requests = proxy_->Requests();
    requests.erase(requests.begin(), requests.begin() + static_cast<long>(mark));
    ASSERT_EQ(requests.size(), 2u) << ::testing::PrintToString(requests);
    EXPECT_EQ(requests[0].rfind("GET http://", 0), 0u) << requests[0];
    EXPECT_EQ(requests[1].rfind("CONNECT ", 0), 0u) << requests[1];
    EXPECT_NE(web_->AccessLog().back().via, "");
}

TEST_F(AgentProxy, WrongCredentialsEndTheRunWithTheDownloadErrorAndNoDirectAttempt) {
    AgentFolder agent;
    const std::size_t mark = web_->AccessLog().size();
    const auto r = RunThrough(agent, "http://ana:errada@" + proxy_->address());
    EXPECT_EQ(r.exitStatus, 1);
    // The proxy's refusal, with the proxy named.
    EXPECT_EQ(r.err.rfind("Erro ao fazer o download do arquivo pacote.zip\nMotivo: o servidor "
                          "respondeu 401 Unauthorized (http://",
                          0),
              0u)
        << r.err;
    EXPECT_TRUE(r.err.ends_with(", pelo proxy " + proxy_->address() + ")\n")) << r.err;
    EXPECT_FALSE(testsupport::PathExists(agent / "pacote.zip"));
    EXPECT_FALSE(testsupport::PathExists(agent.Ini()));
    EXPECT_EQ(web_->AccessLog().size(), mark);
}

}  // namespace
