// Signed packages: the agent built with the tests' publisher's public keys takes a package
// only when the publisher signed it for that row; nginx serves the packages, MariaDB holds
// the rows and signatures made with the openssl command.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "AgentRun.h"

namespace {

using agenttest::AgentFolder;

const std::string kVersao = "3000000000000";

// The error box of a refused package, as the headless agent prints it, with its cause.
const std::string kNoSignature = "a versão não tem assinatura no banco de dados";
const std::string kNotBase64 = "a assinatura no banco de dados não é um texto Base64 válido";
const std::string kNoKeyAccepts =
    "nenhuma chave do publicador aceita a assinatura deste arquivo para esta versão e este cliente";
std::string Refused(const std::string& nome, const std::string& motivo) {
    return "Assinatura inválida do arquivo " + nome + "\nMotivo: " + motivo + ".\n";
}

// Each test uses its own system numbers, so one database serves them all. The agent
// runs for client 1.
class Signature : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        www_ = std::make_unique<testsupport::TempDir>("travik-www");
        std::filesystem::create_directory(*www_ / "trocado");
        package_ = *www_ / "pacote.zip";
        testsupport::WriteFile(package_, std::string(300000, 'p') + "fim");
        testsupport::WriteFile(*www_ / "cliente.zip", "pacote do cliente");
        testsupport::WriteFile(*www_ / "trocado/pacote.zip", "outro programa");
        web_ = std::make_unique<testsupport::NginxServer>(www_->path());
        const std::string md5 = agenttest::Md5Sum(package_);
        const auto sign = [](const std::string& key, int sistema, int cliente,
                             const std::string& versao, const std::string& nome,
                             const std::string& file) {
            return agenttest::OpensslSign(
                key, agenttest::PackageMessage(sistema, cliente, versao, nome, file));
        };
        const auto general = [&](int sistema, std::optional<std::string> assinatura) {
            return agenttest::InsertVersion({sistema, sistema, 0, 3, 0, 0, 0,
                                             web_->url("/pacote.zip"), md5, "pacote.zip",
                                             std::move(assinatura)});
        };
        const auto good = [&](int sistema, const std::string& key = "publisher-1.pem") {
            return sign(key, sistema, 0, kVersao, "pacote.zip", package_);
        };
        std::string rows;
        rows += general(1, good(1));
        rows += general(2, good(2, "publisher-2.pem"));  // the second built-in key
        rows += general(3, " \r\n" + good(3) + "\t\n");  // blanks around it
        // Signed for another version, another client, another name.
        rows += general(4, sign("publisher-1.pem", 4, 0, "3000000000001", "pacote.zip", package_));
        rows += general(5, sign("publisher-1.pem", 5, 1, kVersao, "pacote.zip", package_));
        rows += general(6, sign("publisher-1.pem", 6, 0, kVersao, "outro.zip", package_));
        // No signature, an empty one, not Base64, Base64 of something not a signature.
        rows += general(7, std::nullopt);
        rows += general(8, "");
        rows += general(9, "não é Base64!");
        rows += general(10, "bm8gc2lnbmF0dXJl");
        // Another program on the web server, its digest changed to match, the old signature.
        rows += agenttest::InsertVersion({11, 11, 0, 3, 0, 0, 0, web_->url("/trocado/pacote.zip"),
                                          agenttest::Md5Sum(*www_ / "trocado/pacote.zip"),
                                          "pacote.zip", good(11)});
        // A general version and the client's: one signed well, the other not.
        const auto cliente = [&](int id, int sistema, std::string assinatura) {
            return agenttest::InsertVersion({id, sistema, 1, 3, 0, 0, 1, web_->url("/cliente.zip"),
                                             agenttest::Md5Sum(*www_ / "cliente.zip"),
                                             "cliente.zip", std::move(assinatura)});
        };
        rows += general(12, good(12));
        rows += cliente(
            112, 12,
            sign("publisher-1.pem", 12, 2, "3000000000001", "cliente.zip", *www_ / "cliente.zip"));
        rows += general(13, std::nullopt);
        rows += cliente(
            113, 13,
            sign("publisher-1.pem", 13, 1, "3000000000001", "cliente.zip", *www_ / "cliente.zip"));
        db_ = agenttest::StartUpdateDatabase(rows);
    }
    static void TearDownTestSuite() {
        db_.reset();
        web_.reset();
        www_.reset();
    }

    static testsupport::ProcessResult RunSystem(const AgentFolder& agent, int sistema) {
        return agent.Run({"2000000000000", "2.0", std::to_string(sistema), "1", agent / "p"},
                         db_->port());
    }
    static AgentFolder SignedAgent() { return AgentFolder(true, TRAVIK_SIGNED_AGENT_BINARY); }

    static inline std::unique_ptr<testsupport::TempDir> www_;
    static inline std::string package_;
    static inline std::unique_ptr<testsupport::NginxServer> web_;
    static inline std::unique_ptr<testsupport::MariaDbServer> db_;
};

TEST_F(Signature, APackageSignedForItsRowByAnyBuiltInKeyIsTaken) {
    for (const int sistema : {1, 2, 3}) {
        const AgentFolder agent = SignedAgent();
        const auto r = RunSystem(agent, sistema);
        EXPECT_EQ(r.exitStatus, 0) << sistema << ": " << r.err;
        EXPECT_EQ(r.out, agenttest::kAlertLine);
        EXPECT_EQ(testsupport::ReadFile(agent / "pacote.zip"), testsupport::ReadFile(package_));
        EXPECT_EQ(testsupport::ReadFile(agent.Ini()),
                  agenttest::IniText(kVersao, agent / "pacote.zip"));
    }
}

// Whatever is wrong with the signature: one download, the file deleted, nothing recorded.
TEST_F(Signature, AnyOtherSignatureRefusesThePackageAfterOneDownload) {
    const std::map<int, std::string> causes = {
        {4, kNoKeyAccepts}, {5, kNoKeyAccepts}, {6, kNoKeyAccepts},  {7, kNoSignature},
        {8, kNoSignature},  {9, kNotBase64},    {10, kNoKeyAccepts}, {11, kNoKeyAccepts}};
    for (const auto& [sistema, motivo] : causes) {
        const AgentFolder agent = SignedAgent();
        const std::size_t mark = web_->AccessLog().size();
        const auto r = RunSystem(agent, sistema);
        EXPECT_EQ(r.exitStatus, 1) << sistema;
        EXPECT_EQ(r.out, "") << sistema;
        EXPECT_EQ(r.err, Refused("pacote.zip", motivo)) << sistema;
        EXPECT_EQ(web_->AccessLogSince(mark).size(), 1u) << sistema;
        EXPECT_FALSE(testsupport::PathExists(agent / "pacote.zip")) << sistema;
        EXPECT_FALSE(testsupport::PathExists(agent.Ini())) << sistema;
    }
}

TEST_F(Signature, AnUnsignedPackageAlreadyThereIsRefusedWithoutTransfer) {
    const AgentFolder agent = SignedAgent();
    std::filesystem::copy_file(package_, agent / "pacote.zip");
    const std::size_t mark = web_->AccessLog().size();
    const auto r = RunSystem(agent, 7);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, Refused("pacote.zip", kNoSignature));
    EXPECT_TRUE(web_->AccessLogSince(mark).empty());
    EXPECT_FALSE(testsupport::PathExists(agent / "pacote.zip"));
    EXPECT_FALSE(testsupport::PathExists(agent.Ini()));
}

TEST_F(Signature, ARefusalEndsTheRunAfterTheVersionsAlreadyTaken) {
    {  // The general version is taken and stays recorded; the client's is refused.
        const AgentFolder agent = SignedAgent();
        const auto r = RunSystem(agent, 12);
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(r.err, Refused("cliente.zip", kNoKeyAccepts));
        EXPECT_TRUE(testsupport::PathExists(agent / "pacote.zip"));
        EXPECT_FALSE(testsupport::PathExists(agent / "cliente.zip"));
        EXPECT_EQ(testsupport::ReadFile(agent.Ini()),
                  agenttest::IniText(kVersao, agent / "pacote.zip"));
    }
    // The general version is refused: the client's is not even fetched.
    const AgentFolder agent = SignedAgent();
    const std::size_t mark = web_->AccessLog().size();
    const auto r = RunSystem(agent, 13);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, Refused("pacote.zip", kNoSignature));
    const auto log = web_->AccessLogSince(mark);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].uri, "/pacote.zip");
    EXPECT_FALSE(testsupport::PathExists(agent.Ini()));
}

TEST_F(Signature, AnAgentWithoutKeysTakesPackagesAsBefore) {
    for (const int sistema : {7, 9}) {
        const AgentFolder agent;
        const auto r = RunSystem(agent, sistema);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(testsupport::ReadFile(agent.Ini()),
                  agenttest::IniText(kVersao, agent / "pacote.zip"));
    }
}

// A database made before signatures has no column for them: with keys, no package passes;
// without keys, nothing changes.
TEST_F(Signature, ADatabaseWithoutTheColumnHasNoSignatures) {
    const testsupport::MariaDbServer old(testsupport::MariaDbServer::Options{
        .initSql = agenttest::UpdateDatabaseSql(
            "ALTER TABLE atualizacaodb.versao DROP COLUMN assinatura;\n" +
            agenttest::InsertVersion({1, 1, 0, 3, 0, 0, 0, web_->url("/pacote.zip"),
                                      agenttest::Md5Sum(package_), "pacote.zip"}))});
    const std::vector<std::string> args = {"2000000000000", "2.0", "1", "1", "p"};
    const AgentFolder signedAgent = SignedAgent();
    auto r = signedAgent.Run(args, old.port());
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, Refused("pacote.zip", kNoSignature));
    EXPECT_FALSE(testsupport::PathExists(signedAgent.Ini()));
    const AgentFolder agent;
    r = agent.Run(args, old.port());
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(testsupport::PathExists(agent.Ini()));
}

// The build refuses a key file that holds anything but ECDSA P-256 public keys.
TEST(SigningKeysFile, OnlyP256PublicKeysAreBuiltIn) {
    const testsupport::TempDir dir("travik-keyfile");
    const std::string signing = std::string(TRAVIK_SOURCE_DIR) + "/tests/agent/signing/";
    const std::string publishers = testsupport::ReadFile(signing + "publishers.pem");
    const auto configure = [&](const std::string& pem) {
        testsupport::WriteFile(dir / "keys.pem", pem);
        return testsupport::Run(
            {.argv = {TRAVIK_CMAKE_COMMAND, "-DTRAVIK_SIGNING_KEYS=" + (dir / "keys.pem"),
                      "-DOUTPUT=" + (dir / "keys.cpp"), "-P",
                      std::string(TRAVIK_SOURCE_DIR) + "/cmake/TravikSigningKeys.cmake"}});
    };
    const auto run = configure(publishers);
    EXPECT_EQ(run.exitStatus, 0) << run.err;

    const testsupport::TestKeys keys;
    testsupport::Openssl({"req", "-x509", "-new", "-key", signing + "publisher-1.pem", "-subj",
                          "/CN=travik", "-days", "1", "-out", dir / "cert.pem"});
    testsupport::Openssl(
        {"ecparam", "-name", "secp384r1", "-genkey", "-noout", "-out", dir / "p384.pem"});
    testsupport::Openssl({"ec", "-in", dir / "p384.pem", "-pubout", "-out", dir / "p384-pub.pem"});
    const std::string cert = testsupport::ReadFile(dir / "cert.pem");
    struct Case {
        std::string pem, says;
    };
    for (const Case& c : std::vector<Case>{
             {"", "holds no ECDSA P-256 public key"},
             {"nothing but text\n", "holds no ECDSA P-256 public key"},
             {testsupport::ReadFile(signing + "publisher-1.pem"), "(\"EC PRIVATE KEY\")"},
             {publishers + testsupport::ReadFile(keys / "ec.pem"), "(\"PRIVATE KEY\")"},
             {publishers + cert, "(\"CERTIFICATE\")"},
             {testsupport::ReadFile(keys / "rsa-pkcs1.pem"), "(\"RSA PUBLIC KEY\")"},
             {testsupport::ReadFile(keys / "rsa-spki.pem"), "not an ECDSA P-256 key"},
             {testsupport::ReadFile(dir / "p384-pub.pem"), "not an ECDSA P-256 key"},
             {publishers.substr(0, publishers.rfind("-----END")), "has no line"},
         }) {
        const auto r = configure(c.pem);
        EXPECT_NE(r.exitStatus, 0) << c.says;
        // CMake wraps its messages: compare with the lines joined.
        std::string err = r.err;
        for (std::size_t at; (at = err.find("\n  ")) != std::string::npos;) err.replace(at, 3, " ");
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
    }
}

}  // namespace
