// The MD5 message digest of RFC 1321, computed incrementally.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace support {

using TMD5Digest = std::array<std::uint8_t, 16>;

class Md5 {
  public:
    Md5() { Reset(); }
    // Starts a new computation (the initial state of RFC 1321).
    void Reset();
    void Update(const void* data, std::size_t size);
    // Pads, finishes and returns the digest; the object must be Reset before reuse.
    TMD5Digest Final();

  private:
    std::uint32_t state_[4];
    std::uint64_t length_ = 0;  // bytes fed so far
    std::uint8_t pending_[64];
    std::size_t pendingSize_ = 0;
};

// The digest as 32 upper-case hexadecimal digits, bytes in digest order.
std::string DigestToHex(const TMD5Digest& digest);

}  // namespace support
