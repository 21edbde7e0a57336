#include "dbclient/Scramble.h"

#include <cmath>

#include "crypto/Sha256.h"

namespace dbclient {

namespace {

template <std::size_t N>
std::string_view DigestBytes(const std::array<std::uint8_t, N>& digest) {
    return {reinterpret_cast<const char*>(digest.data()), digest.size()};
}

}  // namespace

std::array<std::uint32_t, 2> old_password_hash(std::string_view text) {
    std::uint32_t h1 = 1345345333u, h2 = 305419889u, sum = 7;
    for (const char ch : text) {
        if (ch == ' ' || ch == '\t') continue;
        const std::uint32_t c = static_cast<std::uint8_t>(ch);
        h1 ^= (((h1 & 63) + sum) * c) + (h1 << 8);
        h2 += (h2 << 8) ^ h1;
        sum += c;
    }
    return {h1 & 0x7FFFFFFFu, h2 & 0x7FFFFFFFu};
}

TRandState old_rand_seed(std::uint32_t a, std::uint32_t b) {
    TRandState state;
    state.r1 = a % state.max_value;
    state.r2 = b % state.max_value;
    return state;
}

double old_rand_next(TRandState& state) {
    // 64-bit intermediates: r1 * 3 + r2 stays far below 2^64.
    state.r1 =
        static_cast<std::uint32_t>((std::uint64_t{state.r1} * 3 + state.r2) % state.max_value);
    state.r2 =
        static_cast<std::uint32_t>((std::uint64_t{state.r1} + state.r2 + 33) % state.max_value);
    return state.r1 / state.max_value_dbl;
}

std::string scramble_old(std::string_view password, std::string_view message) {
    if (password.empty() || message.empty()) return std::string(1, '\0');
    const auto p = old_password_hash(password);
    const auto m = old_password_hash(message);
    TRandState state = old_rand_seed(p[0] ^ m[0], p[1] ^ m[1]);
    std::string out;
    out.reserve(message.size() + 1);
    for (std::size_t i = 0; i < message.size(); ++i)
        out += static_cast<char>(std::floor(old_rand_next(state) * 31) + 64);
    const char extra = static_cast<char>(std::floor(old_rand_next(state) * 31));
    for (char& c : out) c ^= extra;
    out += '\0';
    return out;
}

std::string scramble_sha1(std::string_view message, std::string_view password) {
    const TSha1Digest d1 = Sha1(password);
    const TSha1Digest d2 = Sha1(DigestBytes(d1));
    TSha1Context context;
    context.sha1Input(message.substr(0, 20));
    context.sha1Input(DigestBytes(d2));
    const TSha1Digest d3 = context.sha1Result();
    std::string out(20, '\0');
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(d3[i] ^ d1[i]);
    return out;
}

std::string scramble_sha256(std::string_view nonce, std::string_view password) {
    const crypto::TSha256Digest d1 = crypto::Sha256(password);
    const crypto::TSha256Digest d2 = crypto::Sha256(DigestBytes(d1));
    crypto::TSha256Context context;
    context.Append(DigestBytes(d2));
    context.Append(nonce.substr(0, 20));
    const crypto::TSha256Digest d3 = context.Finish();
    std::string out(32, '\0');
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(d1[i] ^ d3[i]);
    return out;
}

TSha1Digest password_sha1(std::string_view password) {
    TSha1Context context;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= password.size(); ++i) {
        if (i == password.size() || password[i] == ' ' || password[i] == '\t') {
            context.sha1Input(password.substr(start, i - start));
            start = i + 1;
        }
    }
    return context.sha1Result();
}

TSha1Digest salted_sha1(std::string_view salt, const TSha1Digest& hash) {
    TSha1Context context;
    context.sha1Input(salt.substr(0, 4));
    context.sha1Input(DigestBytes(hash));
    return context.sha1Result();
}

TSha1Digest old_hash_digest(std::string_view password) {
    const auto h = old_password_hash(password);
    char bytes[8];
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>(h[0] >> (24 - 8 * i));
        bytes[4 + i] = static_cast<char>(h[1] >> (24 - 8 * i));
    }
    return Sha1(std::string_view(bytes, sizeof bytes));
}

std::string scramble_410_reply(std::string_view challenge, std::string_view password) {
    // A short challenge is treated as zero-filled so that nothing is read past its end.
    std::string a(challenge.substr(0, 24));
    a.resize(24, '\0');
    std::string reply(20, '\0');
    if (a[0] != '*') {
        const TSha1Digest s1 = password_sha1(password);
        const TSha1Digest s2 = salted_sha1(std::string_view(a).substr(0, 4), s1);
        for (std::size_t i = 0; i < 20; ++i)
            reply[i] = static_cast<char>(s1[i] ^ s2[i] ^ static_cast<std::uint8_t>(a[4 + i]));
        return reply;
    }
    const TSha1Digest h = old_hash_digest(password);
    std::string message;
    for (std::size_t i = 0; i < 8; ++i) {
        const char t = static_cast<char>(h[i] ^ static_cast<std::uint8_t>(a[4 + i]));
        if (t == '\0') break;
        message += t;
    }
    const std::string old = scramble_old(password, message);
    reply.replace(0, std::min(old.size(), reply.size()), old.substr(0, reply.size()));
    return reply;
}

}  // namespace dbclient
