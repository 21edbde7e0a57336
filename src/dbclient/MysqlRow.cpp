// Row encoding; see MysqlRow.h.
#include "dbclient/MysqlRow.h"

#include <limits>
#include <new>

namespace dbclient {

namespace {

std::uint64_t ValueBytes(TRowValues values) {
    std::uint64_t total = 0;
    for (const auto& v : values)
        if (v) total += v->size() + 1;
    return total;
}

}  // namespace

std::size_t TMysql_Row::EncodedWords(TRowValues values) {
    const std::uint64_t total = ValueBytes(values);
    if (total > std::numeric_limits<std::uint32_t>::max() || values.size() >= kNarrow)
        throw std::bad_alloc();
    const bool narrow = total <= std::numeric_limits<std::uint16_t>::max();
    return (HeaderBytes(values.size(), narrow) + RoundUp(static_cast<std::size_t>(total))) /
           sizeof(std::uint32_t);
}

void TMysql_Row::Encode(TRowValues values, std::uint32_t* block) {
    const bool narrow = ValueBytes(values) <= std::numeric_limits<std::uint16_t>::max();
    block[0] = static_cast<std::uint32_t>(values.size()) | (narrow ? kNarrow : 0);
    unsigned char* offsets = reinterpret_cast<unsigned char*>(block + 1);
    char* out = reinterpret_cast<char*>(block) + HeaderBytes(values.size(), narrow);
    const auto putOffset = [&](std::size_t index, std::uint32_t pos) {
        if (narrow) {
            const auto v = static_cast<std::uint16_t>(pos);
            std::memcpy(offsets + 2 * index, &v, sizeof v);
        } else {
            std::memcpy(offsets + 4 * index, &pos, sizeof pos);
        }
    };
    std::uint32_t pos = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        putOffset(i, pos);
        if (!values[i]) continue;
        const std::string_view v = *values[i];
        if (!v.empty()) std::memcpy(out + pos, v.data(), v.size());
        out[pos + v.size()] = '\0';
        pos += static_cast<std::uint32_t>(v.size() + 1);
    }
    putOffset(values.size(), pos);
}

}  // namespace dbclient
