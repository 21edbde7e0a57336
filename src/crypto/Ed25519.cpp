// Ed25519 signing; see Ed25519.h. The field is GF(2^255 - 19) with elements as five
// 51-bit limbs; points are in extended coordinates (X:Y:Z:T) with x = X/Z, y = Y/Z and
// xy = T/Z on the curve -x^2 + y^2 = 1 + d x^2 y^2. Scalars modulo the group order L are
// plain 256-bit numbers reduced bit by bit. Nothing here needs to be fast: a client signs
// once per login. Nor constant-time: the secret is the user's own password, signed on the
// user's own machine.
#include "crypto/Ed25519.h"

#include <cstring>

#include "crypto/Sha512.h"

namespace crypto {

namespace {

using u64 = std::uint64_t;
using u128 = unsigned __int128;
using Bytes32 = std::array<std::uint8_t, 32>;

constexpr u64 kMask51 = (u64{1} << 51) - 1;

// A field element: value = sum of limb[i] * 2^(51 i). Limbs stay below 2^52 between
// operations.
struct Fe {
    std::array<u64, 5> v{};
};

// Propagates carries so every limb is below 2^51 (plus a small excess in limb 0); the
// carry out of the top wraps around times 19, as 2^255 = 19 modulo p.
void Carry(std::array<u128, 5>& t, Fe& out) {
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < 4; ++i) {
            t[i + 1] += t[i] >> 51;
            t[i] &= kMask51;
        }
        t[0] += (t[4] >> 51) * 19;
        t[4] &= kMask51;
    }
    for (int i = 0; i < 5; ++i) out.v[i] = static_cast<u64>(t[i]);
}

Fe FeFromBytes(const std::uint8_t* s) {
    // 255 bits, little-endian; the top bit is not part of the number.
    u64 w[4];
    for (int i = 0; i < 4; ++i) {
        w[i] = 0;
        for (int j = 7; j >= 0; --j) w[i] = (w[i] << 8) | s[8 * i + j];
    }
    Fe f;
    f.v[0] = w[0] & kMask51;
    f.v[1] = ((w[0] >> 51) | (w[1] << 13)) & kMask51;
    f.v[2] = ((w[1] >> 38) | (w[2] << 26)) & kMask51;
    f.v[3] = ((w[2] >> 25) | (w[3] << 39)) & kMask51;
    f.v[4] = (w[3] >> 12) & kMask51;
    return f;
}

Fe FeFromBytes(const Bytes32& s) {
    return FeFromBytes(s.data());
}

Fe FeAdd(const Fe& a, const Fe& b) {
    std::array<u128, 5> t;
    for (int i = 0; i < 5; ++i) t[i] = u128{a.v[i]} + b.v[i];
    Fe r;
    Carry(t, r);
    return r;
}

Fe FeSub(const Fe& a, const Fe& b) {
    // a + 4p - b: 4p's limbs exceed any limb of b, so no limb goes below zero.
    constexpr u64 k4p0 = (u64{1} << 53) - 76;  // 4 (2^51 - 19)
    constexpr u64 k4pi = (u64{1} << 53) - 4;   // 4 (2^51 - 1)
    std::array<u128, 5> t;
    t[0] = u128{a.v[0]} + k4p0 - b.v[0];
    for (int i = 1; i < 5; ++i) t[i] = u128{a.v[i]} + k4pi - b.v[i];
    Fe r;
    Carry(t, r);
    return r;
}

Fe FeMul(const Fe& a, const Fe& b) {
    const auto& x = a.v;
    const auto& y = b.v;
    // Products that pass 2^255 come back times 19.
    const u64 y1_19 = y[1] * 19, y2_19 = y[2] * 19, y3_19 = y[3] * 19, y4_19 = y[4] * 19;
    std::array<u128, 5> t;
    t[0] = u128{x[0]} * y[0] + u128{x[1]} * y4_19 + u128{x[2]} * y3_19 + u128{x[3]} * y2_19 +
           u128{x[4]} * y1_19;
    t[1] = u128{x[0]} * y[1] + u128{x[1]} * y[0] + u128{x[2]} * y4_19 + u128{x[3]} * y3_19 +
           u128{x[4]} * y2_19;
    t[2] = u128{x[0]} * y[2] + u128{x[1]} * y[1] + u128{x[2]} * y[0] + u128{x[3]} * y4_19 +
           u128{x[4]} * y3_19;
    t[3] = u128{x[0]} * y[3] + u128{x[1]} * y[2] + u128{x[2]} * y[1] + u128{x[3]} * y[0] +
           u128{x[4]} * y4_19;
    t[4] = u128{x[0]} * y[4] + u128{x[1]} * y[3] + u128{x[2]} * y[2] + u128{x[3]} * y[1] +
           u128{x[4]} * y[0];
    Fe r;
    Carry(t, r);
    return r;
}

// a^(p-2) = 1/a (Fermat). p - 2 = 2^255 - 21: every bit from 254 down is set except
// bits 4 and 2.
Fe FeInvert(const Fe& a) {
    Fe r;
    r.v[0] = 1;
    for (int bit = 254; bit >= 0; --bit) {
        r = FeMul(r, r);
        if (bit != 4 && bit != 2) r = FeMul(r, a);
    }
    return r;
}

// The canonical 32-byte form (fully reduced below p).
Bytes32 FeToBytes(const Fe& f) {
    std::array<u128, 5> t;
    for (int i = 0; i < 5; ++i) t[i] = f.v[i];
    Fe h;
    Carry(t, h);
    // h < 2^255 + 19 < 2p. It is at least p exactly when h + 19 reaches 2^255; then the
    // result is h + 19 - 2^255.
    u64 q = (h.v[0] + 19) >> 51;
    for (int i = 1; i < 5; ++i) q = (h.v[i] + q) >> 51;
    u64 v[5];
    u64 carry = 19 * q;
    for (int i = 0; i < 5; ++i) {
        const u64 sum = h.v[i] + carry;
        v[i] = sum & kMask51;
        carry = sum >> 51;
    }
    // Any carry out of the top is the 2^255 being taken away.
    const u64 w0 = v[0] | (v[1] << 51);
    const u64 w1 = (v[1] >> 13) | (v[2] << 38);
    const u64 w2 = (v[2] >> 26) | (v[3] << 25);
    const u64 w3 = (v[3] >> 39) | (v[4] << 12);
    Bytes32 s;
    const u64 w[4] = {w0, w1, w2, w3};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 8; ++j) s[8 * i + j] = static_cast<std::uint8_t>(w[i] >> (8 * j));
    return s;
}

constexpr Bytes32 kD2 = {0x59, 0xf1, 0xb2, 0x26, 0x94, 0x9b, 0xd6, 0xeb, 0x56, 0xb1, 0x83,
                         0x82, 0x9a, 0x14, 0xe0, 0x00, 0x30, 0xd1, 0xf3, 0xee, 0xf2, 0x80,
                         0x8e, 0x19, 0xe7, 0xfc, 0xdf, 0x56, 0xdc, 0xd9, 0x06, 0x24};
// The base point: y = 4/5, x the even root.
constexpr Bytes32 kBaseX = {0x1a, 0xd5, 0x25, 0x8f, 0x60, 0x2d, 0x56, 0xc9, 0xb2, 0xa7, 0x25,
                            0x95, 0x60, 0xc7, 0x2c, 0x69, 0x5c, 0xdc, 0xd6, 0xfd, 0x31, 0xe2,
                            0xa4, 0xc0, 0xfe, 0x53, 0x6e, 0xcd, 0xd3, 0x36, 0x69, 0x21};
constexpr Bytes32 kBaseY = {0x58, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66,
                            0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66,
                            0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66};
// The group order L = 2^252 + 27742317777372353535851937790883648493.
constexpr Bytes32 kOrder = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                            0xa2, 0xde, 0xf9, 0xde, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10};

struct Point {
    Fe X, Y, Z, T;
};

Point Identity() {
    Point p;
    p.Y.v[0] = 1;
    p.Z.v[0] = 1;
    return p;
}

Point BasePoint() {
    Point p;
    p.X = FeFromBytes(kBaseX);
    p.Y = FeFromBytes(kBaseY);
    p.Z.v[0] = 1;
    p.T = FeMul(p.X, p.Y);
    return p;
}

// Addition in extended coordinates (the unified formula, also right for doubling).
Point Add(const Point& p, const Point& q) {
    static const Fe d2 = FeFromBytes(kD2);
    const Fe a = FeMul(FeSub(p.Y, p.X), FeSub(q.Y, q.X));
    const Fe b = FeMul(FeAdd(p.Y, p.X), FeAdd(q.Y, q.X));
    const Fe c = FeMul(FeMul(p.T, d2), q.T);
    const Fe zz = FeMul(p.Z, q.Z);
    const Fe d = FeAdd(zz, zz);
    const Fe e = FeSub(b, a);
    const Fe f = FeSub(d, c);
    const Fe g = FeAdd(d, c);
    const Fe h = FeAdd(b, a);
    return {FeMul(e, f), FeMul(g, h), FeMul(f, g), FeMul(e, h)};
}

// scalar × base point, the scalar as 32 little-endian bytes.
Point ScalarMultBase(const Bytes32& scalar) {
    const Point base = BasePoint();
    Point r = Identity();
    for (int bit = 255; bit >= 0; --bit) {
        r = Add(r, r);
        if ((scalar[static_cast<std::size_t>(bit / 8)] >> (bit % 8)) & 1) r = Add(r, base);
    }
    return r;
}

// y with the low bit of x in the top bit.
Bytes32 Encode(const Point& p) {
    const Fe zInverse = FeInvert(p.Z);
    const Bytes32 x = FeToBytes(FeMul(p.X, zInverse));
    Bytes32 s = FeToBytes(FeMul(p.Y, zInverse));
    s[31] = static_cast<std::uint8_t>(s[31] | ((x[0] & 1) << 7));
    return s;
}

// Numbers modulo L, as little-endian bytes.
bool AtLeastOrder(const Bytes32& a) {
    for (int i = 31; i >= 0; --i) {
        const auto k = static_cast<std::size_t>(i);
        if (a[k] != kOrder[k]) return a[k] > kOrder[k];
    }
    return true;
}

void SubtractOrder(Bytes32& a) {
    int borrow = 0;
    for (std::size_t i = 0; i < 32; ++i) {
        const int diff = a[i] - kOrder[i] - borrow;
        borrow = diff < 0;
        a[i] = static_cast<std::uint8_t>(diff + (borrow ? 256 : 0));
    }
}

// A little-endian number of any length modulo L, one bit at a time from the top: the
// remainder stays below L < 2^253, so doubling it never leaves 256 bits.
Bytes32 ReduceModOrder(const std::uint8_t* bytes, std::size_t size) {
    Bytes32 r{};
    for (std::size_t i = size * 8; i-- > 0;) {
        int carry = (bytes[i / 8] >> (i % 8)) & 1;
        for (std::size_t k = 0; k < 32; ++k) {
            const int doubled = (r[k] << 1) | carry;
            r[k] = static_cast<std::uint8_t>(doubled);
            carry = doubled >> 8;
        }
        if (AtLeastOrder(r)) SubtractOrder(r);
    }
    return r;
}

// (a × b + c) mod L for 32-byte numbers.
Bytes32 MulAddModOrder(const Bytes32& a, const Bytes32& b, const Bytes32& c) {
    std::array<u64, 64> wide{};
    for (std::size_t i = 0; i < 32; ++i)
        for (std::size_t j = 0; j < 32; ++j) wide[i + j] += u64{a[i]} * b[j];
    for (std::size_t i = 0; i < 32; ++i) wide[i] += c[i];
    std::array<std::uint8_t, 65> bytes{};
    u64 carry = 0;
    for (std::size_t i = 0; i < 64; ++i) {
        const u64 sum = wide[i] + carry;
        bytes[i] = static_cast<std::uint8_t>(sum);
        carry = sum >> 8;
    }
    bytes[64] = static_cast<std::uint8_t>(carry);
    return ReduceModOrder(bytes.data(), bytes.size());
}

struct Expanded {
    Bytes32 scalar;  // clamped
    Bytes32 prefix;
};

Expanded Expand(std::string_view secret) {
    const TSha512Digest h = Sha512(secret);
    Expanded e;
    std::memcpy(e.scalar.data(), h.data(), 32);
    std::memcpy(e.prefix.data(), h.data() + 32, 32);
    e.scalar[0] &= 248;
    e.scalar[31] &= 127;
    e.scalar[31] |= 64;
    return e;
}

std::string_view View(const Bytes32& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

TEd25519PublicKey Ed25519PublicKey(std::string_view secret) {
    return Encode(ScalarMultBase(Expand(secret).scalar));
}

TEd25519Signature Ed25519Sign(std::string_view secret, std::string_view message) {
    const Expanded e = Expand(secret);
    const Bytes32 publicKey = Encode(ScalarMultBase(e.scalar));

    TSha512Context hash;
    hash.Append(View(e.prefix));
    hash.Append(message);
    const TSha512Digest rDigest = hash.Finish();
    const Bytes32 r = ReduceModOrder(rDigest.data(), rDigest.size());
    const Bytes32 R = Encode(ScalarMultBase(r));

    hash.Append(View(R));
    hash.Append(View(publicKey));
    hash.Append(message);
    const TSha512Digest kDigest = hash.Finish();
    const Bytes32 k = ReduceModOrder(kDigest.data(), kDigest.size());
    const Bytes32 S = MulAddModOrder(k, e.scalar, r);

    TEd25519Signature signature;
    std::memcpy(signature.data(), R.data(), 32);
    std::memcpy(signature.data() + 32, S.data(), 32);
    return signature;
}

}  // namespace crypto
