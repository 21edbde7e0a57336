#include "agent/Arguments.h"

#include <cstdint>
#include <limits>

namespace agent {

std::string TrimArgument(const std::string& argument) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::size_t first = 0;
    std::size_t last = argument.size();
    while (first < last && blank(argument[first])) ++first;
    while (last > first && blank(argument[last - 1])) --last;
    return argument.substr(first, last - first);
}

int ArgumentToInt(const std::string& argument) {
    std::size_t i = 0;
    while (i < argument.size() && argument[i] == ' ') ++i;
    bool negative = false;
    if (i < argument.size() && (argument[i] == '+' || argument[i] == '-'))
        negative = argument[i++] == '-';
    if (i == argument.size()) return 0;
    std::int64_t value = 0;
    for (; i < argument.size(); ++i) {
        const char c = argument[i];
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return 0;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<std::int32_t>::max()) return 0;
    return static_cast<int>(value);
}

}  // namespace agent
