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
        site_ = std::make_unique<agenttest::ProxiedPackages>(testsupport::LoopbackHostName());
        proxy_ = std::make_unique<testsupport::TinyProxy>();
        testsupport::WriteFile(site_->www / "proxy.pac",
                               "function FindProxyForURL(url, host) {\n"
                               "  return \"PROXY " +
                                   proxy_->address() + "\";\n}\n");

        wine_ = std::make_unique<WineSession>(TRAVIK_WINDOWS_BUILD_DIR);
        const std::string der = site_->certs / "ca.der";
        testsupport::Openssl({"x509", "-in", site_->certs.ca(), "-outform", "DER", "-out", der});
        trusted_ = testsupport::Run(wine_->Options(wine_->BuildDir() + "/travik-https.exe",
                                                   {"trust", WineSession::WindowsPath(der)}),
                                    120s);
    }
    static void TearDownTestSuite() {
        wine_.reset();
        proxy_.reset();
        site_.reset();
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
                           {{"TRAVIK_DB_HOST", "127.0.0.1:" + std::to_string(site_->db->port())},
                            {"TRAVIK_START_DELAY_MS", "0"}},
                           dir.path()));
        const auto alert = wine_->User({"wait", "TravikVersoesAlert", "", "90000"});
        EXPECT_EQ(alert.exitStatus, 0) << "no alert:\n" << wine_->User({"list"}).out;
        wine_->User({"rclick", "TravikVersoesAlert", ""});
        const auto r = run.Wait(60s);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(testsupport::ReadFile(dir / "pacote.zip"),
                  testsupport::ReadFile(site_->www / "pacote.zip"));
        EXPECT_EQ(testsupport::ReadFile(dir / "seguro.zip"),
                  testsupport::ReadFile(site_->www / "seguro.zip"));
        auto requests = proxy_->Requests();
        requests.erase(requests.begin(), requests.begin() + static_cast<long>(mark));
        return requests;
    }
    static std::vector<std::string> Expected() {
        return {"GET http://" + site_->host + ":" + std::to_string(site_->web->port()) +
                    "/pacote.zip HTTP/1.0",
                "CONNECT " + site_->host + ":" + std::to_string(site_->secureWeb->port()) +
                    " HTTP/1.1"};
    }

    static inline std::unique_ptr<agenttest::ProxiedPackages> site_;
    static inline std::unique_ptr<testsupport::TinyProxy> proxy_;
    static inline std::unique_ptr<WineSession> wine_;
    static inline testsupport::ProcessResult trusted_;
};

TEST_F(WindowsProxy, TheStaticProxyOfTheInternetSettingsCarriesHttpAndHttps) {
    SetConnectionSettings(ConnectionSettings(0x3, proxy_->address(), "*.intranet.example", ""));
    EXPECT_EQ(RunAgent(), Expected());
    EXPECT_NE(site_->web->AccessLog().back().via, "");
}

TEST_F(WindowsProxy, AnAutoConfigScriptChoosesTheProxy) {
    const std::string script =
        "http://127.0.0.1:" + std::to_string(site_->web->port()) + "/proxy.pac";
    SetConnectionSettings(ConnectionSettings(0x5, "", "", script));
    EXPECT_EQ(RunAgent(), Expected());
}

}  // namespace
