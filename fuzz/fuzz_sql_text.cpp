// The SQL text on its way to the server: comment removal, ":name" markers and their
// substitution by literals, quoting of texts and table names, the first table of a
// SELECT and the character-set statements.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "FuzzSupport.h"
#include "dbclient/DbErrors.h"
#include "dbclient/DbParams.h"
#include "dbclient/DbSqlText.h"

using namespace dbclient;

namespace {

// Reads a MySQL string literal from its opening quote as the server does; its end and
// its value, or none when it does not close.
std::optional<std::pair<std::size_t, std::string>> ReadLiteral(std::string_view s, std::size_t at) {
    std::string value;
    for (std::size_t i = at + 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\\' && i + 1 < s.size()) {
            const char e = s[++i];
            value += e == '0' ? '\0' : e == 'n' ? '\n' : e == 'r' ? '\r' : e == 'Z' ? '\x1a' : e;
        } else if (c == '\'') {
            if (i + 1 < s.size() && s[i + 1] == '\'') {
                value += '\'';
                ++i;
            } else {
                return std::pair{i, value};
            }
        } else {
            value += c;
        }
    }
    return std::nullopt;
}

bool NumberLiteral(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!std::strchr("0123456789-+.eE", c)) return false;
    return true;
}

void CheckParams(FuzzedDataProvider& choices, std::string_view text) {
    const TParsedSql parsed = ParseSqlParams(text);
    std::size_t nameBytes = 0, previous = 0;
    for (const auto& m : parsed.markers) {
        FUZZ_CHECK(m.offset < parsed.text.size() && parsed.text[m.offset] == '?');
        FUZZ_CHECK(m.offset >= previous && !m.name.empty());
        previous = m.offset + 1;
        nameBytes += m.name.size();
    }
    FUZZ_CHECK(parsed.text.size() + nameBytes == text.size());

    TParams params;
    params.Rebuild(parsed.Names());
    FUZZ_CHECK(params.Count() <= static_cast<int>(parsed.markers.size()));
    for (int i = 0; i < params.Count(); ++i) {
        TParam& p = params[i];
        switch (choices.ConsumeIntegralInRange(0, 5)) {
            case 0:
                p.Clear();
                break;
            case 1:
                p.SetAsLargeInt(choices.ConsumeIntegral<std::int64_t>());
                break;
            case 2: {
                double v;
                const auto raw = choices.ConsumeIntegral<std::uint64_t>();
                std::memcpy(&v, &raw, sizeof v);
                p.SetAsFloat(v);
                break;
            }
            case 3:
                p.SetAsBoolean(choices.ConsumeBool());
                break;
            case 4:
                p.SetAsDateTime(choices.ConsumeFloatingPointInRange(-693593.0, 2958465.0));
                break;
            default:
                p.SetAsString(choices.ConsumeRandomLengthString(64));
                break;
        }
    }
    params.Rebuild(parsed.Names());  // the same names: every value is kept
    bool nonFinite = false;
    for (int i = 0; i < params.Count(); ++i)
        if (params[i].DataType() == ftFloat && !params[i].IsNull())
            nonFinite |= !std::isfinite(std::get<double>(params[i].Value().data()));
    std::string out;
    try {
        out = SubstituteParams(parsed, params);
    } catch (const EDatabaseError&) {
        // Every parameter has a value; only a NaN or an infinity has no literal.
        FUZZ_CHECK(nonFinite);
        return;
    }
    FUZZ_CHECK(!nonFinite);
    // Walking the result along the markers finds each literal where it was put and whole:
    // a text value cannot end its literal early and run into the statement.
    std::size_t from = 0, at = 0;
    for (const auto& m : parsed.markers) {
        const std::size_t plain = m.offset - from;
        FUZZ_CHECK(out.compare(at, plain, parsed.text, from, plain) == 0);
        at += plain;
        const TParam& p = params.ParamByName(m.name);
        if (p.IsNull()) {
            FUZZ_CHECK(out.compare(at, 4, "NULL") == 0);
            at += 4;
        } else if (p.DataType() == ftString || p.DataType() == ftDateTime) {
            // The value's literal is closed by its last quote and reads back as the value.
            const std::string lit = p.SqlLiteral();
            const auto literal = ReadLiteral(lit, 0);
            FUZZ_CHECK(lit.front() == '\'' && literal && literal->first + 1 == lit.size());
            FUZZ_CHECK(literal->second == p.AsString());
            FUZZ_CHECK(out.compare(at, lit.size(), lit) == 0);
            at += lit.size();
        } else {
            const std::string lit = p.SqlLiteral();
            FUZZ_CHECK(NumberLiteral(lit));
            FUZZ_CHECK(out.compare(at, lit.size(), lit) == 0);
            at += lit.size();
        }
        from = m.offset + 1;
    }
    FUZZ_CHECK(out.compare(at, std::string::npos, parsed.text, from) == 0);
}

void CheckComments(std::string_view text) {
    for (int set = 0; set < 8; ++set) {
        TQueryProcessComments process;
        if (set & 1) process.Include(qpcMinusMinus);
        if (set & 2) process.Include(qpcSharp);
        if (set & 4) process.Include(qpcSlashAsterisk);
        const std::string stripped = StripSqlComments(std::string(text), process);
        FUZZ_CHECK(stripped.size() <= text.size());
        if (text.find_first_of("-#/") == std::string_view::npos) FUZZ_CHECK(stripped == text);
    }
}

void CheckNames(const std::string& text, int version) {
    const auto table = FindSelectTable(text);
    if (table) {
        FUZZ_CHECK(table->size() == 1 || table->size() == 2);
        std::string quoted = QuoteTableName(*table, version);
        if (version >= 32307) {
            // Each part stands in backquotes, with its own backquotes doubled.
            std::vector<std::string> back(1);
            bool open = false;
            for (std::size_t i = 0; i < quoted.size(); ++i) {
                if (quoted[i] == '`') {
                    if (open && i + 1 < quoted.size() && quoted[i + 1] == '`')
                        back.back() += quoted[++i];
                    else
                        open = !open;
                } else if (!open) {
                    FUZZ_CHECK(quoted[i] == '.');
                    back.emplace_back();
                } else {
                    back.back() += quoted[i];
                }
            }
            FUZZ_CHECK(!open && back == *table);
        }
    }
    IsCharsetStatement(text);
    const std::string literal = QuoteSqlString(text);
    const auto read = ReadLiteral(literal, 0);
    FUZZ_CHECK(read && read->first + 1 == literal.size() && read->second == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider choices(data, size);
    const int which = choices.ConsumeIntegralInRange(0, 2);
    const int version = choices.ConsumeIntegralInRange(32300, 32310);
    const std::string text = choices.ConsumeRandomLengthString(size);
    switch (which) {
        case 0:
            CheckParams(choices, text);
            break;
        case 1:
            CheckComments(text);
            break;
        default:
            CheckNames(text, version);
            break;
    }
    return 0;
}
