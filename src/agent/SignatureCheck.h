// The publisher's signature of a package, checked against the keys built into the agent.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace agent {

enum class TSignatureVerdict {
    Accepted,      // one of the keys accepts the signature
    Refused,       // no signature, not Base64 of a DER signature, or no key accepts it
    Unverifiable,  // no key accepts it and one could not be used at all (reason in `error`)
};

// `assinatura` is the row's text: Base64 (standard alphabet, with padding) of a DER ECDSA
// P-256 signature over the SHA-256 of `message`; spaces, tabs, CR and LF around it are
// ignored. `error` gives the cause of a refusal (in Portuguese, for the error box) or why a
// key could not be used.
TSignatureVerdict CheckSignature(std::span<const std::string_view> keys, const std::string& message,
                                 const std::string& assinatura, std::string& error);

}  // namespace agent
