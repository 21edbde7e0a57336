// Encoded rows and the block store of stored results.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbclient/MysqlRow.h"
#include "dbclient/MysqlRowStore.h"

using namespace dbclient;

TEST(Rows, EncodedValuesKeepNullsEmptiesAndZeroBytes) {
    const std::string binary("a\0b", 3);
    const std::vector<std::optional<std::string_view>> values = {"", std::nullopt, binary, "xyz"};
    std::vector<std::uint32_t> block(TMysql_Row::EncodedWords(values));
    TMysql_Row::Encode(values, block.data());
    const TMysql_Row row(block.data());
    ASSERT_EQ(row.size(), 4u);
    EXPECT_STREQ(row.value(0), "");
    EXPECT_FALSE(row.is_null(0));
    EXPECT_TRUE(row.is_null(1));
    EXPECT_EQ(row.value(1), nullptr);
    EXPECT_EQ(row.length(1), 0u);
    EXPECT_EQ(row.length(2), 3u);
    EXPECT_EQ(*row.view(2), binary);
    EXPECT_STREQ(row.value(3), "xyz");
    EXPECT_EQ(row.value(3)[3], '\0');
    // Beyond the row: NULL, never outside the block.
    EXPECT_TRUE(row.is_null(4));
    EXPECT_EQ(row.view(100), std::nullopt);
    EXPECT_EQ(row.allocated(), block.size() * sizeof(std::uint32_t));
    EXPECT_FALSE(TMysql_Row());
    EXPECT_EQ(TMysql_Row().size(), 0u);
}

TEST(Rows, SmallRowsUseShortOffsetsAndLargeRowsLongOnes) {
    for (const std::size_t big : {std::size_t{65534}, std::size_t{65535}, std::size_t{200000}}) {
        SCOPED_TRACE(big);
        const std::string large(big, 'L');
        const std::vector<std::optional<std::string_view>> values = {"id", std::nullopt, large, ""};
        std::vector<std::uint32_t> block(TMysql_Row::EncodedWords(values));
        TMysql_Row::Encode(values, block.data());
        const TMysql_Row row(block.data());
        ASSERT_EQ(row.size(), 4u);
        EXPECT_EQ(*row.view(0), "id");
        EXPECT_TRUE(row.is_null(1));
        EXPECT_EQ(row.length(2), big);
        EXPECT_EQ(*row.view(2), large);
        EXPECT_EQ(*row.view(3), "");
        EXPECT_EQ(row.allocated(), block.size() * sizeof(std::uint32_t));
    }
    // Six short columns: a header of 4 + 7 * 2 bytes rounded to 20.
    const std::vector<std::optional<std::string_view>> six = {"1", "2", "3",
                                                              "4", "5", std::nullopt};
    EXPECT_EQ(TMysql_Row::EncodedWords(six) * sizeof(std::uint32_t), 20u + 12u);
}

TEST(Rows, StoreKeepsEveryRowValidAcrossBlocks) {
    TMysql_RowStore store;
    std::vector<TMysql_Row> rows;
    std::vector<std::string> expected;
    // Small rows filling several blocks, with rows larger than a block in between.
    for (int i = 0; i < 30000; ++i) {
        std::string text = "row-" + std::to_string(i);
        if (i % 10000 == 5000) text += std::string(3u << 20, static_cast<char>('a' + i % 26));
        const std::vector<std::optional<std::string_view>> values = {text, std::nullopt};
        rows.push_back(store.Add(values));
        expected.push_back(text);
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].view(0), std::optional<std::string_view>(expected[i])) << i;
        ASSERT_TRUE(rows[i].is_null(1));
    }
    // Little is wasted: the rows' own bytes plus at most about one block per large row.
    std::size_t used = 0;
    for (const auto& r : rows) used += r.allocated();
    EXPECT_LE(store.allocated(), used + 5 * (1u << 20));
}
