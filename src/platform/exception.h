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

// File stream failures: "Cannot open file "%s". %s" and "Cannot create file "%s". %s".
class EFOpenError : public Exception {
  public:
    using Exception::Exception;
};
class EFCreateError : public Exception {
  public:
    using Exception::Exception;
};
// A read or write on an open file failed.
class EInOutError : public Exception {
  public:
    using Exception::Exception;
};

}  // namespace platform
