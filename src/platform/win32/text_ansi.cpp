// The ANSI code page is the system's (CP_ACP); UTF-16 sits between it and UTF-8.
#include <windows.h>

#include <cstdio>

#include "platform/text.h"
#include "platform/win32/wide.h"

namespace platform::text {

namespace {

std::wstring AnsiToWide(const char* data, int size) {
    const int n = ::MultiByteToWideChar(CP_ACP, 0, data, size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_ACP, 0, data, size, wide.data(), n);
    return wide;
}

// The bytes of `wide` in the ANSI code page, or nothing when a character has no exact
// equivalent there: the system's default character used, or bytes that read back as
// another character (a best-fit mapping the flag did not stop).
bool WideToAnsiExactly(const std::wstring& wide, std::string& ansi) {
    const int size = static_cast<int>(wide.size());
    BOOL usedDefault = FALSE;
    const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0,
                                        nullptr, &usedDefault);
    if (n <= 0 || usedDefault) return false;
    ansi.assign(static_cast<std::size_t>(n), '\0');
    if (::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, ansi.data(), n,
                              nullptr, &usedDefault) != n ||
        usedDefault)
        return false;
    return AnsiToWide(ansi.data(), n) == wide;
}

[[noreturn]] void Refuse(const std::string& utf8, const std::wstring& wide) {
    // Find the first character (one UTF-16 unit, or a surrogate pair) the page lacks.
    std::wstring bad;
    for (std::size_t i = 0; i < wide.size();) {
        const bool pair = wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size() &&
                          wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF;
        const std::wstring one = wide.substr(i, pair ? 2 : 1);
        std::string ignored;
        if (!WideToAnsiExactly(one, ignored)) {
            bad = one;
            break;
        }
        i += one.size();
    }
    const std::string page = "The ANSI code page " + std::to_string(::GetACP());
    if (bad.empty()) throw EAnsiConversionError(page + " cannot hold the text \"" + utf8 + "\"");
    unsigned long code = bad[0];
    if (bad.size() == 2) code = 0x10000 + ((bad[0] - 0xD800UL) << 10) + (bad[1] - 0xDC00UL);
    char number[16];
    std::snprintf(number, sizeof number, "U+%04lX", code);
    throw EAnsiConversionError(page + " has no character " + win32::Narrow(bad) + " (" + number +
                               ") of the text \"" + utf8 + "\"");
}

}  // namespace

std::string AnsiToUtf8(const std::string& ansi) {
    if (ansi.empty()) return std::string();
    return win32::Narrow(AnsiToWide(ansi.data(), static_cast<int>(ansi.size())));
}

std::string Utf8ToAnsi(const std::string& utf8) {
    if (utf8.empty()) return std::string();
    const std::wstring wide = win32::Widen(utf8);
    // A system whose ANSI code page is UTF-8 holds every character.
    if (::GetACP() == CP_UTF8) return win32::Narrow(wide);
    std::string ansi;
    if (!WideToAnsiExactly(wide, ansi)) Refuse(utf8, wide);
    return ansi;
}

}  // namespace platform::text
