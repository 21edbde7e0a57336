// MD5 after RFC 1321. The block function keeps the four state words in registers and
// works on whole 64-byte blocks straight from the caller's buffer; G is split into two
// additions so that half of it does not wait for the previous step.
#include "support/Md5.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace support {

namespace {

inline std::uint32_t LoadLE(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

#define MD5_F(a, b, c, d, x, s, t)                \
    a += ((d) ^ ((b) & ((c) ^ (d)))) + (x) + (t); \
    a = std::rotl(a, s) + (b);
#define MD5_G(a, b, c, d, x, s, t)               \
    a += ((c) & ~(d)) + (x) + (t) + ((b) & (d)); \
    a = std::rotl(a, s) + (b);
#define MD5_H(a, b, c, d, x, s, t)      \
    a += ((b) ^ (c) ^ (d)) + (x) + (t); \
    a = std::rotl(a, s) + (b);
#define MD5_I(a, b, c, d, x, s, t)         \
    a += ((c) ^ ((b) | ~(d))) + (x) + (t); \
    a = std::rotl(a, s) + (b);

void Transform(std::uint32_t state[4], const std::uint8_t* data, std::size_t blocks) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; blocks > 0; --blocks, data += 64) {
        std::uint32_t x[16];
        for (int i = 0; i < 16; ++i) x[i] = LoadLE(data + 4 * i);
        const std::uint32_t aa = a, bb = b, cc = c, dd = d;

        MD5_F(a, b, c, d, x[0], 7, 0xd76aa478)
        MD5_F(d, a, b, c, x[1], 12, 0xe8c7b756)
        MD5_F(c, d, a, b, x[2], 17, 0x242070db)
        MD5_F(b, c, d, a, x[3], 22, 0xc1bdceee)
        MD5_F(a, b, c, d, x[4], 7, 0xf57c0faf)
        MD5_F(d, a, b, c, x[5], 12, 0x4787c62a)
        MD5_F(c, d, a, b, x[6], 17, 0xa8304613)
        MD5_F(b, c, d, a, x[7], 22, 0xfd469501)
        MD5_F(a, b, c, d, x[8], 7, 0x698098d8)
        MD5_F(d, a, b, c, x[9], 12, 0x8b44f7af)
        MD5_F(c, d, a, b, x[10], 17, 0xffff5bb1)
        MD5_F(b, c, d, a, x[11], 22, 0x895cd7be)
        MD5_F(a, b, c, d, x[12], 7, 0x6b901122)
        MD5_F(d, a, b, c, x[13], 12, 0xfd987193)
        MD5_F(c, d, a, b, x[14], 17, 0xa679438e)
        MD5_F(b, c, d, a, x[15], 22, 0x49b40821)

        MD5_G(a, b, c, d, x[1], 5, 0xf61e2562)
        MD5_G(d, a, b, c, x[6], 9, 0xc040b340)
        MD5_G(c, d, a, b, x[11], 14, 0x265e5a51)
        MD5_G(b, c, d, a, x[0], 20, 0xe9b6c7aa)
        MD5_G(a, b, c, d, x[5], 5, 0xd62f105d)
        MD5_G(d, a, b, c, x[10], 9, 0x02441453)
        MD5_G(c, d, a, b, x[15], 14, 0xd8a1e681)
        MD5_G(b, c, d, a, x[4], 20, 0xe7d3fbc8)
        MD5_G(a, b, c, d, x[9], 5, 0x21e1cde6)
        MD5_G(d, a, b, c, x[14], 9, 0xc33707d6)
        MD5_G(c, d, a, b, x[3], 14, 0xf4d50d87)
        MD5_G(b, c, d, a, x[8], 20, 0x455a14ed)
        MD5_G(a, b, c, d, x[13], 5, 0xa9e3e905)
        MD5_G(d, a, b, c, x[2], 9, 0xfcefa3f8)
        MD5_G(c, d, a, b, x[7], 14, 0x676f02d9)
        MD5_G(b, c, d, a, x[12], 20, 0x8d2a4c8a)

        MD5_H(a, b, c, d, x[5], 4, 0xfffa3942)
        MD5_H(d, a, b, c, x[8], 11, 0x8771f681)
        MD5_H(c, d, a, b, x[11], 16, 0x6d9d6122)
        MD5_H(b, c, d, a, x[14], 23, 0xfde5380c)
        MD5_H(a, b, c, d, x[1], 4, 0xa4beea44)
        MD5_H(d, a, b, c, x[4], 11, 0x4bdecfa9)
        MD5_H(c, d, a, b, x[7], 16, 0xf6bb4b60)
        MD5_H(b, c, d, a, x[10], 23, 0xbebfbc70)
        MD5_H(a, b, c, d, x[13], 4, 0x289b7ec6)
        MD5_H(d, a, b, c, x[0], 11, 0xeaa127fa)
        MD5_H(c, d, a, b, x[3], 16, 0xd4ef3085)
        MD5_H(b, c, d, a, x[6], 23, 0x04881d05)
        MD5_H(a, b, c, d, x[9], 4, 0xd9d4d039)
        MD5_H(d, a, b, c, x[12], 11, 0xe6db99e5)
        MD5_H(c, d, a, b, x[15], 16, 0x1fa27cf8)
        MD5_H(b, c, d, a, x[2], 23, 0xc4ac5665)

        MD5_I(a, b, c, d, x[0], 6, 0xf4292244)
        MD5_I(d, a, b, c, x[7], 10, 0x432aff97)
        MD5_I(c, d, a, b, x[14], 15, 0xab9423a7)
        MD5_I(b, c, d, a, x[5], 21, 0xfc93a039)
        MD5_I(a, b, c, d, x[12], 6, 0x655b59c3)
        MD5_I(d, a, b, c, x[3], 10, 0x8f0ccc92)
        MD5_I(c, d, a, b, x[10], 15, 0xffeff47d)
        MD5_I(b, c, d, a, x[1], 21, 0x85845dd1)
        MD5_I(a, b, c, d, x[8], 6, 0x6fa87e4f)
        MD5_I(d, a, b, c, x[15], 10, 0xfe2ce6e0)
        MD5_I(c, d, a, b, x[6], 15, 0xa3014314)
        MD5_I(b, c, d, a, x[13], 21, 0x4e0811a1)
        MD5_I(a, b, c, d, x[4], 6, 0xf7537e82)
        MD5_I(d, a, b, c, x[11], 10, 0xbd3af235)
        MD5_I(c, d, a, b, x[2], 15, 0x2ad7d2bb)
        MD5_I(b, c, d, a, x[9], 21, 0xeb86d391)

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

}  // namespace

void Md5::Reset() {
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    length_ = 0;
    pendingSize_ = 0;
}

void Md5::Update(const void* data, std::size_t size) {
    auto p = static_cast<const std::uint8_t*>(data);
    length_ += size;
    if (pendingSize_ > 0) {
        const std::size_t take = std::min(size, sizeof pending_ - pendingSize_);
        std::memcpy(pending_ + pendingSize_, p, take);
        pendingSize_ += take;
        p += take;
        size -= take;
        if (pendingSize_ < sizeof pending_) return;
        Transform(state_, pending_, 1);
        pendingSize_ = 0;
    }
    if (size >= 64) {
        Transform(state_, p, size / 64);
        p += size & ~std::size_t{63};
        size &= 63;
    }
    if (size > 0) {
        std::memcpy(pending_, p, size);
        pendingSize_ = size;
    }
}

TMD5Digest Md5::Final() {
    const std::uint64_t bits = length_ * 8;
    std::uint8_t padding[72] = {0x80};
    const std::size_t padSize = (pendingSize_ < 56 ? 56 : 120) - pendingSize_;
    Update(padding, padSize);
    std::uint8_t lengthBytes[8];
    for (int i = 0; i < 8; ++i) lengthBytes[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    Update(lengthBytes, 8);
    TMD5Digest digest;
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k)
            digest[4 * i + k] = static_cast<std::uint8_t>(state_[i] >> (8 * k));
    return digest;
}

std::string DigestToHex(const TMD5Digest& digest) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(32);
    for (const std::uint8_t byte : digest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

}  // namespace support
