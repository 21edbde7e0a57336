// SHA-512 (FIPS 180-4) with a streaming interface: reset, append bytes, finish.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace crypto {

using TSha512Digest = std::array<std::uint8_t, 64>;

class TSha512Context {
  public:
    TSha512Context() { Reset(); }

    void Reset();
    void Append(std::span<const std::uint8_t> bytes);
    void Append(std::string_view bytes);
    // Finishes the digest and returns it; the context is reset afterwards.
    TSha512Digest Finish();

  private:
    void ProcessBlock(const std::uint8_t* block);

    std::array<std::uint64_t, 8> fhash{};
    std::array<std::uint8_t, 128> fblock{};
    std::size_t fblock_used = 0;
    std::uint64_t flength = 0;  // bytes hashed so far (well below 2^61 in practice)
};

// SHA-512 of one byte string.
TSha512Digest Sha512(std::string_view bytes);

}  // namespace crypto
