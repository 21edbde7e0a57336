// A version A.B.C.D as the release manager writes it and as the host executable reports
// it, and its composite number (major, then minor, release and build with four digits
// each: 2.1.0.15 is 2000100000015), the form the agent compares.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace admin {

struct VersionNumber {
    std::uint64_t major = 0, minor = 0, release = 0, build = 0;

    // The composite number; it fits the agent's argument 1 (at most 18 digits).
    std::uint64_t Composite() const;
    // The composite number as the update database's SELECT writes it (vl_versao): the
    // major part as it is, then the other parts with four digits each.
    std::string CompositeText() const;
    std::string Dotted() const;
};

// Four whole numbers separated by dots; the major part of at most 6 digits, the others
// of at most 4, so the composite number says the same as the dotted text. Nothing for
// any other text.
std::optional<VersionNumber> ParseVersion(const std::string& text);

// The dotted form of a composite number.
VersionNumber VersionFromComposite(std::uint64_t composite);

}  // namespace admin
