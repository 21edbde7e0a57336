// Package signatures on the publisher's side: signing a new version with the private key,
// and checking a published one with public keys, over the message the agent verifies.
#pragma once

#include <string>
#include <vector>

#include "admin/VersionRows.h"

namespace admin {

// The text of a key file; raises platform::Exception naming the option when it cannot
// be read.
std::string ReadKeyFile(const std::string& path, const std::string& option);

// The Base64 of the DER ECDSA P-256 signature of the version's signed message. Raises
// platform::Exception with the cause (a key that is not a P-256 private key, the OpenSSL
// library missing) and what to do.
std::string SignPackage(const std::string& privateKeyPem, const NewVersion& version,
                        const std::string& sha256Hex);

// The DER SubjectPublicKeyInfo of each "PUBLIC KEY" block of a PEM text. Raises
// platform::Exception when a block is of another kind or the text holds none.
std::vector<std::string> PublicKeysFromPem(const std::string& pem);

// Checks the row's signature over the file with the given SHA-256 as an agent does:
// returns an empty text when one of the keys accepts it, else why not.
std::string SignatureProblem(const PublishedVersion& version, const std::string& sha256Hex,
                             const std::vector<std::string>& publicKeysDer);

}  // namespace admin
