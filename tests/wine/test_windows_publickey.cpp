// The Windows public-key operations under Wine (CryptoAPI, CNG, crypt32), driven through
// travik-publickey.exe (tests/win32/travik-publickey.cpp): the host's openssl tool makes
// the keys and signatures and decrypts what Windows encrypted.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "testsupport/WineSession.h"

namespace {

using namespace std::chrono_literals;
using testsupport::ReadFile;
using testsupport::WineSession;
using testsupport::WriteFile;

class WindowsPublicKey : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        keys_ = std::make_unique<testsupport::TestKeys>();
        wine_ = std::make_unique<WineSession>(TRAVIK_WINDOWS_BUILD_DIR);
    }
    static void TearDownTestSuite() {
        wine_.reset();
        keys_.reset();
    }
    // travik-publickey.exe with the host paths in `args` given as Windows paths.
    static testsupport::ProcessResult Tool(const std::string& command,
                                           const std::vector<std::string>& paths) {
        std::vector<std::string> args = {command};
        for (const auto& path : paths) args.push_back(WineSession::WindowsPath(path));
        return testsupport::Run(wine_->Options(wine_->BuildDir() + "/travik-publickey.exe", args),
                                120s);
    }

    static inline std::unique_ptr<testsupport::TestKeys> keys_;
    static inline std::unique_ptr<WineSession> wine_;
    testsupport::TempDir dir_{"travik-win-publickey"};
};

TEST_F(WindowsPublicKey, RsaOaepCipherTextsDecryptWithThePrivateKey) {
    const std::string message("scrambled\0password", 18);
    WriteFile(dir_ / "message", message);
    for (const std::string name : {"rsa-spki.pem", "rsa-pkcs1.pem"}) {
        const auto r = Tool("encrypt", {*keys_ / name, dir_ / "message", dir_ / "cipher"});
        ASSERT_EQ(r.out, "ok\n") << name << r.err;
        EXPECT_EQ(ReadFile(dir_ / "cipher").size(), 256u);
        testsupport::Openssl({"pkeyutl", "-decrypt", "-inkey", *keys_ / "rsa.pem", "-pkeyopt",
                              "rsa_padding_mode:oaep", "-in", dir_ / "cipher", "-out",
                              dir_ / "plain"});
        EXPECT_EQ(ReadFile(dir_ / "plain"), message) << name;
    }
    // OAEP with SHA-1 takes at most 256 - 42 bytes under a 2048-bit key.
    WriteFile(dir_ / "long", std::string(215, 'x'));
    auto r = Tool("encrypt", {*keys_ / "rsa-spki.pem", dir_ / "long", dir_ / "cipher2"});
    EXPECT_EQ(r.out.rfind("error RSA-OAEP encryption failed: ", 0), 0u) << r.out;
    r = Tool("encrypt", {*keys_ / "ec-spki.pem", dir_ / "message", dir_ / "cipher3"});
    EXPECT_EQ(r.out, "error the public key is not an RSA key\n");
    EXPECT_FALSE(testsupport::PathExists(dir_ / "cipher2") ||
                 testsupport::PathExists(dir_ / "cipher3"));
}

TEST_F(WindowsPublicKey, EcdsaP256AcceptsTheKeysSignaturesAndNothingElse) {
    // Several signatures, so that r and s of every length DER gives them occur.
    std::vector<std::string> pairs;
    std::string expected;
    for (int i = 0; i < 12; ++i) {
        const std::string data = dir_ / ("data" + std::to_string(i));
        const std::string sig = dir_ / ("sig" + std::to_string(i));
        WriteFile(data, "package " + std::to_string(i));
        testsupport::Openssl({"dgst", "-sha256", "-sign", *keys_ / "ec.pem", "-out", sig, data});
        pairs.insert(pairs.end(), {data, sig});
        expected += "valid\n";
    }
    const std::string sig = ReadFile(dir_ / "sig0");
    WriteFile(dir_ / "other", "package 0 changed");
    WriteFile(dir_ / "trailing", sig + '\0');
    WriteFile(dir_ / "truncated", sig.substr(0, sig.size() - 1));
    pairs.insert(pairs.end(), {dir_ / "other", dir_ / "sig0", dir_ / "data0", dir_ / "trailing",
                               dir_ / "data0", dir_ / "truncated"});
    expected += "invalid\ninvalid\ninvalid\n";

    std::vector<std::string> args = {*keys_ / "ec-spki.der"};
    args.insert(args.end(), pairs.begin(), pairs.end());
    auto r = Tool("verify", args);
    EXPECT_EQ(r.out, expected) << r.err;
    EXPECT_EQ(r.exitStatus, 0);

    r = Tool("verify", {*keys_ / "rsa-spki.der", dir_ / "data0", dir_ / "sig0"});
    EXPECT_EQ(r.out, "unavailable the public key is not an ECDSA P-256 key\n");
}

TEST_F(WindowsPublicKey, SigningWithoutTheOpensslDllsSaysWhereToPutThem) {
    WriteFile(dir_ / "data", "package");
    const auto r = Tool("sign", {*keys_ / "ec.pem", dir_ / "data", dir_ / "sig"});
    EXPECT_EQ(
        r.out,
        "error the OpenSSL library libcrypto-3-x64.dll could not be loaded: put the OpenSSL 3 "
        "DLLs (libcrypto-3-x64.dll and the ones it needs) beside the program\n");
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_FALSE(testsupport::PathExists(dir_ / "sig"));
}

}  // namespace
