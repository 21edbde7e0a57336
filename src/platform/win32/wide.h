// UTF-8 inside, UTF-16 at the Win32 boundary: the conversions every Win32 source uses.
#pragma once

#include <string>

namespace platform::win32 {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);
std::string Narrow(const wchar_t* utf16);
// The system's text for an error number of GetLastError(), without the trailing line end.
std::string SystemErrorText(unsigned long code);

}  // namespace platform::win32
