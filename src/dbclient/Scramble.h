// Password scrambling: the client proves knowledge of the password by combining it with
// the random scramble the server sent, never sending the password itself.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "dbclient/Sha1.h"

namespace dbclient {

// Random-number generator of the pre-4.1 scramble.
struct TRandState {
    std::uint32_t r1 = 0;
    std::uint32_t r2 = 0;
    std::uint32_t max_value = 0x3FFFFFFF;
    double max_value_dbl = 1073741823.0;
};

// Pre-4.1 password hash (h1, h2), 31 bits each; spaces and tabs are skipped.
std::array<std::uint32_t, 2> old_password_hash(std::string_view text);
TRandState old_rand_seed(std::uint32_t a, std::uint32_t b);
// A number in [0, 1); advances the state.
double old_rand_next(TRandState& state);
// Pre-4.1 scramble: one character (64..95) per message character, then a zero byte. An
// empty password or message gives just the zero byte.
std::string scramble_old(std::string_view password, std::string_view message);
// 4.1 scramble of a 20-byte message: SHA1(message + SHA1(SHA1(pw))) XOR SHA1(pw).
std::string scramble_sha1(std::string_view message, std::string_view password);
// Scramble of caching_sha2_password for a 20-byte nonce:
// SHA256(pw) XOR SHA256(SHA256(SHA256(pw)) + nonce), the hash before the nonce.
std::string scramble_sha256(std::string_view nonce, std::string_view password);
// SHA-1 of the password with spaces and tabs left out.
TSha1Digest password_sha1(std::string_view password);
// SHA-1 of the 4 salt bytes followed by the 20 hash bytes.
TSha1Digest salted_sha1(std::string_view salt, const TSha1Digest& hash);
// SHA-1 of the old password hash, h1 and h2 big-endian.
TSha1Digest old_hash_digest(std::string_view password);
// The 20-byte reply to the 24-byte challenge of a 4.1.0 server.
std::string scramble_410_reply(std::string_view challenge, std::string_view password);

}  // namespace dbclient
