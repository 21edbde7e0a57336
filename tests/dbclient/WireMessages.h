// Server messages of the client/server protocol, built byte by byte for scripted servers.
#pragma once

#include <cstdint>
#include <string>

namespace wire {

inline const std::string kScramble = "abcdefghijklmnopqrst";

// `n` bytes of `v`, little-endian.
inline std::string LE(std::uint64_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

inline std::string Packet(std::uint8_t seq, const std::string& payload) {
    return LE(payload.size(), 3) + static_cast<char>(seq) + payload;
}

// Greeting of protocol 10; without `secondPart` it ends after the capabilities, as
// servers before 4.1 send it.
inline std::string Greeting(const std::string& version, std::uint32_t caps, bool secondPart,
                            std::uint8_t protocol = 10) {
    std::string g = std::string(1, static_cast<char>(protocol)) + version + '\0' + LE(77, 4) +
                    kScramble.substr(0, 8) + '\0' + LE(caps, 2);
    if (secondPart) g += '\x08' + LE(2, 2) + std::string(13, '\0') + kScramble.substr(8) + '\0';
    return g;
}

inline std::string Ok(std::uint32_t status = 2) {
    return std::string(1, '\0') + '\0' + '\0' + LE(status, 2) + LE(0, 2);
}

}  // namespace wire
