// The console through CONIN$ and CONOUT$, so a secret is asked on the console even when
// standard input and output are redirected; echo is switched off in the input mode while
// it is typed.
#include "platform/console.h"

#include <windows.h>

#include <cstdio>

#include "platform/win32/wide.h"

namespace platform::console {

namespace {

class ConsoleHandle {
  public:
    explicit ConsoleHandle(const wchar_t* name)
        : handle_(::CreateFileW(name, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr)) {}
    ~ConsoleHandle() {
        if (Valid()) ::CloseHandle(handle_);
    }
    ConsoleHandle(const ConsoleHandle&) = delete;
    ConsoleHandle& operator=(const ConsoleHandle&) = delete;
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }

  private:
    HANDLE handle_;
};

void Write(HANDLE out, const std::wstring& text) {
    DWORD written = 0;
    ::WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

std::optional<std::string> ReadSecret(const std::string& prompt) {
    const ConsoleHandle in(L"CONIN$");
    const ConsoleHandle out(L"CONOUT$");
    DWORD mode = 0;
    if (!in.Valid() || !out.Valid() || !::GetConsoleMode(in.Get(), &mode)) return std::nullopt;
    Write(out.Get(), win32::Widen(prompt));
    ::SetConsoleMode(in.Get(), (mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT |
                                   ENABLE_PROCESSED_INPUT);
    std::wstring secret;
    bool ended = false;
    for (;;) {
        wchar_t c = 0;
        DWORD read = 0;
        if (!::ReadConsoleW(in.Get(), &c, 1, &read, nullptr) || read == 0) break;
        if (c == L'\n') {
            ended = true;
            break;
        }
        if (c != L'\r') secret += c;
    }
    ::SetConsoleMode(in.Get(), mode);
    Write(out.Get(), L"\r\n");
    if (!ended && secret.empty()) return std::nullopt;
    return win32::Narrow(secret);
}

void Write(Stream stream, const std::string& utf8) {
    std::FILE* file = stream == Stream::Output ? stdout : stderr;
    std::fflush(file);
    const HANDLE handle =
        ::GetStdHandle(stream == Stream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode)) {
        Write(handle, win32::Widen(utf8));
        return;
    }
    std::fwrite(utf8.data(), 1, utf8.size(), file);
    std::fflush(file);
}

}  // namespace platform::console
