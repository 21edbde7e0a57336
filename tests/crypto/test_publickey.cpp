// The system's public-key operations (OpenSSL's libcrypto here) against the openssl
// tool: what one side encrypts or signs, the other decrypts or verifies.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "crypto/Sha256.h"
#include "platform/publickey.h"
#include "testsupport/testsupport.h"

namespace {

using platform::publickey::Verdict;
using testsupport::ReadFile;

class PublicKey : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { keys_ = std::make_unique<testsupport::TestKeys>(); }
    static void TearDownTestSuite() { keys_.reset(); }
    static std::string Key(const std::string& name) { return ReadFile(*keys_ / name); }

    static inline std::unique_ptr<testsupport::TestKeys> keys_;
    testsupport::TempDir dir_{"travik-publickey"};
};

TEST_F(PublicKey, RsaOaepCipherTextsDecryptWithThePrivateKey) {
    const std::string message("scrambled\0password", 18);
    for (const std::string name : {"rsa-spki.pem", "rsa-pkcs1.pem"}) {
        std::string error;
        const auto cipher = platform::publickey::RsaOaepEncrypt(Key(name), message, error);
        ASSERT_TRUE(cipher) << name << ": " << error;
        EXPECT_EQ(cipher->size(), 256u);
        testsupport::WriteFile(dir_ / "cipher", *cipher);
        testsupport::Openssl({"pkeyutl", "-decrypt", "-inkey", *keys_ / "rsa.pem", "-pkeyopt",
                              "rsa_padding_mode:oaep", "-in", dir_ / "cipher", "-out",
                              dir_ / "plain"});
        EXPECT_EQ(ReadFile(dir_ / "plain"), message) << name;
    }
}

TEST_F(PublicKey, RsaOaepRefusesWhatItCannotEncryptWithTheReason) {
    const struct {
        std::string pem, message, error;
    } cases[] = {
        {Key("ec-spki.pem"), "x", "the public key is not an RSA key"},
        {"no key at all", "x", "the RSA public key could not be read"},
        // OAEP with SHA-1 takes at most 256 - 42 bytes under a 2048-bit key.
        {Key("rsa-spki.pem"), std::string(215, 'x'), "RSA-OAEP encryption failed"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(platform::publickey::RsaOaepEncrypt(c.pem, c.message, error));
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
}

TEST_F(PublicKey, EcdsaP256AcceptsTheKeysSignatureAndNothingElse) {
    const std::string data = "TravikVersoes 2.4.1 package";
    testsupport::WriteFile(dir_ / "data", data);
    testsupport::Openssl(
        {"dgst", "-sha256", "-sign", *keys_ / "ec.pem", "-out", dir_ / "sig", dir_ / "data"});
    const std::string spki = Key("ec-spki.der"), signature = ReadFile(dir_ / "sig");
    const crypto::TSha256Digest digest = crypto::Sha256(data);
    crypto::TSha256Digest changed = digest;
    changed[31] ^= 1;

    using platform::publickey::VerifyEcdsaP256;
    std::string error;
    EXPECT_EQ(VerifyEcdsaP256(spki, digest, signature, error), Verdict::Valid) << error;
    EXPECT_EQ(VerifyEcdsaP256(spki, changed, signature, error), Verdict::Invalid);
    EXPECT_EQ(VerifyEcdsaP256(spki, digest, signature + '\0', error), Verdict::Invalid);
    EXPECT_EQ(VerifyEcdsaP256(spki, digest, "", error), Verdict::Invalid);

    error.clear();
    EXPECT_EQ(VerifyEcdsaP256(Key("rsa-spki.der"), digest, signature, error), Verdict::Unavailable);
    EXPECT_EQ(error, "the public key is not an ECDSA P-256 key");
    EXPECT_EQ(VerifyEcdsaP256(spki.substr(1), digest, signature, error), Verdict::Unavailable);
    EXPECT_EQ(error.rfind("the public key could not be read", 0), 0u) << error;
}

TEST_F(PublicKey, EcdsaP256SignaturesVerifyWithOpenssl) {
    const std::string data = "TravikVersoes 2.4.2 package";
    testsupport::WriteFile(dir_ / "data", data);
    for (const std::string name : {"ec.pem", "ec-sec1.pem"}) {
        std::string error;
        const auto signature =
            platform::publickey::SignEcdsaP256(Key(name), crypto::Sha256(data), error);
        ASSERT_TRUE(signature) << name << ": " << error;
        testsupport::WriteFile(dir_ / "sig", *signature);
        const auto r = testsupport::Run(
            {.argv = {"openssl", "dgst", "-sha256", "-verify", *keys_ / "ec-spki.pem", "-signature",
                      dir_ / "sig", dir_ / "data"}});
        EXPECT_EQ(r.out, "Verified OK\n") << name << ": " << r.err;
    }
    std::string error;
    EXPECT_FALSE(platform::publickey::SignEcdsaP256(Key("rsa.pem"), crypto::Sha256(data), error));
    EXPECT_EQ(error, "the private key is not an ECDSA P-256 key");
}

}  // namespace
