// The MD5 and the SHA-256 of a file, read once: the package check compares the first
// with the published digest, the signature covers the second.
#pragma once

#include <string>

namespace support {

struct FileDigests {
    std::string md5;     // 32 lower-case hexadecimal digits
    std::string sha256;  // 64 lower-case hexadecimal digits
};

// Reads the file once, block by block (shared with readers and writers, as
// TMD5Hasher::HashFile opens it). The file system's errors propagate.
FileDigests DigestFile(const std::string& path);

}  // namespace support
