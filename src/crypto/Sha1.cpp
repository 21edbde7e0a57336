#include "crypto/Sha1.h"

#include <bit>

namespace crypto {

void TSha1Context::sha1Reset() {
    fhash = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    fbuffer.Reset();
}

void TSha1Context::ProcessBlock(const std::uint8_t* block) {
    std::uint32_t w[80];
    for (int t = 0; t < 16; ++t) w[t] = LoadBigEndian<std::uint32_t>(block + 4 * t);
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
    fbuffer.Append(bytes, [this](const std::uint8_t* block) { ProcessBlock(block); });
}

void TSha1Context::sha1Input(std::string_view bytes) {
    sha1Input(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

TSha1Digest TSha1Context::sha1Result() {
    fbuffer.Pad([this](const std::uint8_t* block) { ProcessBlock(block); });
    const TSha1Digest digest = StoreBigEndian<20>(fhash);
    sha1Reset();
    return digest;
}

TSha1Digest Sha1(std::string_view bytes) {
    TSha1Context context;
    context.sha1Input(bytes);
    return context.sha1Result();
}

}  // namespace crypto
