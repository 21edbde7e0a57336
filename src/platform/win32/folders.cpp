// Well-known folders from the shell.
#include <windows.h>
#include <shlobj.h>

#include "platform/folders.h"
#include "platform/win32/wide.h"

namespace platform {

std::string KnownFolderPath(KnownFolder folder) {
    int csidl = CSIDL_APPDATA;
    switch (folder) {
        case KnownFolder::UserAppDataRoaming:
            csidl = CSIDL_APPDATA;
            break;
        case KnownFolder::UserAppDataLocal:
            csidl = CSIDL_LOCAL_APPDATA;
            break;
        case KnownFolder::UserDocuments:
            csidl = CSIDL_PERSONAL;
            break;
        case KnownFolder::ProgramData:
            csidl = CSIDL_COMMON_APPDATA;
            break;
    }
    wchar_t path[MAX_PATH] = L"";
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
        return std::string();
    std::string result = win32::Narrow(path);
    if (!result.empty() && result.back() != '\\') result += '\\';
    return result;
}

}  // namespace platform
