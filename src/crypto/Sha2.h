// The compression function that SHA-256 and SHA-512 share: the same message schedule and
// rounds, on 32- or 64-bit words with their own rotations and round constants.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "crypto/BlockHash.h"

namespace crypto {

// Traits: Word, and the rotations (the last of each small sigma is a shift) of
// Sigma0, Sigma1 (rounds) and sigma0, sigma1 (message schedule).
template <class Traits, std::size_t Rounds>
void Sha2ProcessBlock(std::array<typename Traits::Word, 8>& hash, const std::uint8_t* block,
                      const typename Traits::Word (&round)[Rounds]) {
    using Word = typename Traits::Word;
    using std::rotr;
    constexpr auto& S0 = Traits::kSigma0;
    constexpr auto& S1 = Traits::kSigma1;
    constexpr auto& s0 = Traits::kSchedule0;
    constexpr auto& s1 = Traits::kSchedule1;

    Word w[Rounds];
    for (std::size_t t = 0; t < 16; ++t) w[t] = LoadBigEndian<Word>(block + sizeof(Word) * t);
    for (std::size_t t = 16; t < Rounds; ++t) {
        const Word x = w[t - 15], y = w[t - 2];
        w[t] = w[t - 16] + (rotr(x, s0[0]) ^ rotr(x, s0[1]) ^ (x >> s0[2])) + w[t - 7] +
               (rotr(y, s1[0]) ^ rotr(y, s1[1]) ^ (y >> s1[2]));
    }

    Word a = hash[0], b = hash[1], c = hash[2], d = hash[3];
    Word e = hash[4], f = hash[5], g = hash[6], h = hash[7];
    for (std::size_t t = 0; t < Rounds; ++t) {
        const Word t1 = h + (rotr(e, S1[0]) ^ rotr(e, S1[1]) ^ rotr(e, S1[2])) +
                        ((e & f) ^ (~e & g)) + round[t] + w[t];
        const Word t2 =
            (rotr(a, S0[0]) ^ rotr(a, S0[1]) ^ rotr(a, S0[2])) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    hash[0] += a;
    hash[1] += b;
    hash[2] += c;
    hash[3] += d;
    hash[4] += e;
    hash[5] += f;
    hash[6] += g;
    hash[7] += h;
}

}  // namespace crypto
