#include "support/FileDigests.h"

#include <memory>

#include "crypto/Hex.h"
#include "crypto/Sha256.h"
#include "platform/fs.h"
#include "support/MD5Hasher.h"

namespace support {

FileDigests DigestFile(const std::string& path) {
    platform::fs::FileStream file(path, platform::fs::OpenMode::Read,
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
    const TMD5Digest md5Digest = md5.Final();
    return {crypto::ToHex(md5Digest), crypto::ToHex(sha256.Finish())};
}

}  // namespace support
