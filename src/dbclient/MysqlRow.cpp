// Row storage; see MysqlRow.h.
#include "dbclient/MysqlRow.h"

#include <cstring>
#include <limits>
#include <new>

namespace dbclient {

TMysql_Row::TMysql_Row(std::span<const std::optional<std::string_view>> values) {
    std::uint64_t total = 0;
    for (const auto& v : values)
        if (v) total += v->size() + 1;
    const std::uint64_t header = values.size() + 2;
    if (total > std::numeric_limits<std::uint32_t>::max() || values.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::bad_alloc();
    const std::uint64_t words = header + (total + sizeof(std::uint32_t) - 1) / sizeof(std::uint32_t);
    data_ = std::make_unique_for_overwrite<std::uint32_t[]>(static_cast<std::size_t>(words));
    data_[0] = static_cast<std::uint32_t>(values.size());
    char* out = reinterpret_cast<char*>(data_.get() + header);
    std::uint32_t pos = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        data_[1 + i] = pos;
        if (!values[i]) continue;
        const std::string_view v = *values[i];
        if (!v.empty()) std::memcpy(out + pos, v.data(), v.size());
        out[pos + v.size()] = '\0';
        pos += static_cast<std::uint32_t>(v.size() + 1);
    }
    data_[1 + values.size()] = pos;
}

}  // namespace dbclient
