// The agent's own rules: statement texts, argument and file-name checks, the composite
// version number, the progress bar model and the status texts.
#include <gtest/gtest.h>

#include <string>

#include "agent/CompositeVersion.h"
#include "agent/MessageText.h"
#include "agent/PackageName.h"
#include "agent/PackageSignature.h"
#include "agent/ProgressBar.h"
#include "agent/RegistryStatements.h"
#include "agent/RunOutcome.h"
#include "agent/StatusText.h"
#include "dbclient/SqlEscape.h"
#include "platform/exception.h"

namespace {

std::string MessageOf(void (*check)(const std::string&), const std::string& value) {
    try {
        check(value);
    } catch (const platform::Exception& e) {
        return e.Message();
    }
    return "";
}

TEST(RegistryStatements, OrdinaryTextsGiveTheStatementsByteForByte) {
    EXPECT_EQ(agent::ReplaceControleVersaoStatement(42, "1.0.3.7", "00-1A-2B-3C-4D-5E", 7),
              "REPLACE INTO controle_versao (codigo_cliente, versao, cpu, id_sistema, "
              "data_hora_atualizacao) VALUES  (42, \"1.0.3.7\",\"00-1A-2B-3C-4D-5E\", 7, now()); ");
    EXPECT_EQ(agent::ReplaceControleVersaoStatement(-3, "", "", 0),
              "REPLACE INTO controle_versao (codigo_cliente, versao, cpu, id_sistema, "
              "data_hora_atualizacao) VALUES  (-3, \"\",\"\", 0, now()); ");
    const std::string select =
        "SELECT *,CONCAT(v_major,LPAD(v_minor,4,0),LPAD(v_release,4,0),LPAD(v_build,4,0)) "
        "vl_versao FROM versao WHERE id_sistema = 7 AND CAST(CONCAT(v_major,LPAD(v_minor,4,0),"
        "LPAD(v_release,4,0),LPAD(v_build,4,0))AS SIGNED) > 2000100000015";
    EXPECT_EQ(agent::SelectVersaoGeralStatement(7, "2000100000015"),
              select + " AND codigo_cliente = 0  ORDER BY id DESC ");
    EXPECT_EQ(agent::SelectVersaoClienteStatement(7, "2000100000015", 42),
              select + " AND codigo_cliente = 42 ORDER BY id ASC ");
}

TEST(RegistryStatements, HostileTextsStayInsideTheirLiterals) {
    const std::string hostile = "1\", \"x\", 0, now()); DROP TABLE versao; -- \\ '\n\r";
    const std::string sql = agent::ReplaceControleVersaoStatement(1, hostile, "a\"b", 2);
    EXPECT_EQ(sql,
              "REPLACE INTO controle_versao (codigo_cliente, versao, cpu, id_sistema, "
              "data_hora_atualizacao) VALUES  (1, \"1\\\", \\\"x\\\", 0, now()); DROP TABLE "
              "versao; -- \\\\ \\'\\n\\r\",\"a\\\"b\", 2, now()); ");
    EXPECT_EQ(sql.find('\n'), std::string::npos);
}

TEST(RunOutcome, TheMessageIsCutAtAThousandCharactersNeverInsideOne) {
    const std::string ao = "\xC3\xA3";  // "ã", two bytes
    std::string message;
    for (int i = 0; i < 600; ++i) message += ao + "o";
    const std::string stored = agent::StoredOutcomeMessage(message);
    EXPECT_EQ(stored.size(), 1500u);  // 500 times "ão": 1000 characters
    EXPECT_EQ(stored, message.substr(0, 1500));
    EXPECT_EQ(agent::StoredOutcomeMessage("x" + ao), "x" + ao);
}

TEST(SqlEscape, EscapesExactlyTheCharactersThatAlterALiteral) {
    EXPECT_EQ(dbclient::EscapeStringLiteral(std::string("a\0b", 3)), "a\\0b");
    EXPECT_EQ(dbclient::EscapeStringLiteral("\n\r\\'\"\x1a"), "\\n\\r\\\\\\'\\\"\\Z");
    EXPECT_EQ(dbclient::EscapeStringLiteral("versão 2.0 -- /* :nome # ;"),
              "versão 2.0 -- /* :nome # ;");
    EXPECT_EQ(dbclient::EscapeStringLiteral(""), "");
}

TEST(CompositeVersion, FillsAndCutsThePartsAsTheDatabaseDoes) {
    EXPECT_EQ(agent::CompositeVersion(2, 1, 0, 15), "2000100000015");
    EXPECT_EQ(agent::CompositeVersion(0, 0, 0, 0), "0000000000000");
    EXPECT_EQ(agent::CompositeVersion(10, 9999, 1, 2), "10999900010002");
    // LPAD cuts a longer value to its first four characters.
    EXPECT_EQ(agent::CompositeVersion(1, 12345, 0, 0), "1123400000000");
}

TEST(ValidateCurrentVersion, AcceptsOneToEighteenDigits) {
    EXPECT_NO_THROW(agent::ValidateCurrentVersion("0"));
    EXPECT_NO_THROW(agent::ValidateCurrentVersion("2000100000015"));
    EXPECT_NO_THROW(agent::ValidateCurrentVersion("999999999999999999"));
}

TEST(ValidateCurrentVersion, RejectsEverythingElseNamingTheArgument) {
    for (const std::string bad : {"", "5.3.1.0", "1 OR 1=1", "-1", "+1", " 12", "12 ",
                                  "1234567890123456789", "1e5", "0x10", "12;", "١٢"}) {
        const std::string message = MessageOf(agent::ValidateCurrentVersion, bad);
        EXPECT_NE(message.find("argumento 1"), std::string::npos) << bad << ": " << message;
    }
    EXPECT_EQ(MessageOf(agent::ValidateCurrentVersion, "5.3.1.0"),
              "Versão atual inválida no argumento 1: \"5.3.1.0\". Informe a versão instalada "
              "como número de 1 a 18 dígitos (2.1.0.15 é 2000100000015).");
}

TEST(ValidatePublishedVersion, OnlyDigitsReachTheIniFile) {
    EXPECT_NO_THROW(agent::ValidatePublishedVersion("2000100000015"));
    EXPECT_NO_THROW(agent::ValidatePublishedVersion("123456789012345678901234"));
    for (const std::string bad :
         {"", "1\r\n[ATUALIZACAO]\r\nARQUIVO=C:\\x.exe", "2.1", " 1", "-1"}) {
        const std::string message = MessageOf(agent::ValidatePublishedVersion, bad);
        EXPECT_NE(message.find("vl_versao"), std::string::npos) << message;
    }
    EXPECT_EQ(MessageOf(agent::ValidatePublishedVersion, "1\n2"),
              "Versão inválida em vl_versao: \"1?2\". A versão publicada deve ser um número.");
}

void ValidatePackageName(const std::string& nomeVersao) {
    agent::ValidatePackageName(nomeVersao, "Agente.exe");
}

TEST(ValidatePackageName, AcceptsPlainFileNames) {
    for (const std::string good :
         {"pacote.zip", "Setup 2.1.exe", "a", "..zip", "versão.7z", "console.zip", "com10.zip",
          "nul_1.zip", "TravikVersoes 2.zip", "libssl.zip", "secur32.dll.zip", "Agente 2.exe"})
        EXPECT_NO_THROW(ValidatePackageName(good)) << good;
}

TEST(ValidatePackageName, RejectsPathsAndControlCharactersNamingTheColumn) {
    using namespace std::string_literals;
    for (const std::string& bad : {""s, "."s, ".."s, "../x.zip"s, "..\\x.zip"s, "sub/x.zip"s,
                                   "/etc/x"s, "C:x.zip"s, "x\n.zip"s, "x\t"s, "x\0y"s, "x\x7f"s}) {
        const std::string message = MessageOf(ValidatePackageName, bad);
        EXPECT_NE(message.find("nome_versao"), std::string::npos) << message;
    }
    EXPECT_EQ(MessageOf(ValidatePackageName, "../../etc/passwd"),
              "Nome de arquivo inválido em nome_versao: \"../../etc/passwd\". O pacote deve ter "
              "um nome de arquivo simples, sem pasta.");
}

// A package under the name of a file that the agent loads or runs would replace it or be
// loaded at the next start; device names and a final dot or blank are not stored as given.
// The same on every platform, whatever the case.
TEST(ValidatePackageName, RefusesNamesTheAgentLoadsOrWindowsChangesLikeAPath) {
    for (const std::string bad : {"TravikVersoes",
                                  "travikversoes.EXE",
                                  "TravikVersoes.exe.manifest",
                                  "Agente",
                                  "AGENTE.EXE",
                                  "agente.exe.manifest",
                                  "libssl-3-x64.dll",
                                  "LIBCRYPTO-3-X64.DLL",
                                  "libssl.so.3",
                                  "libcrypto.so.3",
                                  "Secur32.dll",
                                  "ws2_32.dll",
                                  "wship6.dll",
                                  "rpcrt4.dll",
                                  "crypt32.dll",
                                  "bcrypt.dll",
                                  "winhttp.dll",
                                  "advapi32.dll",
                                  "version.dll",
                                  "comctl32.dll",
                                  "user32.dll",
                                  "CON",
                                  "con.zip",
                                  "Nul.tar.gz",
                                  "prn",
                                  "aux.7z",
                                  "COM1.zip",
                                  "com9",
                                  "LPT1",
                                  "lpt9.exe",
                                  "com1 .zip",
                                  "pacote.zip.",
                                  "pacote.zip ",
                                  "..."}) {
        const std::string message = MessageOf(ValidatePackageName, bad);
        EXPECT_EQ(message, "Nome de arquivo inválido em nome_versao: \"" + bad +
                               "\". O pacote deve ter um nome de arquivo simples, sem pasta.")
            << bad;
    }
}

TEST(ValidatePackageLink, RefusesControlCharactersNamingTheColumn) {
    EXPECT_NO_THROW(agent::ValidatePackageLink("http://127.0.0.1:8080/pacotes/a b.zip?x=ção"));
    EXPECT_NO_THROW(agent::ValidatePackageLink(""));
    for (const std::string bad :
         {"http://h/a.zip HTTP/1.0\r\nX-Mal: 1", "http://h/\n", "http://h/\x7f"}) {
        const std::string message = MessageOf(agent::ValidatePackageLink, bad);
        EXPECT_NE(message.find("link_sistema"), std::string::npos) << message;
    }
    EXPECT_EQ(
        MessageOf(agent::ValidatePackageLink, "http://h/a\r\nX: 1"),
        "Endereço inválido em link_sistema: \"http://h/a??X: 1\". O endereço do pacote não pode "
        "conter caracteres de controle.");
}

TEST(QuotedForMessage, MasksControlCharactersAndCutsLongTexts) {
    EXPECT_EQ(agent::QuotedForMessage("a\nb\x1b[2J"), "\"a?b?[2J\"");
    EXPECT_EQ(agent::QuotedForMessage(std::string(60, 'x')), "\"" + std::string(60, 'x') + "\"");
    EXPECT_EQ(agent::QuotedForMessage(std::string(61, 'x')), "\"" + std::string(60, 'x') + "...\"");
    // Cut at a character boundary: 60 two-byte letters are kept whole.
    std::string letters;
    for (int i = 0; i < 70; ++i) letters += "é";
    EXPECT_EQ(agent::QuotedForMessage(letters), "\"" + letters.substr(0, 120) + "...\"");
}

TEST(SignedPackageMessage, IsTheSixLinesEachEndedByLf) {
    EXPECT_EQ(agent::SignedPackageMessage(1, 42, "2000100000015", "pacote-2.1.0.15.zip",
                                          std::string(64, 'a')),
              "travik-package-v1\nid_sistema=1\ncodigo_cliente=42\nversao=2000100000015\n"
              "nome_versao=pacote-2.1.0.15.zip\nsha256=" +
                  std::string(64, 'a') + "\n");
}

TEST(ProgressBar, PercentRoundsHalfToEven) {
    agent::TProgressBar pb;
    pb.SetTotalParts(200);
    pb.SetPartsComplete(1);  // 0.5 -> 0
    EXPECT_EQ(pb.Percent(), 0);
    pb.SetPartsComplete(3);  // 1.5 -> 2
    EXPECT_EQ(pb.Percent(), 2);
    pb.SetPartsComplete(5);  // 2.5 -> 2
    EXPECT_EQ(pb.Percent(), 2);
    pb.SetPartsComplete(7);  // 3.5 -> 4
    EXPECT_EQ(pb.Percent(), 4);
    pb.SetTotalParts(3);
    pb.SetPartsComplete(1);  // 33.33 -> 33
    EXPECT_EQ(pb.Percent(), 33);
    pb.SetPartsComplete(2);  // 66.67 -> 67
    EXPECT_EQ(pb.Percent(), 67);
    pb.SetTotalParts(2147483647);
    pb.SetPartsComplete(2147483647);  // no overflow on the way
    EXPECT_EQ(pb.Percent(), 100);
    EXPECT_EQ(agent::RoundHalfToEven(-5, 2), -2);
    EXPECT_EQ(agent::RoundHalfToEven(-7, 2), -4);
    EXPECT_EQ(agent::RoundHalfToEven(5, -2), -2);
}

TEST(ProgressBar, TotalChangeResetsAndCompleteIsCapped) {
    agent::TProgressBar pb;
    pb.SetPartsComplete(50);  // no total yet: stays empty
    EXPECT_EQ(pb.PartsComplete(), 0);
    EXPECT_EQ(pb.Percent(), 0);
    pb.SetTotalParts(1000);
    pb.SetPartsComplete(250);
    EXPECT_EQ(pb.Percent(), 25);
    pb.SetTotalParts(1000);  // same value: nothing changes
    EXPECT_EQ(pb.PartsComplete(), 250);
    pb.SetPartsComplete(5000);  // more than the total: full
    EXPECT_EQ(pb.PartsComplete(), 1000);
    EXPECT_EQ(pb.Percent(), 100);
    pb.SetPartsComplete(-1);  // as unsigned, larger than the total
    EXPECT_EQ(pb.PartsComplete(), 1000);
    pb.SetTotalParts(0);
    EXPECT_EQ(pb.PartsComplete(), 0);
    EXPECT_EQ(pb.Percent(), 0);
}

TEST(StatusText, RemainingTime) {
    EXPECT_EQ(agent::RemainingTimeText(0), "Tempo Restante: 00:00:00");
    EXPECT_EQ(agent::RemainingTimeText(3725), "Tempo Restante: 01:02:05");
    EXPECT_EQ(agent::RemainingTimeText(65535), "Tempo Restante: 18:12:15");
    EXPECT_EQ(agent::RemainingTimeText(59), "Tempo Restante: 00:00:59");
}

TEST(StatusText, ProgressLine) {
    EXPECT_EQ(agent::ProgressLineText(42, "Tempo Restante: 00:01:05"),
              " 42% Tempo Restante: 00:01:05");
    EXPECT_EQ(agent::ProgressLineText(100, agent::kDownloadPausado), "100% Download Pausado...");
    EXPECT_EQ(agent::ProgressLineText(0, ""), "  0%");
}

}  // namespace
