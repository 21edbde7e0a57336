#include "support/MD5Hasher.h"

#include "platform/fs.h"

namespace support {

void TMD5Hasher::HashBuffer(const void* buffer, std::size_t size) {
    Md5 md5;
    md5.Update(buffer, size);
    FDigest = md5.Final();
}

void TMD5Hasher::HashFile(const std::string& fileName) {
    platform::fs::FileStream file(fileName, platform::fs::OpenMode::Read,
                                  platform::fs::ShareMode::DenyNone);
    HashStream(file);
}

void TMD5Hasher::HashStream(platform::Stream& stream) {
    if (!FBuffer) FBuffer = std::make_unique<std::uint8_t[]>(kBufferSize);
    Md5 md5;
    for (;;) {
        const std::size_t count = stream.Read(FBuffer.get(), kBufferSize);
        if (count == 0) break;
        md5.Update(FBuffer.get(), count);
    }
    FDigest = md5.Final();
}

void TMD5Hasher::HashString(const std::string& text) {
    HashBuffer(text.data(), text.size());
}

}  // namespace support
