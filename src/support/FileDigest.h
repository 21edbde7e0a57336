// The MD5 and SHA-256 of a file, read once.
#pragma once

#include <string>

namespace support {

struct TFileDigests {
    std::string md5;     // 32 upper-case hexadecimal digits, as the MD5 hasher gives them
    std::string sha256;  // 64 lower-case hexadecimal digits
};

// Opens the file read-only, sharing it with readers and writers, and reads it once in
// blocks; fails like TMD5Hasher::HashFile on a file that cannot be opened or read.
TFileDigests DigestFile(const std::string& fileName);

}  // namespace support
