// Memory for the rows of a stored result: encoded rows are placed one after another in
// large blocks, so a million rows cost a few hundred allocations instead of a million,
// and no per-allocation overhead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "dbclient/MysqlRow.h"

namespace dbclient {

class TMysql_RowStore {
  public:
    // Copies `values` into the store; the view stays valid as long as the store.
    // Raises std::bad_alloc when memory runs out.
    TMysql_Row Add(TRowValues values);
    // Bytes held by the store.
    std::size_t allocated() const { return fallocated * sizeof(std::uint32_t); }

  private:
    std::vector<std::unique_ptr<std::uint32_t[]>> fblocks;
    std::size_t fused = 0;      // words used in the last block
    std::size_t fcapacity = 0;  // words in the last block
    std::size_t fallocated = 0;
};

}  // namespace dbclient
