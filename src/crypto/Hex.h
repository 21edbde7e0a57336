// Bytes as lower-case hexadecimal digits, two per byte, in order.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace crypto {

std::string ToHex(std::span<const std::uint8_t> bytes);

}  // namespace crypto
