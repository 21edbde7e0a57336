// Win32 file system: UTF-16 paths, CreateFileW sharing modes, MoveFileExW.
#include <windows.h>

#include "platform/exception.h"
#include "platform/fs.h"
#include "platform/win32/wide.h"

namespace platform::fs {

namespace {

HANDLE HandleOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

constexpr std::intptr_t kNoHandle = -1;  // INVALID_HANDLE_VALUE

DWORD Attributes(const std::string& path) {
    return ::GetFileAttributesW(win32::Widen(path).c_str());
}

}  // namespace

bool FileExists(const std::string& path) {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ForceDirectories(const std::string& path) {
    if (path.empty()) return false;
    std::string dir = path;
    while (dir.size() > 1 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
    if (DirectoryExists(dir)) return true;
    const auto slash = dir.find_last_of("\\/");
    // A drive ("C:") or a share root needs no creating.
    if (slash != std::string::npos && slash > 0 && dir[slash - 1] != ':' &&
        dir[slash - 1] != '\\') {
        if (!ForceDirectories(dir.substr(0, slash))) return false;
    }
    return ::CreateDirectoryW(win32::Widen(dir).c_str(), nullptr) != 0 ||
           (::GetLastError() == ERROR_ALREADY_EXISTS && DirectoryExists(dir));
}

bool RemoveFile(const std::string& path) {
    return ::DeleteFileW(win32::Widen(path).c_str()) != 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return ::MoveFileExW(win32::Widen(from).c_str(), win32::Widen(to).c_str(), 0) != 0;
}

bool RenameReplacing(const std::string& from, const std::string& to) {
    // A read-only target is refused (access denied) and stays as it is. The system does
    // so itself; the check makes sure of it where an emulation of the system would not.
    const DWORD target = Attributes(to);
    if (target != INVALID_FILE_ATTRIBUTES && (target & FILE_ATTRIBUTE_READONLY) != 0) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return ::MoveFileExW(win32::Widen(from).c_str(), win32::Widen(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::int64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(win32::Widen(path).c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string LastErrorText() {
    return win32::SystemErrorText(::GetLastError());
}

std::string ApplicationExeName() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::string();
        if (n < buffer.size()) {
            buffer.resize(n);
            return win32::Narrow(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

FileStream::FileStream(const std::string& path, OpenMode mode, ShareMode share) : path_(path) {
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
        case OpenMode::Create:
            disposition = CREATE_ALWAYS;
            break;
        case OpenMode::Read:
            access = GENERIC_READ;
            break;
        case OpenMode::Write:
            access = GENERIC_WRITE;
            break;
        case OpenMode::ReadWrite:
            break;
        case OpenMode::CreateNew:
            disposition = CREATE_NEW;
            break;
    }
    DWORD shareFlags = 0;
    switch (share) {
        case ShareMode::DenyNone:
            shareFlags = FILE_SHARE_READ | FILE_SHARE_WRITE;
            break;
        case ShareMode::DenyWrite:
            shareFlags = FILE_SHARE_READ;
            break;
        case ShareMode::Exclusive:
            shareFlags = 0;
            break;
    }
    const HANDLE h = ::CreateFileW(win32::Widen(path).c_str(), access, shareFlags, nullptr,
                                   disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        const std::string text = win32::SystemErrorText(code);
        const int number = static_cast<int>(code);
        if (mode == OpenMode::Create || mode == OpenMode::CreateNew)
            throw EFCreateError("Cannot create file \"" + path + "\". " + text, number);
        throw EFOpenError("Cannot open file \"" + path + "\". " + text, number);
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
}

FileStream::~FileStream() {
    Close();
}

FileStream::FileStream(FileStream&& other) noexcept
    : path_(std::move(other.path_)), handle_(other.handle_) {
    other.handle_ = kNoHandle;
}

FileStream& FileStream::operator=(FileStream&& other) noexcept {
    if (this != &other) {
        Close();
        path_ = std::move(other.path_);
        handle_ = other.handle_;
        other.handle_ = kNoHandle;
    }
    return *this;
}

void FileStream::Close() noexcept {
    if (handle_ != kNoHandle) ::CloseHandle(HandleOf(handle_));
    handle_ = kNoHandle;
}

namespace {

[[noreturn]] void Fail(const char* what, const std::string& path) {
    const DWORD code = ::GetLastError();
    throw EInOutError(std::string(what) + " \"" + path + "\". " + win32::SystemErrorText(code),
                      static_cast<int>(code));
}

}  // namespace

std::size_t FileStream::Read(void* buffer, std::size_t count) {
    char* p = static_cast<char*>(buffer);
    std::size_t total = 0;
    while (count > 0) {
        const DWORD piece = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
        DWORD n = 0;
        if (!::ReadFile(HandleOf(handle_), p, piece, &n, nullptr)) Fail("Read error on", path_);
        if (n == 0) break;
        total += n;
        p += n;
        count -= n;
        if (n < piece) break;
    }
    return total;
}

void FileStream::Write(const void* buffer, std::size_t count) {
    const char* p = static_cast<const char*>(buffer);
    while (count > 0) {
        const DWORD piece = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
        DWORD n = 0;
        if (!::WriteFile(HandleOf(handle_), p, piece, &n, nullptr) || n == 0)
            Fail("Write error on", path_);
        p += n;
        count -= n;
    }
}

std::int64_t FileStream::Seek(std::int64_t offset, SeekOrigin origin) {
    const DWORD method = origin == SeekOrigin::Begin     ? FILE_BEGIN
                         : origin == SeekOrigin::Current ? FILE_CURRENT
                                                         : FILE_END;
    LARGE_INTEGER distance{};
    distance.QuadPart = offset;
    LARGE_INTEGER position{};
    if (!::SetFilePointerEx(HandleOf(handle_), distance, &position, method))
        Fail("Seek error on", path_);
    return position.QuadPart;
}

std::int64_t FileStream::Position() const {
    LARGE_INTEGER zero{};
    LARGE_INTEGER position{};
    if (!::SetFilePointerEx(HandleOf(handle_), zero, &position, FILE_CURRENT)) return -1;
    return position.QuadPart;
}

std::int64_t FileStream::Size() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(HandleOf(handle_), &size)) return -1;
    return size.QuadPart;
}

void FileStream::SetSize(std::int64_t size) {
    const std::int64_t keep = Position();
    LARGE_INTEGER at{};
    at.QuadPart = size;
    if (!::SetFilePointerEx(HandleOf(handle_), at, nullptr, FILE_BEGIN) ||
        !::SetEndOfFile(HandleOf(handle_)))
        Fail("Cannot set the size of", path_);
    at.QuadPart = keep;
    ::SetFilePointerEx(HandleOf(handle_), at, nullptr, FILE_BEGIN);
}

void FileStream::Flush() {
    if (!::FlushFileBuffers(HandleOf(handle_))) Fail("Flush error on", path_);
}

}  // namespace platform::fs
