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
        site_ = std::make_unique<agenttest::ProxiedPackages>(testsupport::LoopbackHostName());
        proxy_ = std::make_unique<testsupport::TinyProxy>(
            testsupport::TinyProxy::Options{"ana", "s3cr-t"});
    }
    static void TearDownTestSuite() {
        proxy_.reset();
        site_.reset();
    }

    static testsupport::ProcessResult RunThrough(const AgentFolder& agent,
                                                 const std::string& proxy) {
        return agent.Run(
            {"2000000000000", "2.0", "1", "42", agent / "p"}, site_->db->port(),
            {{"http_proxy", proxy}, {"https_proxy", proxy}, {"SSL_CERT_FILE", site_->certs.ca()}});
    }

    static inline std::unique_ptr<agenttest::ProxiedPackages> site_;
    static inline std::unique_ptr<testsupport::TinyProxy> proxy_;
};

TEST_F(AgentProxy, BothPackagesComeThroughTheProxyWithItsCredentials) {
    AgentFolder agent;
    const std::size_t mark = proxy_->Requests().size();
    const auto r = RunThrough(agent, "http://ana:s3cr%2Dt@" + proxy_->address());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, agenttest::kAlertLine);
    EXPECT_EQ(testsupport::ReadFile(agent / "pacote.zip"),
              testsupport::ReadFile(site_->www / "pacote.zip"));
    EXPECT_EQ(testsupport::ReadFile(agent / "seguro.zip"),
              testsupport::ReadFile(site_->www / "seguro.zip"));
    auto requests = proxy_->Requests();
    requests.erase(requests.begin(), requests.begin() + static_cast<long>(mark));
    ASSERT_EQ(requests.size(), 2u) << ::testing::PrintToString(requests);
    EXPECT_EQ(requests[0].rfind("GET http://", 0), 0u) << requests[0];
    EXPECT_EQ(requests[1].rfind("CONNECT ", 0), 0u) << requests[1];
    EXPECT_NE(site_->web->AccessLog().back().via, "");
}

TEST_F(AgentProxy, WrongCredentialsEndTheRunWithTheDownloadErrorAndNoDirectAttempt) {
    AgentFolder agent;
    const std::size_t mark = site_->web->AccessLog().size();
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
    EXPECT_EQ(site_->web->AccessLog().size(), mark);
}

}  // namespace
