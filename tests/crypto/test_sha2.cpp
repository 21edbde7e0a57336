// SHA-256 and SHA-512 against the FIPS 180-4 examples, whole and streamed in pieces that
// straddle the block boundaries.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "crypto/Hex.h"
#include "crypto/Sha256.h"
#include "crypto/Sha512.h"

namespace {

const std::string kTwoBlocks256 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string kTwoBlocks512 =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopq"
    "rs"
    "mnopqrstnopqrstu";

// One million 'a' appended in pieces of uneven sizes; the context is reset by Finish,
// so the same context is used twice to show it.
template <typename Context>
std::string MillionA() {
    Context context;
    context.Append("left over from an earlier digest");
    context.Finish();
    static constexpr std::size_t kPieces[] = {1, 63, 64, 65, 127, 128, 129, 1000, 3};
    const std::string a(1000, 'a');
    std::size_t done = 0;
    for (std::size_t i = 0; done < 1000000; ++i) {
        const std::size_t n = std::min(kPieces[i % std::size(kPieces)], 1000000 - done);
        context.Append(std::string_view(a).substr(0, n));
        done += n;
    }
    return crypto::ToHex(context.Finish());
}

TEST(Sha2, Sha256Examples) {
    using crypto::Sha256;
    using crypto::ToHex;
    EXPECT_EQ(ToHex(Sha256("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(ToHex(Sha256("")),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(ToHex(Sha256(kTwoBlocks256)),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(MillionA<crypto::TSha256Context>(),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha2, Sha512Examples) {
    using crypto::Sha512;
    using crypto::ToHex;
    EXPECT_EQ(ToHex(Sha512("abc")),
              "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba"
              "3c23a3fe"
              "ebbd454d4423643ce80e2a9ac94fa54ca49f");
    EXPECT_EQ(
        ToHex(Sha512("")),
        "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d287"
        "7eec2f63b931bd47417a81a538327af927da3e");
    EXPECT_EQ(
        ToHex(Sha512(kTwoBlocks256)),
        "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c33596fd15c13b1b07f9aa1d3bea57"
        "789ca031ad85c7a71dd70354ec631238ca3445");
    EXPECT_EQ(
        ToHex(Sha512(kTwoBlocks512)),
        "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4"
        "b5433ac7d329eeb6dd26545e96e55b874be909");
    EXPECT_EQ(
        MillionA<crypto::TSha512Context>(),
        "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce5"
        "77c31beb009c5c2c49aa2e4eadb217ad8cc09b");
}

}  // namespace
