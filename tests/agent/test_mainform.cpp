#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "agent/MachineIdentifier.h"
#include "agent/RunSettings.h"
#include "agent/uTravikVersoes.h"
#include "platform/exception.h"
#include "testsupport/testsupport.h"

using agent::TfTravikVersoes;
using testsupport::TempDir;

namespace {

// A main form created in an application of its own with the given arguments.
struct FormUnderTest {
    explicit FormUnderTest(std::vector<std::string> args) {
        args.insert(args.begin(), "/opt/travik/TravikVersoes");
        app.SetCommandLine(std::move(args));
        form = std::make_unique<TfTravikVersoes>(app);
    }
    platform::Application app;
    std::unique_ptr<TfTravikVersoes> form;
};

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string Trimmed(const std::string& s) {
    const auto end = s.find_last_not_of(" \n");
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

// The first adapter, in interface-index order, that is not a loopback and has a
// non-zero 6-byte address, read from sysfs; empty when there is none.
std::string FirstAdapterFromSysfs() {
    std::map<int, std::string> byIndex;
    const auto list = testsupport::Run({.argv = {"ls", "/sys/class/net"}});
    std::istringstream names(list.out);
    for (std::string name; names >> name;) {
        const std::string base = "/sys/class/net/" + name + "/";
        const int flags = std::stoi(Trimmed(testsupport::ReadFile(base + "flags")), nullptr, 16);
        if ((flags & 0x8) != 0 || Trimmed(testsupport::ReadFile(base + "addr_len")) != "6")
            continue;
        const std::string address = Upper(Trimmed(testsupport::ReadFile(base + "address")));
        if (address == "00:00:00:00:00:00") continue;
        byIndex[std::stoi(Trimmed(testsupport::ReadFile(base + "ifindex")))] =
            std::regex_replace(address, std::regex(":"), "-");
    }
    return byIndex.empty() ? std::string() : byIndex.begin()->second;
}

}  // namespace

TEST(MainForm, StartsHiddenWithItsTrayIconAndTheTimerWaiting) {
    ::unsetenv("TRAVIK_START_DELAY_MS");
    FormUnderTest t({"1001000000000", "1.0.0.0", "3", "42", "pasta"});
    EXPECT_EQ(t.app.MainForm(), t.form.get());
    EXPECT_FALSE(t.form->Visible());
    EXPECT_FALSE(t.app.ShowMainForm);
    EXPECT_TRUE(t.form->TrayIcon1.IconShown());
    EXPECT_TRUE(t.form->Timer1.Enabled());
    EXPECT_EQ(t.form->Timer1.Interval(), 5000u);
    EXPECT_EQ(t.form->Caption, "fTravikVersoes");
    EXPECT_EQ(t.form->Label1.Caption(), "Travik download de Versões");
    ASSERT_EQ(t.form->PopupMenu1.Items.size(), 3u);
    EXPECT_EQ(t.form->PopupMenu1.Items[0]->Caption, "Abrir");
    EXPECT_EQ(t.form->PopupMenu1.Items[2]->Caption, "Fechar");
}

TEST(MainForm, ArgumentsAreStoredUntrimmedAndNumbersAreDecimal32BitOrZero) {
    FormUnderTest t({" 1001000000000 ", "\t1.2.3.4", "abc", "2147483648", " C:\\pasta "});
    EXPECT_FALSE(t.form->vbAbortar);
    EXPECT_EQ(t.form->vsVersaoAtual, " 1001000000000 ");
    EXPECT_EQ(t.form->vsVersaoExecutavel, "\t1.2.3.4");
    EXPECT_EQ(t.form->viIdSistema, 0);
    EXPECT_EQ(t.form->viIdEmpresa, 0);
    EXPECT_EQ(t.form->vsPasta, " C:\\pasta ");

    const std::vector<std::pair<std::string, int>> numbers = {
        {"42", 42},
        {"-2147483648", INT_MIN},
        {"2147483647", INT_MAX},
        {"-2147483649", 0},
        {"+7", 7},
        {"  12", 12},
        {"12 ", 0},
        {"1e3", 0},
        {"0x10", 0},
        {"-", 0},
        {"007", 7},
        {"99999999999999999999", 0},
    };
    for (const auto& [text, value] : numbers) {
        FormUnderTest n({"1", "2", text, "4", "5"});
        EXPECT_EQ(n.form->viIdSistema, value) << '"' << text << '"';
        EXPECT_FALSE(n.form->vbAbortar);
    }
}

TEST(MainForm, BlankOrMissingArgumentsAbortTheRun) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"1", "2", "3", "4"},
        {"1", "2", "3", "4", ""},
        {"1", "   ", "3", "4", "5"},
        {"1", "2", "3", "\t\r\n\x01\x1f ", "5"},
        {"", "2", "3", "4", "5", "6"},
    };
    for (const auto& args : cases) {
        FormUnderTest t(args);
        EXPECT_TRUE(t.form->vbAbortar) << args.size() << " arguments";
        EXPECT_TRUE(t.form->Timer1.Enabled());
    }
    FormUnderTest extra({"1", "2", "3", "4", "5", ""});  // a sixth argument is ignored
    EXPECT_FALSE(extra.form->vbAbortar);
}

TEST(MainForm, AbortedRunCreatesNothingAndEndsTheApplication) {
    TempDir dir;
    const std::string folder = dir / "nova/pasta";
    FormUnderTest t({"1", " ", "3", "4", folder});
    t.form->vbDownloadOK = true;
    testing::internal::CaptureStdout();
    t.form->Timer1Timer(&t.form->Timer1);
    t.app.ProcessMessages();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(t.form->Timer1.Enabled());
    EXPECT_FALSE(t.form->vbDownloadOK);
    EXPECT_TRUE(t.app.Terminated());
    EXPECT_FALSE(testsupport::PathExists(dir / "nova"));
}

TEST(MainForm, MenuCommandsOpenAndCloseTheForm) {
    FormUnderTest t({});
    t.form->Abrir1.Click();
    EXPECT_TRUE(t.form->Visible());
    t.form->Fechar1.Click();
    t.app.ProcessMessages();
    EXPECT_TRUE(t.app.Terminated());
}

TEST(MainForm, FileDigestIsUpperCaseHexAndMatchesMd5sum) {
    TempDir dir;
    FormUnderTest t({});
    testsupport::WriteFile(dir / "abc", "abc");
    EXPECT_EQ(t.form->MD5Arquivo(dir / "abc"), "900150983CD24FB0D6963F7D28E17F72");
    for (const std::size_t size : {0u, 1024u, 1025u}) {
        const std::string path = dir / ("f" + std::to_string(size));
        std::string data(size, '\0');
        for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 7 + 3);
        testsupport::WriteFile(path, data);
        const auto sum = testsupport::Run({.argv = {"md5sum", path}});
        EXPECT_EQ(t.form->MD5Arquivo(path), Upper(sum.out.substr(0, 32))) << size << " bytes";
    }
    try {
        t.form->MD5Arquivo(dir / "pacote.zip");
        FAIL() << "no error";
    } catch (const platform::EFOpenError& e) {
        EXPECT_EQ(e.Message(),
                  "Cannot open file \"" + (dir / "pacote.zip") + "\". No such file or directory");
    }
}

TEST(MachineIdentifier, IsTheFirstAdapterAddressAndStable) {
    FormUnderTest t({});
    const std::string expected = FirstAdapterFromSysfs();
    const std::string first = t.form->ObterEnderecoMAC();
    EXPECT_EQ(first, expected);
    EXPECT_EQ(t.form->ObterEnderecoMAC(), first);
    if (!first.empty()) {
        EXPECT_TRUE(std::regex_match(first, std::regex("([0-9A-F]{2}-){5}[0-9A-F]{2}")));
    }
}

TEST(MachineIdentifier, FailuresAndDifferingNodesGiveTheEmptyText) {
    const auto withNode = [](std::initializer_list<std::uint8_t> node) {
        platform::Uuid uuid;
        std::copy(node.begin(), node.end(), uuid.Data4 + 2);
        return uuid;
    };
    const platform::Uuid a = withNode({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});
    const platform::Uuid b = withNode({0x0A, 0x0b, 0xc0, 0xFF, 0x01, 0x00});
    std::vector<std::pair<std::int32_t, platform::Uuid>> script;
    const auto source = [&](platform::Uuid& uuid) {
        const auto [status, value] = script.front();
        script.erase(script.begin());
        uuid = value;
        return status;
    };
    script = {{0, a}, {0, a}};
    EXPECT_EQ(agent::NodeTextOfSequentialUuids(source), "00-1A-2B-3C-4D-5E");
    script = {{0, b}, {0, b}};
    EXPECT_EQ(agent::NodeTextOfSequentialUuids(source), "0A-0B-C0-FF-01-00");
    script = {{platform::kRpcSUuidLocalOnly, a}, {0, a}};
    EXPECT_EQ(agent::NodeTextOfSequentialUuids(source), "");
    script = {{0, a}, {platform::kRpcSUuidLocalOnly, a}};
    EXPECT_EQ(agent::NodeTextOfSequentialUuids(source), "");
    script = {{0, a}, {0, b}};
    EXPECT_EQ(agent::NodeTextOfSequentialUuids(source), "");
}

TEST(RunSettings, DatabaseAddressAndStartDelayFromTheEnvironment) {
    using agent::ParseDatabaseAddress;
    EXPECT_EQ(ParseDatabaseAddress("db.travik.com.br").host, "db.travik.com.br");
    EXPECT_EQ(ParseDatabaseAddress("db.travik.com.br").port, 3306);
    EXPECT_EQ(ParseDatabaseAddress("127.0.0.1:3310").host, "127.0.0.1");
    EXPECT_EQ(ParseDatabaseAddress("127.0.0.1:3310").port, 3310);
    EXPECT_EQ(ParseDatabaseAddress("[::1]:3311").host, "::1");
    EXPECT_EQ(ParseDatabaseAddress("[::1]:3311").port, 3311);
    EXPECT_EQ(ParseDatabaseAddress("::1").port, 3306);
    for (const char* bad : {"host:", "host:0", "host:abc", "host:70000", ":3306", "[::1", ""})
        EXPECT_THROW(ParseDatabaseAddress(bad), platform::Exception) << bad;

    ::setenv("TRAVIK_DB_HOST", "10.1.2.3:3307", 1);
    EXPECT_EQ(agent::UpdateDatabaseAddress().host, "10.1.2.3");
    EXPECT_EQ(agent::UpdateDatabaseAddress().port, 3307);
    ::unsetenv("TRAVIK_DB_HOST");
    EXPECT_EQ(agent::UpdateDatabaseAddress().host,
              ParseDatabaseAddress(agent::DefaultDatabaseHost()).host);

    ::setenv("TRAVIK_START_DELAY_MS", "250", 1);
    EXPECT_EQ(agent::StartDelayMilliseconds(), 250u);
    ::setenv("TRAVIK_START_DELAY_MS", "soon", 1);
    EXPECT_EQ(agent::StartDelayMilliseconds(), 5000u);
    ::unsetenv("TRAVIK_START_DELAY_MS");
    EXPECT_EQ(agent::StartDelayMilliseconds(), 5000u);
}
