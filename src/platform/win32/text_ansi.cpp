// The ANSI code page is the system's (CP_ACP); UTF-16 sits between it and UTF-8.
#include <windows.h>

#include "platform/text.h"
#include "platform/win32/wide.h"

namespace platform::text {

std::string AnsiToUtf8(const std::string& ansi) {
    if (ansi.empty()) return std::string();
    const int size = static_cast<int>(ansi.size());
    const int n = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, wide.data(), n);
    return win32::Narrow(wide);
}

std::string Utf8ToAnsi(const std::string& utf8) {
    if (utf8.empty()) return std::string();
    const std::wstring wide = win32::Widen(utf8);
    const int size = static_cast<int>(wide.size());
    const int n = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, ansi.data(), n, nullptr, nullptr);
    return ansi;
}

}  // namespace platform::text
