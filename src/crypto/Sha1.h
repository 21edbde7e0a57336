// SHA-1 (FIPS 180-1) with a streaming interface: reset, append bytes, finish.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "crypto/BlockHash.h"

namespace crypto {

using TSha1Digest = std::array<std::uint8_t, 20>;

class TSha1Context {
  public:
    TSha1Context() { sha1Reset(); }

    void sha1Reset();
    void sha1Input(std::span<const std::uint8_t> bytes);
    void sha1Input(std::string_view bytes);
    // Finishes the digest and returns it; the context is reset afterwards.
    TSha1Digest sha1Result();

  private:
    void ProcessBlock(const std::uint8_t* block);

    std::array<std::uint32_t, 5> fhash{};
    TBlockBuffer<64, 8> fbuffer;
};

// SHA-1 of one byte string.
TSha1Digest Sha1(std::string_view bytes);

}  // namespace crypto
