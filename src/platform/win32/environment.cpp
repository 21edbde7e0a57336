#include <windows.h>

#include "platform/environment.h"
#include "platform/win32/wide.h"

namespace platform {

std::optional<std::string> EnvironmentVariable(const std::string& name) {
    const std::wstring wname = win32::Widen(name);
    ::SetLastError(ERROR_SUCCESS);
    const DWORD size = ::GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
    if (size == 0) {
        if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
    }
    std::wstring value(size, L'\0');
    const DWORD n = ::GetEnvironmentVariableW(wname.c_str(), value.data(), size);
    value.resize(n);
    return win32::Narrow(value);
}

}  // namespace platform
