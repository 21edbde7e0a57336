// Result rows and column descriptions: a row packet split into its length-coded values,
// the values kept in the row encoding of the results (also with offsets wider than 16
// bits), and column descriptions in the 4.1 and the older layout.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "dbclient/MysqlProtocol.h"
#include "dbclient/MysqlRow.h"

using namespace dbclient;
using fuzzsupport::Inside;

namespace {

using Values = std::vector<std::optional<std::string_view>>;

// The fewest bytes the length code of a value can take.
std::size_t CodeBytes(const std::optional<std::string_view>& value) {
    if (!value) return 1;
    const std::size_t n = value->size();
    return n < 251 ? 1 : n < 0x10000 ? 3 : n < 0x1000000 ? 4 : 9;
}

void CheckSplit(ByteSpan packet, std::size_t count, Values& values) {
    const std::string_view whole(reinterpret_cast<const char*>(packet.data()), packet.size());
    if (!SplitRow(packet, count, values)) return;
    FUZZ_CHECK(values.size() == count);
    std::size_t used = 0;
    for (const auto& v : values) {
        if (v) FUZZ_CHECK(Inside(*v, whole));
        used += CodeBytes(v) + (v ? v->size() : 0);
    }
    // Short length codes may be written in a longer form, never the other way round.
    FUZZ_CHECK(used <= packet.size());
    for (std::size_t i = 1; i < values.size(); ++i)
        if (values[i] && values[i - 1] && !values[i - 1]->empty() && !values[i]->empty())
            FUZZ_CHECK(values[i]->data() >= values[i - 1]->data() + values[i - 1]->size());
}

// The row encoding gives back exactly the values it was given.
void CheckRowEncoding(const Values& values) {
    std::vector<std::uint32_t> block(TMysql_Row::EncodedWords(values));
    TMysql_Row::Encode(values, block.data());
    const TMysql_Row row(block.data());
    FUZZ_CHECK(row.size() == values.size());
    FUZZ_CHECK(row.allocated() == block.size() * sizeof(std::uint32_t));
    for (std::size_t i = 0; i < values.size(); ++i) {
        FUZZ_CHECK(row.is_null(i) == !values[i]);
        FUZZ_CHECK(row.view(i) == values[i]);
        if (values[i]) {
            FUZZ_CHECK(row.length(i) == values[i]->size());
            FUZZ_CHECK(row.value(i)[row.length(i)] == '\0');
        } else {
            FUZZ_CHECK(row.value(i) == nullptr && row.length(i) == 0);
        }
    }
    FUZZ_CHECK(row.is_null(values.size()) && !row.view(values.size() + 7));
}

void CheckFieldDef(const Values& values, bool protocol41, bool longFlags) {
    const TMysql_FieldDef f = UnpackFieldDef(values, protocol41, longFlags);
    const auto text = [&](std::size_t i) {
        return i < values.size() && values[i] ? std::string(*values[i]) : std::string();
    };
    FUZZ_CHECK(f.Max_Length == 0);
    if (protocol41) {
        FUZZ_CHECK(f.catalog == text(0) && f.db == text(1) && f.Table == text(2));
        FUZZ_CHECK(f.org_table == text(3) && f.Name == text(4) && f.org_name == text(5));
        FUZZ_CHECK(f.Def == text(7));
        FUZZ_CHECK(f.charsetnr <= 0xFFFF);
    } else {
        FUZZ_CHECK(f.Table == text(0) && f.Name == text(1) && f.Def == text(5));
        FUZZ_CHECK(f.Length <= 0xFFFFFF && f.org_name.empty() && f.catalog.empty());
        if (!longFlags) FUZZ_CHECK((f.Flags & ~(NUM_FLAG | UNSIGNED_FLAG | 0xFFu)) == 0);
    }
    if (f.FieldType == FIELD_TYPE_BIT) FUZZ_CHECK(f.Flags & UNSIGNED_FLAG);
    if (f.FieldType == FIELD_TYPE_YEAR || f.FieldType == FIELD_TYPE_LONG)
        FUZZ_CHECK(f.Flags & NUM_FLAG);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider choices(data, size);
    const auto count = choices.ConsumeIntegralInRange<std::size_t>(0, 40);
    const bool protocol41 = choices.ConsumeBool();
    const bool longFlags = choices.ConsumeBool();
    const bool wide = choices.ConsumeBool();
    const std::vector<std::uint8_t> bytes = choices.ConsumeRemainingBytes<std::uint8_t>();

    Values values;
    CheckSplit(ByteSpan(bytes), count, values);
    if (!SplitRow(ByteSpan(bytes), count, values)) return 0;
    CheckFieldDef(values, protocol41, longFlags);
    // A value of 64 KiB makes the row take 32-bit offsets.
    const std::string large(wide ? 65536 : 0, 'w');
    if (wide) values.insert(values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), large);
    CheckRowEncoding(values);
    return 0;
}
