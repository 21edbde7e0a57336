// File-system services: folders, existence, delete, rename and file streams with
// sharing modes. Paths are UTF-8 and use the platform separator.
#pragma once

#include <cstdint>
#include <string>

#include "platform/stream.h"

namespace platform::fs {

#if defined(_WIN32)
inline constexpr char kPathDelim = '\\';
#else
inline constexpr char kPathDelim = '/';
#endif

bool FileExists(const std::string& path);  // a regular file (not a folder)
bool DirectoryExists(const std::string& path);
// Creates the folder and every missing parent; true when the folder exists afterwards.
bool ForceDirectories(const std::string& path);
bool RemoveFile(const std::string& path);
// Renames; fails when the target exists (as the host platform's plain rename does).
bool RenameFile(const std::string& from, const std::string& to);
// Replaces `to` by `from` in one step (the target may exist). Fails, leaving both, when
// the target is read-only (no write permission for anyone; the read-only attribute).
bool RenameReplacing(const std::string& from, const std::string& to);
// Size of a file in bytes, -1 when it cannot be read.
std::int64_t FileSize(const std::string& path);
// Text of the operating system's last error (the one the previous call left).
std::string LastErrorText();

std::string IncludeTrailingPathDelimiter(const std::string& path);
std::string ExtractFilePath(const std::string& path);  // up to and with the last separator
std::string ExtractFileName(const std::string& path);  // after the last separator
// Full path of the running program.
std::string ApplicationExeName();

enum class OpenMode {
    Create,     // create or truncate, read and write
    Read,       // existing file, read only
    Write,      // existing file, write only
    ReadWrite,  // existing file, read and write
    CreateNew,  // a new, empty file, read and write; fails when the file exists
};

enum class ShareMode {
    DenyNone,   // others may read and write
    DenyWrite,  // others may read
    Exclusive,  // no one else may open it
};

using platform::SeekOrigin;

// A file opened with a sharing mode. On POSIX the sharing mode is an advisory lock:
// Exclusive takes an exclusive lock, the others a shared one, so an exclusive open fails
// while anyone else holds the file through this class, and vice versa.
// Opening fails with EFCreateError ("Cannot create file "%s". %s") for Create and with
// EFOpenError ("Cannot open file "%s". %s") otherwise; read and write failures raise
// EInOutError.
class FileStream : public Stream {
  public:
    FileStream(const std::string& path, OpenMode mode, ShareMode share);
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;
    FileStream(FileStream&& other) noexcept;
    FileStream& operator=(FileStream&& other) noexcept;

    // Reads up to `count` bytes; returns the number read, 0 at the end of the file.
    std::size_t Read(void* buffer, std::size_t count) override;
    // Writes all `count` bytes or raises.
    void Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
    std::int64_t Position() const override;
    std::int64_t Size() const override;
    void SetSize(std::int64_t size);
    // Pushes written data to the device.
    void Flush();
    const std::string& FileName() const { return path_; }

  private:
    void Close() noexcept;

    std::string path_;
    std::intptr_t handle_ = -1;
};

}  // namespace platform::fs
