// The values of one result row, encoded in one block of 32-bit words: a header word
// (the column count, and the top bit set when the offsets are 16-bit), n+1 byte offsets
// (16-bit when the values fit in 64 KiB, else 32-bit), then every non-NULL value
// followed by a zero byte. A NULL value takes no bytes, so value i is NULL exactly when
// offsets i and i+1 are equal. Each value's byte length (embedded zero bytes included)
// is known without scanning.
// TMysql_Row is a view of such a block; the block belongs to a row store (stored
// results) or to a result's buffer for its current row (used results).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

namespace dbclient {

using TRowValues = std::span<const std::optional<std::string_view>>;

class TMysql_Row {
  public:
    TMysql_Row() = default;
    explicit TMysql_Row(const std::uint32_t* block) : data_(block) {}

    // Words needed to encode `values`; raises std::bad_alloc when the row would exceed
    // 4 GiB.
    static std::size_t EncodedWords(TRowValues values);
    // Encodes `values` into `block` (EncodedWords(values) words).
    static void Encode(TRowValues values, std::uint32_t* block);

    explicit operator bool() const { return data_ != nullptr; }
    std::size_t size() const { return data_ ? (data_[0] & kCountMask) : 0; }
    // Columns beyond the row count as NULL.
    bool is_null(std::size_t index) const {
        return index >= size() || offset(index) == offset(index + 1);
    }
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
    // Bytes of the encoded block.
    std::size_t allocated() const {
        return data_ ? HeaderBytes(size(), narrow()) + RoundUp(offset(size())) : 0;
    }

  private:
    static constexpr std::uint32_t kNarrow = 0x80000000u;
    static constexpr std::uint32_t kCountMask = ~kNarrow;

    static constexpr std::size_t RoundUp(std::size_t bytes) {
        return (bytes + sizeof(std::uint32_t) - 1) / sizeof(std::uint32_t) * sizeof(std::uint32_t);
    }
    static constexpr std::size_t HeaderBytes(std::size_t count, bool narrow) {
        return sizeof(std::uint32_t) + RoundUp((count + 1) * (narrow ? 2 : 4));
    }

    bool narrow() const { return (data_[0] & kNarrow) != 0; }
    const unsigned char* raw() const { return reinterpret_cast<const unsigned char*>(data_); }
    std::uint32_t offset(std::size_t index) const {
        if (narrow()) {
            std::uint16_t v;
            std::memcpy(&v, raw() + sizeof(std::uint32_t) + 2 * index, sizeof v);
            return v;
        }
        return data_[1 + index];
    }
    const char* bytes() const {
        return reinterpret_cast<const char*>(raw() + HeaderBytes(size(), narrow()));
    }

    const std::uint32_t* data_ = nullptr;
};

}  // namespace dbclient
