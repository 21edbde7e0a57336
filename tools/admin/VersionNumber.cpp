#include "admin/VersionNumber.h"

#include <charconv>

#include "agent/CompositeVersion.h"

namespace admin {

namespace {

constexpr std::uint64_t kPart = 10000;

bool ParsePart(const std::string& text, std::size_t maxDigits, std::uint64_t& value) {
    if (text.empty() || text.size() > maxDigits) return false;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

}  // namespace

std::uint64_t VersionNumber::Composite() const {
    return ((major * kPart + minor) * kPart + release) * kPart + build;
}

std::string VersionNumber::CompositeText() const {
    return agent::CompositeVersion(major, minor, release, build);
}

std::string VersionNumber::Dotted() const {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(release) +
           "." + std::to_string(build);
}

std::optional<VersionNumber> ParseVersion(const std::string& text) {
    std::string parts[4];
    std::size_t count = 0, start = 0;
    for (;;) {
        const auto dot = text.find('.', start);
        if (count == 4) return std::nullopt;
        parts[count++] = text.substr(start, dot == std::string::npos ? dot : dot - start);
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    VersionNumber version;
    if (count != 4 || !ParsePart(parts[0], 6, version.major) ||
        !ParsePart(parts[1], 4, version.minor) || !ParsePart(parts[2], 4, version.release) ||
        !ParsePart(parts[3], 4, version.build))
        return std::nullopt;
    return version;
}

VersionNumber VersionFromComposite(std::uint64_t composite) {
    VersionNumber version;
    version.build = composite % kPart;
    version.release = composite / kPart % kPart;
    version.minor = composite / (kPart * kPart) % kPart;
    version.major = composite / (kPart * kPart * kPart);
    return version;
}

}  // namespace admin
