// The MD5 hash component: hashes a buffer, a file, a stream or a text and keeps the
// last digest.
#pragma once

#include <memory>

#include "support/Hasher.h"
#include "support/Md5.h"

namespace support {

class TMD5Hasher : public THasher {
  public:
    // Size of the read buffer: files are read in blocks of this size through one
    // buffer, so memory stays bounded whatever the file's size.
    static constexpr std::size_t kBufferSize = 64 * 1024;

    void HashBuffer(const void* buffer, std::size_t size) override;
    // Opens the file read-only, sharing it with readers and writers.
    void HashFile(const std::string& fileName) override;
    void HashStream(platform::Stream& stream) override;
    void HashString(const std::string& text) override;

    void GetDigest(TMD5Digest& digest) const { digest = FDigest; }

  private:
    std::unique_ptr<std::uint8_t[]> FBuffer;
    TMD5Digest FDigest{};
};

}  // namespace support
