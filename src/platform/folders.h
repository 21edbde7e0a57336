// The user's and the machine's well-known folders.
#pragma once

#include <string>

namespace platform {

enum class KnownFolder { UserAppDataRoaming, UserAppDataLocal, UserDocuments, ProgramData };

// The folder's path with a trailing separator; empty when the system has none.
std::string KnownFolderPath(KnownFolder folder);

}  // namespace platform
