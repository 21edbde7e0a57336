// The values of one result row, kept in a single allocation: the column count and n+1
// byte offsets, then every non-NULL value followed by a zero byte. A NULL value takes
// no bytes, so value i is NULL exactly when offsets i and i+1 are equal. Each value's
// byte length (embedded zero bytes included) is known without scanning.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

namespace dbclient {

class TMysql_Row {
public:
    TMysql_Row() = default;

    // A row holding copies of `values` (nullopt for NULL). Raises std::bad_alloc when
    // memory runs out or the row would exceed 4 GiB.
    explicit TMysql_Row(std::span<const std::optional<std::string_view>> values);

    explicit operator bool() const { return data_ != nullptr; }
    std::size_t size() const { return data_ ? data_[0] : 0; }
    bool is_null(std::size_t index) const { return offset(index) == offset(index + 1); }
    // Zero-terminated value, or null for NULL.
    const char* value(std::size_t index) const {
        return is_null(index) ? nullptr : bytes() + offset(index);
    }
    // Byte count of the value; 0 for NULL.
    std::uint32_t length(std::size_t index) const {
        return is_null(index) ? 0 : offset(index + 1) - offset(index) - 1;
    }
    std::optional<std::string_view> view(std::size_t index) const {
        if (is_null(index)) return std::nullopt;
        return std::string_view(value(index), length(index));
    }
    // Bytes held by the row, its bookkeeping included.
    std::size_t allocated() const { return data_ ? (size() + 2) * sizeof(std::uint32_t) + offset(size()) : 0; }

private:
    std::uint32_t offset(std::size_t index) const { return data_[1 + index]; }
    const char* bytes() const { return reinterpret_cast<const char*>(data_.get() + size() + 2); }

    std::unique_ptr<std::uint32_t[]> data_;
};

}  // namespace dbclient
