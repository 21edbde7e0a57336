// Block storage of rows; see MysqlRowStore.h.
#include "dbclient/MysqlRowStore.h"

namespace dbclient {

namespace {

// 1 MiB blocks; a larger row gets a block of its own.
constexpr std::size_t kBlockWords = (1u << 20) / sizeof(std::uint32_t);

}  // namespace

TMysql_Row TMysql_RowStore::Add(TRowValues values) {
    const std::size_t words = TMysql_Row::EncodedWords(values);
    fblocks.reserve(fblocks.size() + 1);
    if (words > kBlockWords) {
        // A block of its own, placed before the block still being filled.
        auto own = std::make_unique_for_overwrite<std::uint32_t[]>(words);
        std::uint32_t* block = own.get();
        fblocks.insert(fblocks.empty() ? fblocks.end() : fblocks.end() - 1, std::move(own));
        fallocated += words;
        TMysql_Row::Encode(values, block);
        return TMysql_Row(block);
    }
    if (fblocks.empty() || fcapacity - fused < words) {
        fblocks.push_back(std::make_unique_for_overwrite<std::uint32_t[]>(kBlockWords));
        fallocated += kBlockWords;
        fcapacity = kBlockWords;
        fused = 0;
    }
    std::uint32_t* block = fblocks.back().get() + fused;
    TMysql_Row::Encode(values, block);
    fused += words;
    return TMysql_Row(block);
}

}  // namespace dbclient
