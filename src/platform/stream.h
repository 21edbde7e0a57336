// The byte stream that file and other streams share: reading, writing and moving a
// position, so components can work on any of them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

enum class SeekOrigin { Begin, Current, End };

class Stream {
  public:
    virtual ~Stream() = default;
    // Reads up to `count` bytes; returns the number read, 0 at the end.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Writes all `count` bytes or raises.
    virtual void Write(const void* buffer, std::size_t count) = 0;
    virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
    virtual std::int64_t Position() const = 0;
    virtual std::int64_t Size() const = 0;
};

}  // namespace platform
