// The publisher's public keys built into the agent (the build setting TRAVIK_SIGNING_KEYS),
// each the DER SubjectPublicKeyInfo of an ECDSA P-256 key. The definition is generated at
// configure time by cmake/TravikSigningKeys.cmake and linked into the program.
#pragma once

#include <span>
#include <string_view>

namespace agent {

// Empty when the agent was built without keys: packages then need no signature.
std::span<const std::string_view> BuiltInSigningKeys();

}  // namespace agent
