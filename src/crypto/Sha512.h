// SHA-512 (FIPS 180-4) with a streaming interface: reset, append bytes, finish.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "crypto/BlockHash.h"

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
    TBlockBuffer<128, 16> fbuffer;
};

// SHA-512 of one byte string.
TSha512Digest Sha512(std::string_view bytes);

}  // namespace crypto
