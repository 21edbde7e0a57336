// SHA-256 (FIPS 180-4) with a streaming interface: reset, append bytes, finish.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace crypto {

using TSha256Digest = std::array<std::uint8_t, 32>;

class TSha256Context {
  public:
    TSha256Context() { Reset(); }

    void Reset();
    void Append(std::span<const std::uint8_t> bytes);
    void Append(std::string_view bytes);
    // Finishes the digest and returns it; the context is reset afterwards.
    TSha256Digest Finish();

  private:
    void ProcessBlock(const std::uint8_t* block);

    std::array<std::uint32_t, 8> fhash{};
    std::array<std::uint8_t, 64> fblock{};
    std::size_t fblock_used = 0;
    std::uint64_t flength = 0;  // bytes hashed so far
};

// SHA-256 of one byte string.
TSha256Digest Sha256(std::string_view bytes);

}  // namespace crypto
