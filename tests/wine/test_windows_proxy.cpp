// The Windows agent under Wine on a network set up for a proxy in the user's Internet
// Settings, which WinHTTP reads from the binary value DefaultConnectionSettings: a static
// proxy (a private tinyproxy), then an auto-config script (PAC) served by nginx. Both
// packages of the run, one http and one https, must come through the proxy. The packages
// are named by this machine's host name (loopback names always go direct).
#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "../agent/AgentRun.h"
#include "testsupport/WineSession.h"

namespace {

using namespace std::chrono_literals;
using testsupport::WineSession;

// DefaultConnectionSettings as the Internet Options write it: a version, a counter, the
// flags (1 direct, 2 static proxy, 4 auto-config script, 8 auto-detect), then the proxy,
// the bypass list and the script URL, each as a 32-bit length and its characters.
std::string ConnectionSettings(std::uint32_t flags, const std::string& proxy,
                               const std::string& bypass, const std::string& script) {
    std::string bytes;
    const auto word = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    word(0x46);
    word(1);
    word(flags);
    for (const auto* text : {&proxy, &bypass, &script}) {
        word(static_cast<std::uint32_t>(text->size()));
        bytes += *text;
    }
    bytes += std::string(32, '\0');
    std::string hex;
    for (const unsigned char c : bytes) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", c);
        hex += two;
    }
    return hex;
}

class WindowsProxy : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        host_ = testsupport::LoopbackHostName();
        www_ = std::make_unique<testsupport::TempDir>("travik-win-proxy");
        testsupport::WriteFile(*www_ / "pacote.zip", std::string(300000, 'p') + "fim");
        testsupport::WriteFile(*www_ / "seguro.zip", std::string(200000, 's') + "fim");
        certs_ = std::make_unique<testsupport::TestCertificates>();
        const auto issued = certs_->Issue(host_, "DNS:" + host_);
        const testsupport::NginxTls tls{issued.cert, issued.key};
        web_ = std::make_unique<testsupport::NginxServer>(www_->path());
        secureWeb_ = std::make_unique<testsupport::NginxServer>(www_->path(), "", &tls);
        proxy_ = std::make_unique<testsupport::TinyProxy>();
        testsupport::WriteFile(*www_ / "proxy.pac",
                               "function FindProxyForURL(url, host) {\n"
                               "  return \"PROXY " +
                                   proxy_->address() + "\";\n}\n");
        const auto link = [&](const std::string& scheme, const testsupport::NginxServer& s,
                              const std::string& name) {
            return scheme + "://" + host_ + ":" + std::to_string(s.port()) + "/" + name;
        };
        std::string rows;
        rows += agenttest::InsertVersion({1, 1, 0, 3, 0, 0, 0, link("http", *web_, "pacote.zip"),
                                          agenttest::Md5Sum(*www_ / "pacote.zip"), "pacote.zip"});
        rows += agenttest::InsertVersion({2, 1, 42, 3, 0, 0, 1,
                                          link("https", *secureWeb_, "seguro.zip"),
                                          agenttest::Md5Sum(*www_ / "seguro.zip"), "seguro.zip"});
        db_ = std::make_unique<testsupport::MariaDbServer>(
            testsupport::MariaDbServer::Options{.initSql = agenttest::UpdateDatabaseSql(rows)});

        wine_ = std::make_unique<WineSession>(TRAVIK_WINDOWS_BUILD_DIR);
        const std::string der = *certs_ / "ca.der";
        testsupport::Openssl({"x509", "-in", certs_->ca(), "-outform", "DER", "-out", der});
        trusted_ = testsupport::Run(wine_->Options(wine_->BuildDir() + "/travik-https.exe",
                                                   {"trust", WineSession::WindowsPath(der)}),
                                    120s);
    }
    static void TearDownTestSuite() {
        wine_.reset();
        db_.reset();
        proxy_.reset();
        secureWeb_.reset();
        web_.reset();
        certs_.reset();
        www_.reset();
    }
    void SetUp() override { ASSERT_EQ(trusted_.exitStatus, 0) << trusted_.out << trusted_.err; }

    static void SetConnectionSettings(const std::string& hex) {
        auto reg = wine_->Options("", {});
        reg.argv = {"wine",
                    "reg",
                    "add",
                    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet "
                    "Settings\\Connections",
                    "/v",
                    "DefaultConnectionSettings",
                    "/t",
                    "REG_BINARY",
                    "/d",
                    hex,
                    "/f"};
        const auto r = testsupport::Run(reg, 60s);
        ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
    }

    // One update run of the Windows agent for client 42: both packages, then the alert,
    // which a right click closes. Gives the proxy's requests of the run.
    static std::vector<std::string> RunAgent() {
        testsupport::TempDir dir("travik-win-agent");
        std::filesystem::copy_file(std::string(TRAVIK_WINDOWS_BUILD_DIR) + "/TravikVersoes.exe",
                                   dir / "TravikVersoes.exe");
        std::filesystem::create_directory(dir / "Atualizacao_retaguarda");
        const std::size_t mark = proxy_->Requests().size();
        testsupport::Process run(
            wine_->Options(dir / "TravikVersoes.exe",
                           {"2000000000000", "2.0", "1", "42", WineSession::WindowsPath(dir / "p")},
                           {{"TRAVIK_DB_HOST", "127.0.0.1:" + std::to_string(db_->port())},
                            {"TRAVIK_START_DELAY_MS", "0"}},
                           dir.path()));
        const auto alert = wine_->User({"wait", "TravikVersoesAlert", "", "90000"});
        EXPECT_EQ(alert.exitStatus, 0) << "no alert:\n" << wine_->User({"list"}).out;
        wine_->User({"rclick", "TravikVersoesAlert", ""});
        const auto r = run.Wait(60s);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(testsupport::ReadFile(dir / "pacote.zip"),
                  testsupport::ReadFile(*www_ / "pacote.zip"));
        EXPECT_EQ(testsupport::ReadFile(dir / "seguro.zip"),
                  testsupport::ReadFile(*www_ / "seguro.zip"));
        auto requests = proxy_->Requests();
        requests.erase(requests.begin(), requests.begin() + static_cast<long>(mark));
        return requests;
    }
    static std::vector<std::string> Expected() {
        return {"GET http://" + host_ + ":" + std::to_string(web_->port()) + "/pacote.zip HTTP/1.0",
                "CONNECT " + host_ + ":" + std::to_string(secureWeb_->port()) + " HTTP/1.1"};
    }

    static inline std::string host_;
    static inline std::unique_ptr<testsupport::TempDir> www_;
    static inline std::unique_ptr<testsupport::TestCertificates> certs_;
    static inline std::unique_ptr<testsupport::NginxServer> web_, secureWeb_;
    static inline std::unique_ptr<testsupport::TinyProxy> proxy_;
    static inline std::unique_ptr<testsupport::MariaDbServer> db_;
    static inline std::unique_ptr<WineSession> wine_;
    static inline testsupport::ProcessResult trusted_;
};

TEST_F(WindowsProxy, TheStaticProxyOfTheInternetSettingsCarriesHttpAndHttps) {
    SetConnectionSettings(ConnectionSettings(0x3, proxy_->address(), "*.intranet.example", ""));
    EXPECT_EQ(RunAgent(), Expected());
    EXPECT_NE(web_->AccessLog().back().via, "");
}

TEST_F(WindowsProxy, AnAutoConfigScriptChoosesTheProxy) {
    const std::string script = "http://127.0.0.1:" + std::to_string(web_->port()) + "/proxy.pac";
    SetConnectionSettings(ConnectionSettings(0x5, "", "", script));
    EXPECT_EQ(RunAgent(), Expected());
}

}  // namespace
