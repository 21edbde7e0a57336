#include "dbclient/Sha1.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace dbclient {

void TSha1Context::sha1Reset() {
    fhash = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    fblock_used = 0;
    flength = 0;
}

void TSha1Context::ProcessBlock(const std::uint8_t* block) {
    std::uint32_t w[80];
    for (int t = 0; t < 16; ++t)
        w[t] = static_cast<std::uint32_t>(block[4 * t]) << 24 |
               static_cast<std::uint32_t>(block[4 * t + 1]) << 16 |
               static_cast<std::uint32_t>(block[4 * t + 2]) << 8 | block[4 * t + 3];
    for (int t = 16; t < 80; ++t) w[t] = std::rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

    std::uint32_t a = fhash[0], b = fhash[1], c = fhash[2], d = fhash[3], e = fhash[4];
    for (int t = 0; t < 80; ++t) {
        std::uint32_t f, k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        const std::uint32_t temp = std::rotl(a, 5) + f + e + w[t] + k;
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = temp;
    }
    fhash[0] += a;
    fhash[1] += b;
    fhash[2] += c;
    fhash[3] += d;
    fhash[4] += e;
}

void TSha1Context::sha1Input(std::span<const std::uint8_t> bytes) {
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
    for (; left >= 64; p += 64, left -= 64) ProcessBlock(p);
    if (left > 0) std::memcpy(fblock.data(), p, left);
    fblock_used = left;
}

void TSha1Context::sha1Input(std::string_view bytes) {
    sha1Input(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

TSha1Digest TSha1Context::sha1Result() {
    const std::uint64_t bits = flength * 8;
    // Padding: 0x80, zeros up to 56 bytes into a block, then the bit length big-endian.
    std::uint8_t pad[72] = {0x80};
    const std::size_t padLength = fblock_used < 56 ? 56 - fblock_used : 120 - fblock_used;
    for (int i = 0; i < 8; ++i)
        pad[padLength + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    sha1Input(std::span<const std::uint8_t>(pad, padLength + 8));

    TSha1Digest digest;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = static_cast<std::uint8_t>(fhash[i] >> (24 - 8 * j));
    sha1Reset();
    return digest;
}

TSha1Digest Sha1(std::string_view bytes) {
    TSha1Context context;
    context.sha1Input(bytes);
    return context.sha1Result();
}

}  // namespace dbclient
