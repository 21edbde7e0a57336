// What only the Windows side of the platform layer does: UTF-16 paths, sharing modes
// that let the digest read a file another program holds open, a read-only file that is
// not replaced, the ANSI code page, environment variables, the UUID source and the
// registry.
#include <gtest/gtest.h>
#include <windows.h>

#include "agent/MachineIdentifier.h"
#include "dbclient/DbConnection.h"
#include "dbclient/DbErrors.h"
#include "platform/dynlib.h"
#include "platform/environment.h"
#include "platform/exception.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "platform/uuid.h"
#include "support/MD5Hasher.h"
#include "support/Md5.h"
#include "support/SettingsStore.h"
#include "testsupport/testsupport.h"

namespace fs = platform::fs;

namespace {

std::wstring Wide(const std::string& utf8) {
    const std::u16string w = platform::text::Utf8ToUtf16(utf8);
    return std::wstring(w.begin(), w.end());
}

}  // namespace

TEST(Win32Platform, PortugueseFolderAndFileNamesReachTheSystemIntact) {
    testsupport::TempDir dir;
    const std::string folder = dir.path() + "\\Atualização\\Versões\\açúcar";
    ASSERT_TRUE(fs::ForceDirectories(folder));
    EXPECT_NE(GetFileAttributesW(Wide(folder).c_str()), INVALID_FILE_ATTRIBUTES);
    const std::string file = folder + "\\pacote-ção.zip";
    {
        fs::FileStream out(file, fs::OpenMode::Create, fs::ShareMode::Exclusive);
        out.Write("abc", 3);
    }
    EXPECT_TRUE(fs::FileExists(file));
    EXPECT_EQ(fs::FileSize(file), 3);
    EXPECT_TRUE(fs::RemoveFile(file));
    EXPECT_FALSE(fs::FileExists(file));
}

TEST(Win32Platform, TheDigestReadsAFileTheHostHoldsOpenForWriting) {
    testsupport::TempDir dir;
    const std::string file = dir / "pacote.zip";
    testsupport::WriteFile(file, "abc");
    HANDLE host = CreateFileW(Wide(file).c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(host, INVALID_HANDLE_VALUE);
    support::TMD5Hasher hasher;
    hasher.HashFile(file);
    support::TMD5Digest digest;
    hasher.GetDigest(digest);
    EXPECT_EQ(support::DigestToHex(digest), "900150983CD24FB0D6963F7D28E17F72");
    // An exclusive open is refused while the host has the file.
    EXPECT_THROW(fs::FileStream(file, fs::OpenMode::ReadWrite, fs::ShareMode::Exclusive),
                 platform::EFOpenError);
    CloseHandle(host);
}

TEST(Win32Platform, AReadOnlyIniFileIsNotReplaced) {
    testsupport::TempDir dir;
    const std::string ini = dir.path() + "\\versao.ini";
    testsupport::WriteFile(ini, "[ATUALIZACAO]\r\nVERSAO=1\r\n");
    ASSERT_TRUE(SetFileAttributesW(Wide(ini).c_str(), FILE_ATTRIBUTE_READONLY));
    support::TSettingsStore store;
    store.SetPath(ini);
    try {
        store.WriteString("ATUALIZACAO", "VERSAO", "2");
        ADD_FAILURE() << "a read-only file was replaced";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"" + ini + "\". ", 0), 0u)
            << e.what();
    }
    EXPECT_EQ(testsupport::ReadFile(ini), "[ATUALIZACAO]\r\nVERSAO=1\r\n");
    SetFileAttributesW(Wide(ini).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Win32Platform, AnsiCodePageAndEnvironmentKeepPortugueseText) {
    const std::string text = "Versões de atualização";
    const std::string ansi = platform::text::Utf8ToAnsi(text);
    if (GetACP() == 1252) {
        EXPECT_EQ(ansi, "Vers\xF5" "es de atualiza\xE7\xE3o");
    }
    EXPECT_EQ(platform::text::AnsiToUtf8(ansi), text);

    ASSERT_TRUE(SetEnvironmentVariableW(L"TRAVIK_TEST_VALUE", Wide(text).c_str()));
    EXPECT_EQ(platform::EnvironmentVariable("TRAVIK_TEST_VALUE"), text);
    SetEnvironmentVariableW(L"TRAVIK_TEST_VALUE", nullptr);
    EXPECT_EQ(platform::EnvironmentVariable("TRAVIK_TEST_VALUE"), std::nullopt);
}

TEST(Win32Platform, ACharacterOutsideTheAnsiCodePageIsAnErrorNeverALookAlike) {
    ASSERT_EQ(GetACP(), 1252u);
    try {
        platform::text::Utf8ToAnsi("x＂,1); -- ＼");
        ADD_FAILURE() << "converted";
    } catch (const platform::text::EAnsiConversionError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "The ANSI code page 1252 has no character ＂ (U+FF02) of the text \"x＂,1); -- "
                  "＼\"");
    }
    for (const std::string text : {"pacote ＼ 1", "Versão \U0001F600", "ａｄｍｉｎ", "α"}) {
        EXPECT_THROW(platform::text::Utf8ToAnsi(text), platform::text::EAnsiConversionError)
            << text;
    }
    // The INI file that the host reads keeps what it held.
    testsupport::TempDir dir;
    const std::string ini = dir.path() + "\\versao.ini";
    testsupport::WriteFile(ini, "[ATUALIZACAO]\r\nVERSAO=1\r\n");
    support::TSettingsStore store;
    store.SetPath(ini);
    try {
        store.WriteString("ATUALIZACAO", "ARQUIVO", "C:\\pacote \U0001F600.zip");
        ADD_FAILURE() << "written";
    } catch (const platform::EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file \"" + ini +
                      "\". The ANSI code page 1252 has no character \U0001F600 (U+1F600) of the "
                      "text \"ARQUIVO=C:\\pacote \U0001F600.zip\"");
    }
    EXPECT_EQ(testsupport::ReadFile(ini), "[ATUALIZACAO]\r\nVERSAO=1\r\n");
}

TEST(Win32Platform, ProgramPathAndMachineIdentifier) {
    EXPECT_NE(fs::ApplicationExeName().find("\\win32_test_win32_platform.exe"), std::string::npos)
        << fs::ApplicationExeName();
    platform::SequentialUuidSource source;
    ASSERT_TRUE(source.Load());
    const std::string node = agent::NodeTextOfSequentialUuids(
        [&](platform::Uuid& uuid) { return source.Create(uuid); });
    // Empty only on a machine without a network adapter; else six upper-case hex pairs.
    if (!node.empty()) {
        EXPECT_TRUE(node.size() == 17 && node[2] == '-') << node;
    }
}

TEST(Win32Platform, SystemLibrariesNeverComeFromTheProgramsFolder) {
    // A package named like a system DLL lands in the program's folder.
    const std::string folder = fs::ExtractFilePath(fs::ApplicationExeName());
    const std::wstring planted = Wide(folder + "travik-planted.dll");
    const std::wstring system = Wide(folder + "wship6.dll");
    ASSERT_TRUE(CopyFileW(planted.c_str(), system.c_str(), FALSE));
    {
        platform::DynamicLibrary library;
        library.Load("wship6.dll");
        EXPECT_EQ(library.Symbol("TravikPlanted"), nullptr);
    }
    DeleteFileW(system.c_str());
    // A library shipped with the program is taken from there, by its full path.
    platform::DynamicLibrary shipped;
    ASSERT_TRUE(shipped.LoadShipped("travik-planted.dll"));
    EXPECT_NE(shipped.Symbol("TravikPlanted"), nullptr);
}

TEST(Win32Platform, RegistryModeStoresValuesUnderPathAndSection) {
    support::TSettingsStore store;
    store.SetPathType(support::TSettingsPathType::ptRegistry);
    store.SetPath("Software\\TravikVersoesTest");
    store.WriteString("ATUALIZACAO", "VERSAO", "Versão 2");
    EXPECT_EQ(store.ReadString("ATUALIZACAO", "VERSAO"), "Versão 2");
    store.DeleteKey("ATUALIZACAO", "VERSAO");
    EXPECT_EQ(store.ReadString("ATUALIZACAO", "VERSAO", "none"), "none");
    store.EraseSection("ATUALIZACAO");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TravikVersoesTest");
}

TEST(Win32Platform, AnEncryptedConnectionWithoutTheOpenSslDllsFailsToLoadThem) {
    dbclient::TDbConnection connection;
    connection.SetHost("127.0.0.1");
    connection.SetUserName("atualizacaodb");
    connection.SetConnectOptions({dbclient::coSSL});
    try {
        connection.SetConnected(true);
        ADD_FAILURE() << "connected without the TLS libraries";
    } catch (const dbclient::EDbError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "DBI Error Code: (1001)\r\nError load SSL Library \r\nUnknown error");
    }
    EXPECT_FALSE(connection.Connected());
}
