#include "agent/PackageVerification.h"

#include <algorithm>

namespace agent {

namespace {

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; });
    return text;
}

}  // namespace

bool DigestsMatch(const std::string& a, const std::string& b) {
    return Upper(a) == Upper(b);
}

bool ObtainPackage(const std::string& md5Arquivo, const TPackageFiles& files) {
    // Only a computed digest can match: an empty md5_arquivo must not pass for a file
    // that was never there.
    std::string digest;
    const auto matches = [&] { return !digest.empty() && DigestsMatch(digest, md5Arquivo); };
    if (files.Exists()) {
        digest = files.Digest();
        if (!matches()) files.Delete();  // whether it worked shows below
    }
    for (int attempt = 1;;) {
        if (matches() || attempt >= 4) break;
        if (files.Exists()) {
            // A mismatching file that could not be deleted before: try once more, and
            // count the pass when it is still there, since it blocks the download.
            files.Delete();
            if (files.Exists()) ++attempt;
            continue;
        }
        files.Download();
        if (!files.Exists()) {
            ++attempt;
            continue;
        }
        digest = files.Digest();
        if (matches()) break;
        ++attempt;
        files.Delete();
    }
    return matches();
}

}  // namespace agent
