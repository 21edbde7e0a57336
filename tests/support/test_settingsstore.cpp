#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "platform/exception.h"
#include "platform/fs.h"
#include "support/SettingsStore.h"
#include "testsupport/testsupport.h"

using support::TSettingsFileEncoding;
using support::TSettingsStore;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const std::string kHostFile =
    "[SISTEMA]\r\n"
    "Servidor=10.0.0.5\r\n"
    "Porta=3050\r\n"
    "\r\n"
    "[ATUALIZACAO]\r\n"
    "VERSAO=1001000000000\r\n"
    "Obs=mantida\r\n"
    "\r\n"
    "[Impressora]\r\n"
    "Modelo=Bematech MP-4200\r\n"
    "\r\n";

// Runs in a child: files may not grow beyond 64 bytes, so writing the new contents
// fails half-way. Exit code 3: the create error naming the file was raised.
void WriteWithFileSizeLimit(const std::string& path) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{64, 64};
    setrlimit(RLIMIT_FSIZE, &limit);
    TSettingsStore store;
    store.SetPath(path);
    try {
        store.WriteString("ATUALIZACAO", "ARQUIVO", std::string(500, 'x'));
    } catch (const platform::EFCreateError& e) {
        const bool named =
            e.Message().rfind("Cannot create file \"" + path + "\". File too large", 0) == 0;
        std::_Exit(named ? 3 : 4);
    }
    std::_Exit(5);
}

}  // namespace

TEST(SettingsStore, NewFileHoldsTheSectionTheValuesAndOneEmptyLine) {
    TempDir dir;
    TSettingsStore store;
    store.SetPath(dir / "versao.ini");
    store.WriteString("ATUALIZACAO", "VERSAO", "1001000000001");
    EXPECT_EQ(ReadFile(dir / "versao.ini"), "[ATUALIZACAO]\r\nVERSAO=1001000000001\r\n\r\n");
    store.WriteString("ATUALIZACAO", "ARQUIVO", "/opt/travik/pacote.zip");
    EXPECT_EQ(ReadFile(dir / "versao.ini"),
              "[ATUALIZACAO]\r\nVERSAO=1001000000001\r\nARQUIVO=/opt/travik/pacote.zip\r\n\r\n");
    EXPECT_FALSE(testsupport::PathExists(dir / "versao.ini.tmp"));
}

TEST(SettingsStore, ForeignSectionsAndKeysStayByteForByteAndKeysAreReplacedInPlace) {
    TempDir dir;
    WriteFile(dir / "versao.ini", kHostFile);
    TSettingsStore store;
    store.SetPath(dir / "versao.ini");
    store.WriteString("ATUALIZACAO", "VERSAO", "1001000000000");  // same value: file unchanged
    EXPECT_EQ(ReadFile(dir / "versao.ini"), kHostFile);

    store.WriteString("ATUALIZACAO", "VERSAO", "1002000000000");
    store.WriteString("ATUALIZACAO", "ARQUIVO", "/opt/travik/v2.zip");
    std::string expected = kHostFile;
    expected.replace(expected.find("VERSAO=1001000000000"), 20, "VERSAO=1002000000000");
    expected.insert(expected.find("Obs=mantida\r\n") + 13, "ARQUIVO=/opt/travik/v2.zip\r\n");
    EXPECT_EQ(ReadFile(dir / "versao.ini"), expected);
    EXPECT_EQ(store.ReadString("sistema", "PORTA"), "3050");  // names match in any letter case
}

TEST(SettingsStore, LooseFilesAreWrittenBackInTheCanonicalForm) {
    TempDir dir;
    WriteFile(dir / "versao.ini",
              "; written by hand\n"
              "[ATUALIZACAO]\n"
              "  VERSAO = 1001000000000  \n"
              "\n\n"
              "; note\n"
              "linha sem igual\n"
              "[Outra]\r\n"
              "a=b=c\r\n");
    TSettingsStore store;
    store.SetPath(dir / "versao.ini");
    store.WriteString("atualizacao", "ARQUIVO", "x.zip");
    EXPECT_EQ(ReadFile(dir / "versao.ini"),
              "; written by hand\r\n"
              "\r\n"
              "[ATUALIZACAO]\r\n"
              "VERSAO= 1001000000000\r\n"
              "; note\r\n"
              "linha sem igual\r\n"
              "ARQUIVO=x.zip\r\n"
              "\r\n"
              "[Outra]\r\n"
              "a=b=c\r\n"
              "\r\n");
}

TEST(SettingsStore, EncodingsWriteTheirByteOrderMarksAndAreRecognisedWhenRead) {
    TempDir dir;
    const std::string path = dir / "versao.ini";
    {
        TSettingsStore store;
        store.SetPath(path);
        store.SetFileEncoding(TSettingsFileEncoding::feUTF8);
        store.WriteString("S", "Nome", "Versões");
        EXPECT_EQ(ReadFile(path),
                  "\xEF\xBB\xBF[S]\r\nNome=Vers\xC3\xB5"
                  "es\r\n\r\n");
    }
    {
        TSettingsStore store;
        store.SetPath(path);
        store.SetFileEncoding(TSettingsFileEncoding::feUnicode);
        EXPECT_EQ(store.ReadString("S", "Nome"), "Versões");
        store.WriteString("S", "K", "1");
        const std::string text = "[S]\r\nNome=Versões\r\nK=1\r\n\r\n";
        std::string expected = "\xFF\xFE";
        for (const char16_t unit : std::u16string(u"[S]\r\nNome=Versões\r\nK=1\r\n\r\n")) {
            expected += static_cast<char>(unit & 0xFF);
            expected += static_cast<char>(unit >> 8);
        }
        EXPECT_EQ(ReadFile(path), expected) << text;
    }
    {
        TSettingsStore store;  // feDefault: no mark
        store.SetPath(path);
        EXPECT_EQ(store.ReadString("S", "Nome"), "Versões");
        store.WriteString("S", "K", "2");
        EXPECT_EQ(ReadFile(path), "[S]\r\nNome=Versões\r\nK=2\r\n\r\n");
    }
    // A big-endian UTF-16 file is read too.
    static constexpr char kBigEndian[] = "\xFE\xFF\0[\0S\0]\0\r\0\n\0A\0=\0\xE7";
    WriteFile(path, std::string(kBigEndian, sizeof kBigEndian - 1));
    TSettingsStore store;
    store.SetPath(path);
    EXPECT_EQ(store.ReadString("S", "A"), "ç");
}

TEST(SettingsStore, MissingFolderFailsWithTheCreateErrorAndKeepsTheValueInMemory) {
    TempDir dir;
    const std::string path = dir / "Atualizacao_retaguarda/versao.ini";
    TSettingsStore store;
    store.SetPath(path);
    try {
        store.WriteString("ATUALIZACAO", "VERSAO", "1");
        FAIL() << "no error";
    } catch (const platform::EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file \"" + path + "\". No such file or directory");
    }
    EXPECT_FALSE(testsupport::PathExists(dir / "Atualizacao_retaguarda"));
    EXPECT_EQ(store.ReadString("ATUALIZACAO", "VERSAO"), "1");
}

TEST(SettingsStore, AFailedWriteLeavesTheOldFileWhole) {
    TempDir dir;
    const std::string path = dir / "versao.ini";
    WriteFile(path, kHostFile);
    // Something that is not a file stands where the temporary file would go.
    platform::fs::ForceDirectories(path + ".tmp");
    TSettingsStore store;
    store.SetPath(path);
    EXPECT_THROW(store.WriteString("ATUALIZACAO", "VERSAO", "2"), platform::EFCreateError);
    EXPECT_EQ(ReadFile(path), kHostFile);
}

TEST(SettingsStore, AReadOnlyFileIsLeftAsItIsAndTheWriteFails) {
    TempDir dir;
    const std::string path = dir / "versao.ini";
    WriteFile(path, kHostFile);
    std::filesystem::permissions(path, std::filesystem::perms(0444));
    TSettingsStore store;
    store.SetPath(path);
    try {
        store.WriteString("ATUALIZACAO", "VERSAO", "2");
        FAIL() << "no error";
    } catch (const platform::EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file \"" + path + "\". Permission denied");
    }
    EXPECT_EQ(ReadFile(path), kHostFile);
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0444));
    EXPECT_FALSE(testsupport::PathExists(path + ".tmp"));
}

TEST(SettingsStore, RunningOutOfSpaceInTheMiddleOfAWriteLeavesTheOldFileWhole) {
    TempDir dir;
    const std::string path = dir / "versao.ini";
    WriteFile(path, kHostFile);
    EXPECT_EXIT(WriteWithFileSizeLimit(path), ::testing::ExitedWithCode(3), "");
    EXPECT_EQ(ReadFile(path), kHostFile);
    EXPECT_FALSE(testsupport::PathExists(path + ".tmp"));
}

TEST(SettingsStore, TheSamePathDoesNotRereadTheFileAnotherOneDoes) {
    TempDir dir;
    const std::string path = dir / "versao.ini";
    TSettingsStore store;
    store.SetPath(path);
    store.WriteString("A", "k", "1");
    WriteFile(path, "[A]\r\nk=1\r\nexterno=sim\r\n\r\n");
    store.SetPath(path);
    store.WriteString("A", "j", "2");
    EXPECT_EQ(ReadFile(path), "[A]\r\nk=1\r\nj=2\r\n\r\n");

    WriteFile(path, "[A]\r\nexterno=sim\r\n\r\n");
    store.SetPath(dir / "outro.ini");
    store.SetPath(path);
    store.WriteString("A", "j", "3");
    EXPECT_EQ(ReadFile(path), "[A]\r\nexterno=sim\r\nj=3\r\n\r\n");
}

TEST(SettingsStore, AFileThatCannotBeReadFailsWithTheOpenError) {
    TempDir dir;
    const std::string path = dir / "versao.ini";
    WriteFile(path, kHostFile);
    platform::fs::FileStream holder(path, platform::fs::OpenMode::ReadWrite,
                                    platform::fs::ShareMode::Exclusive);
    TSettingsStore store;
    store.SetPath(path);
    try {
        store.WriteString("ATUALIZACAO", "VERSAO", "2");
        FAIL() << "no error";
    } catch (const platform::EFOpenError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot open file \"" + path + "\". ", 0), 0u) << e.Message();
    }
}

TEST(SettingsStore, RegistryModeIsRefusedOnThisPlatform) {
    TSettingsStore store;
    store.SetPathType(support::TSettingsPathType::ptRegistry);
    store.SetPath("Software\\Travik");
    EXPECT_THROW(store.WriteString("A", "b", "c"), platform::Exception);
}
