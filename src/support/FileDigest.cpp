#include "support/FileDigest.h"

#include <memory>

#include "crypto/Hex.h"
#include "crypto/Sha256.h"
#include "platform/fs.h"
#include "support/MD5Hasher.h"
#include "support/Md5.h"

namespace support {

TFileDigests DigestFile(const std::string& fileName) {
    platform::fs::FileStream file(fileName, platform::fs::OpenMode::Read,
                                  platform::fs::ShareMode::DenyNone);
    const auto buffer = std::make_unique<std::uint8_t[]>(TMD5Hasher::kBufferSize);
    Md5 md5;
    crypto::TSha256Context sha256;
    for (;;) {
        const std::size_t count = file.Read(buffer.get(), TMD5Hasher::kBufferSize);
        if (count == 0) break;
        md5.Update(buffer.get(), count);
        sha256.Append(std::span<const std::uint8_t>(buffer.get(), count));
    }
    return {DigestToHex(md5.Final()), crypto::ToHex(sha256.Finish())};
}

}  // namespace support
