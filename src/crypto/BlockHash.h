// What the SHA family's hashes share: the message cut into fixed blocks, the padding
// that ends it (0x80, zeros, the length in bits big-endian), and big-endian words.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace crypto {

// Collects bytes into blocks of BlockSize bytes and hands each full block to a
// compression function; Pad ends the message with a length field of LengthSize bytes.
template <std::size_t BlockSize, std::size_t LengthSize>
class TBlockBuffer {
  public:
    void Reset() {
        fused = 0;
        flength = 0;
    }

    // Calls process(const std::uint8_t* block) for every block completed by bytes.
    template <class Process>
    void Append(std::span<const std::uint8_t> bytes, Process process) {
        flength += bytes.size();
        const std::uint8_t* p = bytes.data();
        std::size_t left = bytes.size();
        if (fused > 0) {
            const std::size_t take = std::min(left, BlockSize - fused);
            std::memcpy(fblock.data() + fused, p, take);
            fused += take;
            p += take;
            left -= take;
            if (fused < BlockSize) return;
            process(fblock.data());
            fused = 0;
        }
        for (; left >= BlockSize; p += BlockSize, left -= BlockSize) process(p);
        if (left > 0) std::memcpy(fblock.data(), p, left);
        fused = left;
    }

    // Appends the padding, so that the last block reaches process.
    template <class Process>
    void Pad(Process process) {
        constexpr std::size_t kLengthAt = BlockSize - LengthSize;
        // The length in bits, as a number of up to 128 bits (well below 2^64 bytes).
        const std::uint64_t high = flength >> 61, low = flength << 3;
        std::uint8_t pad[BlockSize + LengthSize] = {0x80};
        const std::size_t padLength =
            fused < kLengthAt ? kLengthAt - fused : BlockSize + kLengthAt - fused;
        for (std::size_t i = 0; i < LengthSize && i < 16; ++i) {
            const std::uint64_t word = i < 8 ? low : high;
            pad[padLength + LengthSize - 1 - i] = static_cast<std::uint8_t>(word >> (8 * (i % 8)));
        }
        Append(std::span<const std::uint8_t>(pad, padLength + LengthSize), process);
    }

  private:
    std::array<std::uint8_t, BlockSize> fblock{};
    std::size_t fused = 0;
    std::uint64_t flength = 0;  // bytes hashed so far
};

// The big-endian word at p.
template <class Word>
Word LoadBigEndian(const std::uint8_t* p) {
    Word w = 0;
    for (std::size_t j = 0; j < sizeof(Word); ++j) w = w << 8 | p[j];
    return w;
}

// The words of a hash state, big-endian, as its digest.
template <std::size_t DigestSize, class Word, std::size_t N>
std::array<std::uint8_t, DigestSize> StoreBigEndian(const std::array<Word, N>& words) {
    static_assert(DigestSize == N * sizeof(Word));
    std::array<std::uint8_t, DigestSize> digest;
    for (std::size_t i = 0; i < N; ++i)
        for (std::size_t j = 0; j < sizeof(Word); ++j)
            digest[sizeof(Word) * i + j] =
                static_cast<std::uint8_t>(words[i] >> (8 * (sizeof(Word) - 1 - j)));
    return digest;
}

}  // namespace crypto
