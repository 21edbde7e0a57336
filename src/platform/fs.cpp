// The portable half of the file-system services: path text.
#include "platform/fs.h"

namespace platform::fs {

std::string IncludeTrailingPathDelimiter(const std::string& path) {
    if (!path.empty() && path.back() == kPathDelim) return path;
    return path + kPathDelim;
}

std::string ExtractFilePath(const std::string& path) {
    const auto slash = path.find_last_of(kPathDelim);
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& path) {
    const auto slash = path.find_last_of(kPathDelim);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace platform::fs
