#include "platform/win32/wide.h"

#include <windows.h>

#include "platform/text.h"

namespace platform::win32 {

std::wstring Widen(const std::string& utf8) {
    const std::u16string wide = text::Utf8ToUtf16(utf8);
    return std::wstring(wide.begin(), wide.end());
}

std::string Narrow(const std::wstring& utf16) {
    return text::Utf16ToUtf8(std::u16string(utf16.begin(), utf16.end()));
}

std::string Narrow(const wchar_t* utf16) {
    return utf16 == nullptr ? std::string() : Narrow(std::wstring(utf16));
}

std::string SystemErrorText(unsigned long code) {
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring message = n > 0 && buffer != nullptr ? std::wstring(buffer, n) : std::wstring();
    if (buffer != nullptr) ::LocalFree(buffer);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' '))
        message.pop_back();
    if (message.empty()) return "System error " + std::to_string(code);
    return Narrow(message);
}

}  // namespace platform::win32
