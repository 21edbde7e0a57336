// Ed25519 signing against RFC 8032's test vectors 1 to 3 (section 7.1). The password as
// the secret (MariaDB's accounts) is tested by a login to MariaDB (dbclient tests).
#include <gtest/gtest.h>

#include <string>

#include "crypto/Ed25519.h"
#include "crypto/Hex.h"

namespace {

std::string FromHex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

struct Vector {
    const char* seed;
    const char* publicKey;
    const char* message;
    const char* signature;
};

const Vector kRfc8032[] = {
    {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9"
     "b46bd25bf5f0595bbe24655141438e7a100b"},
    {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
     "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f1"
     "1d8c387b2eaeb4302aeeb00d291612bb0c00"},
    {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
     "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984d"
     "c6594a7c15e9716ed28dc027beceea1ec40a"},
};

TEST(Ed25519, Rfc8032Vectors) {
    for (const Vector& v : kRfc8032) {
        SCOPED_TRACE(v.seed);
        const std::string seed = FromHex(v.seed);
        EXPECT_EQ(crypto::ToHex(crypto::Ed25519PublicKey(seed)), v.publicKey);
        EXPECT_EQ(crypto::ToHex(crypto::Ed25519Sign(seed, FromHex(v.message))), v.signature);
    }
}

}  // namespace
