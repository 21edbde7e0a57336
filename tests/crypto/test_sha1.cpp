// SHA-1 against the FIPS 180-1 examples and, for every length around the block
// boundaries, against the system's TLS library loaded at run time.
#include <gtest/gtest.h>

#include <string>

#include "crypto/Hex.h"
#include "crypto/Sha1.h"
#include "platform/dynlib.h"

namespace {

using crypto::Sha1;
using crypto::ToHex;
using crypto::TSha1Context;
using crypto::TSha1Digest;

TEST(Sha1, FipsExamples) {
    EXPECT_EQ(ToHex(Sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(ToHex(Sha1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    TSha1Context context;
    const std::string thousand(1000, 'a');
    for (int i = 0; i < 1000; ++i) context.sha1Input(thousand);
    EXPECT_EQ(ToHex(context.sha1Result()), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(ToHex(Sha1("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

TEST(Sha1, ResultResetsTheContextForTheNextDigest) {
    TSha1Context context;
    context.sha1Input("something else");
    context.sha1Result();
    context.sha1Input("abc");
    EXPECT_EQ(ToHex(context.sha1Result()), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(Sha1, MatchesTheSystemLibraryForEveryLengthAndSplit) {
    platform::DynamicLibrary crypto;
    ASSERT_TRUE(crypto.Load(platform::CryptoLibraryName()));
    using Sha1Fn = unsigned char* (*)(const unsigned char*, std::size_t, unsigned char*);
    const auto reference = reinterpret_cast<Sha1Fn>(crypto.Symbol("SHA1"));
    ASSERT_NE(reference, nullptr);

    std::string data;
    for (int i = 0; i < 300; ++i) data += static_cast<char>((i * 131 + 7) & 0xFF);
    for (std::size_t length = 0; length <= data.size(); ++length) {
        TSha1Digest expected;
        reference(reinterpret_cast<const unsigned char*>(data.data()), length, expected.data());
        ASSERT_EQ(ToHex(Sha1(std::string_view(data).substr(0, length))), ToHex(expected)) << length;
        // The same bytes fed in two pieces, split anywhere.
        for (std::size_t split :
             {std::size_t{1}, length / 3, length / 2, length > 0 ? length - 1 : 0}) {
            if (split > length) continue;
            TSha1Context context;
            context.sha1Input(std::string_view(data).substr(0, split));
            context.sha1Input(std::string_view(data).substr(split, length - split));
            ASSERT_EQ(ToHex(context.sha1Result()), ToHex(expected)) << length << " split " << split;
        }
    }
}

}  // namespace
