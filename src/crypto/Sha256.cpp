#include "crypto/Sha256.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace crypto {

namespace {

constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

}  // namespace

void TSha256Context::Reset() {
    fhash = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    fblock_used = 0;
    flength = 0;
}

void TSha256Context::ProcessBlock(const std::uint8_t* block) {
    using std::rotr;
    std::uint32_t w[64];
    for (int t = 0; t < 16; ++t)
        w[t] = static_cast<std::uint32_t>(block[4 * t]) << 24 |
               static_cast<std::uint32_t>(block[4 * t + 1]) << 16 |
               static_cast<std::uint32_t>(block[4 * t + 2]) << 8 | block[4 * t + 3];
    for (int t = 16; t < 64; ++t) {
        const std::uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        const std::uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }

    std::uint32_t a = fhash[0], b = fhash[1], c = fhash[2], d = fhash[3];
    std::uint32_t e = fhash[4], f = fhash[5], g = fhash[6], h = fhash[7];
    for (int t = 0; t < 64; ++t) {
        const std::uint32_t t1 =
            h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[t] + w[t];
        const std::uint32_t t2 =
            (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    fhash[0] += a;
    fhash[1] += b;
    fhash[2] += c;
    fhash[3] += d;
    fhash[4] += e;
    fhash[5] += f;
    fhash[6] += g;
    fhash[7] += h;
}

void TSha256Context::Append(std::span<const std::uint8_t> bytes) {
    flength += bytes.size();
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    if (fblock_used > 0) {
        const std::size_t take = std::min(left, fblock.size() - fblock_used);
        std::memcpy(fblock.data() + fblock_used, p, take);
        fblock_used += take;
        p += take;
        left -= take;
        if (fblock_used < fblock.size()) return;
        ProcessBlock(fblock.data());
        fblock_used = 0;
    }
    for (; left >= fblock.size(); p += fblock.size(), left -= fblock.size()) ProcessBlock(p);
    if (left > 0) std::memcpy(fblock.data(), p, left);
    fblock_used = left;
}

void TSha256Context::Append(std::string_view bytes) {
    Append(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

TSha256Digest TSha256Context::Finish() {
    const std::uint64_t bits = flength * 8;
    // Padding: 0x80, zeros up to 56 bytes into a block, then the bit length big-endian.
    std::uint8_t pad[72] = {0x80};
    const std::size_t padLength = fblock_used < 56 ? 56 - fblock_used : 120 - fblock_used;
    for (int i = 0; i < 8; ++i)
        pad[padLength + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    Append(std::span<const std::uint8_t>(pad, padLength + 8));

    TSha256Digest digest;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = static_cast<std::uint8_t>(fhash[i] >> (24 - 8 * j));
    Reset();
    return digest;
}

TSha256Digest Sha256(std::string_view bytes) {
    TSha256Context context;
    context.Append(bytes);
    return context.Finish();
}

}  // namespace crypto
