// Row encoding; see MysqlRow.h.
#include "dbclient/MysqlRow.h"

#include <cstring>
#include <limits>
#include <new>

namespace dbclient {

std::size_t TMysql_Row::EncodedWords(TRowValues values) {
    std::uint64_t total = 0;
    for (const auto& v : values)
        if (v) total += v->size() + 1;
    if (total > std::numeric_limits<std::uint32_t>::max() || values.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::bad_alloc();
    return static_cast<std::size_t>(values.size() + 2 + (total + sizeof(std::uint32_t) - 1) / sizeof(std::uint32_t));
}

void TMysql_Row::Encode(TRowValues values, std::uint32_t* block) {
    const std::size_t header = values.size() + 2;
    block[0] = static_cast<std::uint32_t>(values.size());
    char* out = reinterpret_cast<char*>(block + header);
    std::uint32_t pos = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        block[1 + i] = pos;
        if (!values[i]) continue;
        const std::string_view v = *values[i];
        if (!v.empty()) std::memcpy(out + pos, v.data(), v.size());
        out[pos + v.size()] = '\0';
        pos += static_cast<std::uint32_t>(v.size() + 1);
    }
    block[1 + values.size()] = pos;
}

}  // namespace dbclient
