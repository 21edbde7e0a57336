// Named pipes through CreateFileW, WaitNamedPipeW and SetNamedPipeHandleState.
#include <windows.h>

#include "platform/pipe.h"
#include "platform/win32/wide.h"

namespace platform::pipe {

OpenResult Open(const std::string& host, const std::string& name, unsigned busyWaitMs, int retries,
                pipe_t& handle, unsigned long& systemError) {
    handle = kInvalidPipe;
    const std::wstring path = win32::Widen("\\\\" + host + "\\pipe\\" + name);
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0;; ++attempt) {
        h = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          0, nullptr);
        if (h != INVALID_HANDLE_VALUE) break;
        systemError = ::GetLastError();
        if (systemError != ERROR_PIPE_BUSY || attempt >= retries) return OpenResult::OpenFailed;
        if (!::WaitNamedPipeW(path.c_str(), busyWaitMs)) {
            systemError = ::GetLastError();
            return OpenResult::WaitFailed;
        }
    }
    DWORD mode = PIPE_READMODE_BYTE | PIPE_WAIT;
    if (!::SetNamedPipeHandleState(h, &mode, nullptr, nullptr)) {
        systemError = ::GetLastError();
        ::CloseHandle(h);
        return OpenResult::StateFailed;
    }
    systemError = 0;
    handle = reinterpret_cast<pipe_t>(h);
    return OpenResult::Opened;
}

long Read(pipe_t handle, void* buffer, std::size_t size) {
    DWORD n = 0;
    const DWORD piece = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!::ReadFile(reinterpret_cast<HANDLE>(handle), buffer, piece, &n, nullptr)) {
        // The server closed its end: the end of the stream, as a socket reports it.
        return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    return static_cast<long>(n);
}

long Write(pipe_t handle, const void* buffer, std::size_t size) {
    DWORD n = 0;
    const DWORD piece = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!::WriteFile(reinterpret_cast<HANDLE>(handle), buffer, piece, &n, nullptr)) return -1;
    return static_cast<long>(n);
}

void Close(pipe_t handle) {
    if (handle != kInvalidPipe) ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}

}  // namespace platform::pipe
