// POSIX file system: open(2) with advisory locks standing in for sharing modes.
#include "platform/fs.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/exception.h"

namespace platform::fs {

namespace {

std::string ErrnoText(int code) {
    return std::strerror(code);
}

int FdOf(std::intptr_t handle) {
    return static_cast<int>(handle);
}

}  // namespace

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path) {
    if (path.empty()) return false;
    std::string dir = path;
    while (dir.size() > 1 && dir.back() == kPathDelim) dir.pop_back();
    if (DirectoryExists(dir)) return true;
    const auto slash = dir.find_last_of(kPathDelim);
    if (slash != std::string::npos && slash > 0) {
        if (!ForceDirectories(dir.substr(0, slash))) return false;
    }
    return ::mkdir(dir.c_str(), 0777) == 0 || (errno == EEXIST && DirectoryExists(dir));
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    // rename(2) replaces silently; keep the plain-rename rule of failing on an existing target.
    if (::access(to.c_str(), F_OK) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool RenameReplacing(const std::string& from, const std::string& to) {
    // rename(2) would replace a read-only file too (and root may write anything): a
    // target without a write bit for anyone is read-only, and stays as it is.
    struct stat st {};
    if (::stat(to.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0) {
        errno = EACCES;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

std::int64_t FileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return st.st_size;
}

std::string LastErrorText() {
    return ErrnoText(errno);
}

std::string ApplicationExeName() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return std::string();
    return std::string(buffer, static_cast<std::size_t>(n));
}

FileStream::FileStream(const std::string& path, OpenMode mode, ShareMode share) : path_(path) {
    int flags = O_CLOEXEC;
    switch (mode) {
        case OpenMode::Create:
            flags |= O_RDWR | O_CREAT;
            break;
        case OpenMode::Read:
            flags |= O_RDONLY;
            break;
        case OpenMode::Write:
            flags |= O_WRONLY;
            break;
        case OpenMode::ReadWrite:
            flags |= O_RDWR;
            break;
        // No truncation: on some file systems truncating makes the final close flush
        // everything written, which a large new file does not need.
        case OpenMode::CreateNew:
            flags |= O_RDWR | O_CREAT | O_EXCL;
            break;
    }
    const bool creating = mode == OpenMode::Create || mode == OpenMode::CreateNew;
    auto fail = [&](int code) {
        const std::string text = ErrnoText(code);
        if (creating) throw EFCreateError("Cannot create file \"" + path + "\". " + text, code);
        throw EFOpenError("Cannot open file \"" + path + "\". " + text, code);
    };
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) fail(errno);
    const int lock = share == ShareMode::Exclusive ? LOCK_EX : LOCK_SH;
    if (::flock(fd, lock | LOCK_NB) != 0) {
        const int code = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        fail(code);
    }
    // Truncate only once the lock is ours, so a file in use is never emptied.
    if (mode == OpenMode::Create && ::ftruncate(fd, 0) != 0) {
        const int code = errno;
        ::close(fd);
        fail(code);
    }
    handle_ = fd;
}

FileStream::~FileStream() {
    Close();
}

FileStream::FileStream(FileStream&& other) noexcept
    : path_(std::move(other.path_)), handle_(other.handle_) {
    other.handle_ = -1;
}

FileStream& FileStream::operator=(FileStream&& other) noexcept {
    if (this != &other) {
        Close();
        path_ = std::move(other.path_);
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

void FileStream::Close() noexcept {
    if (handle_ >= 0) ::close(FdOf(handle_));
    handle_ = -1;
}

std::size_t FileStream::Read(void* buffer, std::size_t count) {
    for (;;) {
        const ssize_t n = ::read(FdOf(handle_), buffer, count);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR)
            throw EInOutError("Read error on \"" + path_ + "\". " + ErrnoText(errno), errno);
    }
}

void FileStream::Write(const void* buffer, std::size_t count) {
    const char* p = static_cast<const char*>(buffer);
    while (count > 0) {
        const ssize_t n = ::write(FdOf(handle_), p, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw EInOutError("Write error on \"" + path_ + "\". " + ErrnoText(errno), errno);
        }
        p += n;
        count -= static_cast<std::size_t>(n);
    }
}

std::int64_t FileStream::Seek(std::int64_t offset, SeekOrigin origin) {
    const int whence = origin == SeekOrigin::Begin     ? SEEK_SET
                       : origin == SeekOrigin::Current ? SEEK_CUR
                                                       : SEEK_END;
    const off_t pos = ::lseek(FdOf(handle_), static_cast<off_t>(offset), whence);
    if (pos < 0) throw EInOutError("Seek error on \"" + path_ + "\". " + ErrnoText(errno), errno);
    return pos;
}

std::int64_t FileStream::Position() const {
    return ::lseek(FdOf(handle_), 0, SEEK_CUR);
}

std::int64_t FileStream::Size() const {
    struct stat st {};
    if (::fstat(FdOf(handle_), &st) != 0) return -1;
    return st.st_size;
}

void FileStream::SetSize(std::int64_t size) {
    if (::ftruncate(FdOf(handle_), static_cast<off_t>(size)) != 0)
        throw EInOutError("Cannot set the size of \"" + path_ + "\". " + ErrnoText(errno), errno);
}

void FileStream::Flush() {
    if (::fsync(FdOf(handle_)) != 0 && errno != EINVAL)
        throw EInOutError("Flush error on \"" + path_ + "\". " + ErrnoText(errno), errno);
}

}  // namespace platform::fs
