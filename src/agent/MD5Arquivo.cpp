// The digest text of a file.
#include "agent/uTravikVersoes.h"
#include "support/MD5Hasher.h"

namespace agent {

std::string TfTravikVersoes::MD5Arquivo(const std::string& arquivo) {
    support::TMD5Hasher hasher;
    hasher.HashFile(arquivo);
    support::TMD5Digest digest;
    hasher.GetDigest(digest);
    return support::DigestToHex(digest);  // already upper case
}

}  // namespace agent
