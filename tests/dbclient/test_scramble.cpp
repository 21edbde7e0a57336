// Password scrambling: the pre-4.1 hash and scramble, the SHA-1 scramble checked against
// a computation with the system's TLS library, and the 4.1.0 challenge answers. The
// scramble that a real server accepts is checked by the login in test_net.
#include <gtest/gtest.h>

#include <string>

#include "dbclient/Scramble.h"
#include "platform/dynlib.h"

namespace {

using namespace dbclient;

std::string Bytes(const crypto::TSha1Digest& d) {
    return std::string(d.begin(), d.end());
}

TEST(OldPasswordHash, KnownValues) {
    EXPECT_EQ(old_password_hash(""), (std::array<std::uint32_t, 2>{1345345333u, 305419889u}));
    // The stored pre-4.1 hash of "password" is 5d2e19393cc5ef67.
    EXPECT_EQ(old_password_hash("password"),
              (std::array<std::uint32_t, 2>{0x5d2e1939u, 0x3cc5ef67u}));
    // Spaces and tabs do not count.
    EXPECT_EQ(old_password_hash("pass word\t"), old_password_hash("password"));
    // Bytes above 127 are taken unsigned.
    EXPECT_NE(old_password_hash("\xe9"), old_password_hash(""));
}

TEST(OldRandom, FollowsTheGeneratorRecurrence) {
    TRandState s = old_rand_seed(1073741823u + 5, 7);
    EXPECT_EQ(s.r1, 5u);
    EXPECT_EQ(s.r2, 7u);
    const double first = old_rand_next(s);
    EXPECT_EQ(s.r1, 22u);  // 5 * 3 + 7
    EXPECT_EQ(s.r2, 62u);  // 22 + 7 + 33
    EXPECT_DOUBLE_EQ(first, 22 / 1073741823.0);
    // Large states wrap at the modulus without overflowing.
    TRandState big = old_rand_seed(1073741822u, 1073741822u);
    old_rand_next(big);
    EXPECT_EQ(big.r1, static_cast<std::uint32_t>((1073741822ull * 4) % 1073741823ull));
}

TEST(ScrambleOld, CharactersInRangeAndTerminated) {
    const std::string message = "ab3$%^&*";
    for (const char* password : {"x", "secret", "a much longer password with spaces"}) {
        const std::string s = scramble_old(password, message);
        ASSERT_EQ(s.size(), message.size() + 1);
        EXPECT_EQ(s.back(), '\0');
        for (std::size_t i = 0; i < message.size(); ++i) {
            EXPECT_GE(static_cast<unsigned char>(s[i]), 64);
            EXPECT_LE(static_cast<unsigned char>(s[i]), 95);
        }
        EXPECT_EQ(s, scramble_old(password, message));  // deterministic
    }
    EXPECT_NE(scramble_old("secret", message), scramble_old("secreT", message));
    EXPECT_EQ(scramble_old("", message), std::string(1, '\0'));
    EXPECT_EQ(scramble_old("secret", ""), std::string(1, '\0'));
}

TEST(ScrambleSha1, MatchesTheFormulaComputedWithTheSystemLibrary) {
    platform::DynamicLibrary crypto;
    ASSERT_TRUE(crypto.Load(platform::CryptoLibraryName()));
    using Sha1Fn = unsigned char* (*)(const unsigned char*, std::size_t, unsigned char*);
    const auto sha1 = reinterpret_cast<Sha1Fn>(crypto.Symbol("SHA1"));
    ASSERT_NE(sha1, nullptr);
    const auto ref = [sha1](const std::string& s) {
        std::string out(20, '\0');
        sha1(reinterpret_cast<const unsigned char*>(s.data()), s.size(),
             reinterpret_cast<unsigned char*>(out.data()));
        return out;
    };
    const std::string message = "0123456789abcdefghij";
    for (const std::string& password :
         {std::string("admin"), std::string("p a s s"), std::string("\x00\xff", 2)}) {
        const std::string d1 = ref(password);
        std::string expected = ref(message + ref(d1));
        for (int i = 0; i < 20; ++i) expected[i] ^= d1[i];
        EXPECT_EQ(scramble_sha1(message, password), expected);
    }
    // Unlike the hashes, the SHA-1 scramble keeps spaces.
    EXPECT_NE(scramble_sha1(message, "pass word"), scramble_sha1(message, "password"));
    EXPECT_EQ(password_sha1("pass word"), password_sha1("password"));
    EXPECT_EQ(Bytes(password_sha1(" pass\tword ")), ref("password"));
    const crypto::TSha1Digest h = password_sha1("x");
    EXPECT_EQ(Bytes(salted_sha1("salt", h)), ref("salt" + Bytes(h)));
    const auto old = old_password_hash("pw");
    const std::string be = {static_cast<char>(old[0] >> 24), static_cast<char>(old[0] >> 16),
                            static_cast<char>(old[0] >> 8),  static_cast<char>(old[0]),
                            static_cast<char>(old[1] >> 24), static_cast<char>(old[1] >> 16),
                            static_cast<char>(old[1] >> 8),  static_cast<char>(old[1])};
    EXPECT_EQ(Bytes(old_hash_digest("pw")), ref(be));
}

TEST(Scramble410, BothChallengeForms) {
    // Plain form: a server that stored s1 = password_sha1 can undo the reply:
    // reply XOR salted_sha1(salt, s1) XOR challenge[4..23] = s1.
    std::string challenge = "salt";
    for (int i = 0; i < 20; ++i) challenge += static_cast<char>(0x30 + i);
    const std::string reply = scramble_410_reply(challenge, "secret");
    ASSERT_EQ(reply.size(), 20u);
    const crypto::TSha1Digest s1 = password_sha1("secret");
    const crypto::TSha1Digest s2 = salted_sha1("salt", s1);
    std::string recovered(20, '\0');
    for (int i = 0; i < 20; ++i)
        recovered[i] = static_cast<char>(reply[i] ^ s2[i] ^ challenge[4 + i]);
    EXPECT_EQ(recovered, Bytes(s1));

    // '*' form: the message is the old digest XOR the challenge, up to a zero byte; the
    // reply is the pre-4.1 scramble of it, zero-padded to 20 bytes.
    const crypto::TSha1Digest h = old_hash_digest("secret");
    std::string star = "*abc";
    const std::string message = "ABCDEFGH";
    for (int i = 0; i < 20; ++i) star += static_cast<char>(h[i] ^ (i < 8 ? message[i] : 0x11));
    const std::string old = scramble_410_reply(star, "secret");
    std::string expected = scramble_old("secret", message);
    expected.resize(20, '\0');
    EXPECT_EQ(old, expected);
    // A zero byte ends the message early.
    star[4 + 3] = static_cast<char>(h[3]);
    expected = scramble_old("secret", "ABC");
    expected.resize(20, '\0');
    EXPECT_EQ(scramble_410_reply(star, "secret"), expected);
}

}  // namespace
