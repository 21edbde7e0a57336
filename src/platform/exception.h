// Exceptions of the application framework: every failure that reaches the user is an
// Exception carrying its message; EAbort is the silent one.
#pragma once

#include <stdexcept>
#include <string>

namespace platform {

class Exception : public std::exception {
  public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }

  private:
    std::string message_;
};

// Ends an operation without a message to the user.
class EAbort : public Exception {
  public:
    EAbort() : Exception("Operation aborted") {}
};

// An operation that a derived class must provide was called on its base.
class EAbstractError : public Exception {
  public:
    EAbstractError() : Exception("Abstract Error") {}
};

// A file-system failure, with the system's own error number (0 when unknown), so that
// callers can report the number without asking the system again.
class EFileSystemError : public Exception {
  public:
    explicit EFileSystemError(std::string message, int osError = 0)
        : Exception(std::move(message)), osError_(osError) {}
    int OsError() const noexcept { return osError_; }

  private:
    int osError_;
};

// File stream failures: "Cannot open file "%s". %s" and "Cannot create file "%s". %s".
class EFOpenError : public EFileSystemError {
  public:
    using EFileSystemError::EFileSystemError;
};
class EFCreateError : public EFileSystemError {
  public:
    using EFileSystemError::EFileSystemError;
};
// A read or write on an open file failed.
class EInOutError : public EFileSystemError {
  public:
    using EFileSystemError::EFileSystemError;
};

}  // namespace platform
