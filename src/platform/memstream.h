// A stream held in memory: a byte buffer with a read/write position, as the application
// framework's memory stream. Writing at the end grows it; writing inside overwrites.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/fs.h"

namespace platform {

class MemoryStream {
  public:
    std::int64_t Size() const { return static_cast<std::int64_t>(data_.size()); }
    std::int64_t Position() const { return position_; }

    // Moves the position (clamped to 0 below; beyond the end is allowed, as a later
    // write fills the gap with zeros). Returns the new position.
    std::int64_t Seek(std::int64_t offset, fs::SeekOrigin origin) {
        const std::int64_t base = origin == fs::SeekOrigin::Begin     ? 0
                                  : origin == fs::SeekOrigin::Current ? position_
                                                                      : Size();
        position_ = std::max<std::int64_t>(0, base + offset);
        return position_;
    }

    std::size_t Read(void* buffer, std::size_t count) {
        if (position_ >= Size()) return 0;
        const std::size_t n =
            std::min<std::size_t>(count, static_cast<std::size_t>(Size() - position_));
        std::memcpy(buffer, data_.data() + position_, n);
        position_ += static_cast<std::int64_t>(n);
        return n;
    }

    void Write(const void* buffer, std::size_t count) {
        const auto pos = static_cast<std::size_t>(position_);
        if (pos == data_.size()) {
            data_.append(static_cast<const char*>(buffer), count);
        } else {
            if (pos + count > data_.size()) data_.resize(pos + count);
            std::memcpy(data_.data() + pos, buffer, count);
        }
        position_ += static_cast<std::int64_t>(count);
    }
    void Write(const std::string& bytes) { Write(bytes.data(), bytes.size()); }

    // Cuts or extends (with zeros) the stream; the position stays inside it.
    void SetSize(std::int64_t size) {
        data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, size)));
        position_ = std::min(position_, Size());
    }

    // Empties the stream and gives its memory back.
    void Clear() {
        std::string().swap(data_);
        position_ = 0;
    }

    // The whole contents, whatever the position.
    const std::string& Bytes() const { return data_; }

  private:
    std::string data_;
    std::int64_t position_ = 0;
};

}  // namespace platform
