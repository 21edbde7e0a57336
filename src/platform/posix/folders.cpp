// Well-known folders after the XDG base-directory conventions.
#include "platform/folders.h"

#include <cstdlib>

namespace platform {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string WithSlash(std::string path) {
    if (!path.empty() && path.back() != '/') path += '/';
    return path;
}

std::string UnderHome(const char* variable, const char* fallback) {
    if (const std::string value = Env(variable); !value.empty()) return WithSlash(value);
    const std::string home = Env("HOME");
    return home.empty() ? std::string() : WithSlash(WithSlash(home) + fallback);
}

}  // namespace

std::string KnownFolderPath(KnownFolder folder) {
    switch (folder) {
        case KnownFolder::UserAppDataRoaming:
            return UnderHome("XDG_CONFIG_HOME", ".config");
        case KnownFolder::UserAppDataLocal:
            return UnderHome("XDG_DATA_HOME", ".local/share");
        case KnownFolder::UserDocuments:
            return UnderHome("XDG_DOCUMENTS_DIR", "Documents");
        case KnownFolder::ProgramData:
            return "/var/lib/";
    }
    return std::string();
}

}  // namespace platform
