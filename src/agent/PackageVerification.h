// The verification loop of a package download: keep a matching copy, otherwise fetch the
// file and check its digest, with at most three downloads.
#pragma once

#include <functional>
#include <string>

namespace agent {

// The file operations the loop works with (on the package path).
struct TPackageFiles {
    std::function<bool()> Exists;
    std::function<std::string()> Digest;  // MD5 of the file as 32 hexadecimal digits
    std::function<void()> Delete;         // failure shows as the file still existing
    std::function<void()> Download;       // one transfer; the file exists afterwards on success
};

// Digests compared without regard to letter case; any other difference is a mismatch.
bool DigestsMatch(const std::string& a, const std::string& b);

// Makes sure the package file matches `md5Arquivo`: an existing file that matches is
// kept; one that does not is deleted and fetched; a fetched file that does not match is
// deleted and fetched again, up to three downloads in all. A mismatching file that
// cannot be deleted counts as an attempt each time it is found, so the loop always ends.
// Returns true when the file at the end has been hashed and matches `md5Arquivo` (an empty
// `md5Arquivo` never matches). Errors of the operations propagate.
bool ObtainPackage(const std::string& md5Arquivo, const TPackageFiles& files);

}  // namespace agent
