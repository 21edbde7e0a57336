// The composite version number: the major part followed by the minor, release and build
// parts, each left-filled with 0 to four digits (2.1.0.15 is 2000100000015). The
// installed version reaches the agent in this form as its argument 1.
#pragma once

#include <cstdint>
#include <string>

namespace agent {

// The composite number of a version as the update database computes it: the major part
// in decimal, then each other part in decimal filled with "0" on the left to four
// characters, or cut to its first four characters when longer.
std::string CompositeVersion(std::uint64_t major, std::uint64_t minor, std::uint64_t release,
                             std::uint64_t build);

// Checks argument 1 (the installed version), which goes into the database statements
// unquoted: it must be 1 to 18 decimal digits, so that it is a number and fits a signed
// 64-bit integer. Otherwise raises platform::Exception with a message that names the
// argument.
void ValidateCurrentVersion(const std::string& vsVersaoAtual);

// Checks a composite number as the update database returns it (vl_versao), before it is
// recorded in the INI file for the host application: decimal digits only, so that no
// line or section can be slipped into the file. Otherwise raises platform::Exception
// with a message that names vl_versao.
void ValidatePublishedVersion(const std::string& vlVersao);

}  // namespace agent
