// Result sets; see MysqlResult.h.
#include "dbclient/MysqlResult.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "dbclient/MysqlClient.h"

namespace dbclient {

namespace {

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualText(std::string_view a, std::string_view b, bool caseSensitive) {
    if (caseSensitive) return a == b;
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiUpper(x) == AsciiUpper(y);
           });
}

// How SortBy compares the values of a column.
enum class CompareKind { Integer, Bits, Decimal, Text, Time, None };

CompareKind KindOf(std::uint8_t type) {
    switch (type) {
        case FIELD_TYPE_TINY:
        case FIELD_TYPE_SHORT:
        case FIELD_TYPE_LONG:
        case FIELD_TYPE_LONGLONG:
        case FIELD_TYPE_INT24:
        case FIELD_TYPE_YEAR:
            return CompareKind::Integer;
        case FIELD_TYPE_BIT:
            return CompareKind::Bits;
        case FIELD_TYPE_DECIMAL:
        case FIELD_TYPE_FLOAT:
        case FIELD_TYPE_DOUBLE:
        case FIELD_TYPE_NEWDECIMAL:
            return CompareKind::Decimal;
        case FIELD_TYPE_TIMESTAMP:
        case FIELD_TYPE_DATE:
        case FIELD_TYPE_DATETIME:
        case FIELD_TYPE_NEWDATE:
        case FIELD_TYPE_ENUM:
        case FIELD_TYPE_VAR_STRING:
        case FIELD_TYPE_STRING:
            return CompareKind::Text;
        case FIELD_TYPE_TIME:
            return CompareKind::Time;
        default:
            return CompareKind::None;
    }
}

template <typename T>
int Order(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// A decimal integer as sign and magnitude, so unsigned 64-bit values compare too.
struct Integer {
    bool negative = false;
    std::uint64_t magnitude = 0;
};

Integer ParseInteger(std::string_view text) {
    Integer value;
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) value.negative = text[i++] == '-';
    std::from_chars(text.data() + i, text.data() + text.size(), value.magnitude);
    if (value.magnitude == 0) value.negative = false;
    return value;
}

int CompareIntegers(const Integer& a, const Integer& b) {
    if (a.negative != b.negative) return a.negative ? -1 : 1;
    return a.negative ? Order(b.magnitude, a.magnitude) : Order(a.magnitude, b.magnitude);
}

// BIT values arrive as raw big-endian bytes.
std::uint64_t ParseBits(std::string_view bytes) {
    std::uint64_t value = 0;
    for (const char c : bytes) value = (value << 8) | static_cast<unsigned char>(c);
    return value;
}

std::optional<double> ParseDecimal(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data()) return std::nullopt;
    return value;
}

// hours:minutes:seconds as h * 10000 + m * 100 + s; a '-' anywhere negates the
// minutes and seconds as well. A part of more than twelve digits counts as the largest
// twelve-digit one, so any text gives a number and the order stays defined.
long long ParseTime(std::string_view text) {
    constexpr long long kLargestPart = 999'999'999'999;
    long long parts[3] = {0, 0, 0};
    std::size_t part = 0;
    bool negative = false;
    for (const char c : text) {
        if (c == '-') {
            negative = true;
        } else if (c == ':') {
            if (++part == 3) break;
        } else if (c >= '0' && c <= '9') {
            parts[part] = std::min(parts[part] * 10 + (c - '0'), kLargestPart);
        }
    }
    const long long sign = negative ? -1 : 1;
    return sign * (parts[0] * 10000 + parts[1] * 100 + parts[2]);
}

int CompareValues(CompareKind kind, const std::optional<std::string_view>& a,
                  const std::optional<std::string_view>& b) {
    if (kind == CompareKind::None) return 0;
    if (!a || !b) return Order(a.has_value(), b.has_value());  // NULL first
    switch (kind) {
        case CompareKind::Integer:
            return CompareIntegers(ParseInteger(*a), ParseInteger(*b));
        case CompareKind::Bits:
            return Order(ParseBits(*a), ParseBits(*b));
        case CompareKind::Decimal: {
            const auto x = ParseDecimal(*a), y = ParseDecimal(*b);
            return x && y ? Order(*x, *y) : 0;
        }
        case CompareKind::Text: {
            const int c = a->compare(*b);
            return c < 0 ? -1 : (c > 0 ? 1 : 0);
        }
        case CompareKind::Time:
            return Order(ParseTime(*a), ParseTime(*b));
        case CompareKind::None:
            break;
    }
    return 0;
}

}  // namespace

TMysqlResult::TMysqlResult(TMysqlClient* aMysql, TResultType aType)
    : fhandle(aType == rtUsed ? aMysql : nullptr),
      fType(aType),
      fnull_length(aMysql ? static_cast<std::uint32_t>(aMysql->NullLength()) : 0) {}

TMysqlResult::~TMysqlResult() {
    if (fType != rtUsed || !fhandle) return;
    if (fhandle->fstatus == MYSQL_STATUS_USE_RESULT && fhandle->fusedresult == this) {
        // Rows the caller did not read are still on their way: drop them.
        fhandle->skip_used_rows();
    }
    Detach();
}

void TMysqlResult::Detach() {
    if (!fhandle) return;
    fhandle->release_used_result(this, frowscount);
    fhandle = nullptr;
}

void TMysqlResult::MoveTo(std::size_t index) {
    fdata_cursor = index;
    fcurrent_row = &fdata[index];
    fRecNo = static_cast<std::int64_t>(index);
    flengthsread = false;
}

void TMysqlResult::Next() {
    if (fType == rtUsed) {
        UsedNext();
        return;
    }
    if (fcurrent_row && fdata_cursor + 1 < fdata.size()) {
        MoveTo(fdata_cursor + 1);
        fEOF = false;
    } else {
        fEOF = true;
    }
    fBOF = fdata.empty();
}

void TMysqlResult::Prior() {
    if (fType == rtUsed) {
        fBOF = true;
        fEOF = frowscount == 0;
        return;
    }
    if (fcurrent_row && fdata_cursor > 0) {
        MoveTo(fdata_cursor - 1);
        fBOF = false;
    } else {
        fBOF = true;
    }
    fEOF = fdata.empty();
}

void TMysqlResult::First() {
    if (fType == rtUsed) {
        fBOF = true;
        fEOF = frowscount == 0;
        return;
    }
    fBOF = true;
    if (!fdata.empty()) MoveTo(0);
    fEOF = fdata.empty();
    fRecNo = fdata.empty() ? -1 : 0;
}

void TMysqlResult::Last() {
    if (fType == rtUsed) {
        UsedLast();
        return;
    }
    if (!fEOF && !fdata.empty()) MoveTo(fdata.size() - 1);
    fEOF = true;
    fBOF = fdata.empty();
    fRecNo = static_cast<std::int64_t>(fdata.size()) - 1;
}

void TMysqlResult::SetRecNo(std::int64_t k) {
    if (fType != rtStored || k < 0 || k >= static_cast<std::int64_t>(fdata.size())) return;
    fBOF = false;
    fEOF = false;
    MoveTo(static_cast<std::size_t>(k));
}

void TMysqlResult::UsedNext() {
    fBOF = frowscount == 0;
    fEOF = false;
    flengthsread = true;
    if (!fhandle) {
        if (fLastRow == 0) fLastRow = -1;
        fEOF = true;
        return;
    }
    const int rc =
        fhandle->read_next_row(static_cast<std::size_t>(ffieldscount), frow_buffer, frow, flengths);
    if (rc == 0) {
        fcurrent_row = &frow;
        fRecNo = frowscount;
        ++frowscount;
        return;
    }
    fLastRow = rc > 0 ? 1 : -1;
    fEOF = true;
    Detach();
}

void TMysqlResult::UsedLast() {
    fEOF = true;
    fBOF = frowscount == 0;
    if (!fhandle) {
        if (fLastRow == 0) fLastRow = -1;
        return;
    }
    for (;;) {
        const int rc = fhandle->read_next_row(static_cast<std::size_t>(ffieldscount), frow_buffer,
                                              frow, flengths);
        if (rc != 0) {
            fLastRow = rc > 0 ? 1 : -1;
            break;
        }
        fcurrent_row = &frow;
        ++frowscount;
    }
    fRecNo = frowscount - 1;
    flengthsread = true;
    Detach();
}

const char* TMysqlResult::FieldValue(int aIndex) const {
    if (!fcurrent_row || aIndex < 0 || static_cast<std::size_t>(aIndex) >= fcurrent_row->size())
        return nullptr;
    return fcurrent_row->value(static_cast<std::size_t>(aIndex));
}

std::uint32_t TMysqlResult::FieldLenght(int aIndex) const {
    if (aIndex >= 0 && static_cast<std::size_t>(aIndex) < flengths.size() && flengthsread)
        return flengths[static_cast<std::size_t>(aIndex)];
    return fnull_length;
}

const TMysql_FieldDef* TMysqlResult::FieldDef(int aIndex) const {
    if (aIndex < 0 || static_cast<std::size_t>(aIndex) >= ffields.size()) return nullptr;
    return &ffields[static_cast<std::size_t>(aIndex)];
}

int TMysqlResult::FieldIndexByName(std::string_view aName, bool CaseSensitive) const {
    if (aName.empty()) return -1;
    for (std::size_t i = 0; i < ffields.size(); ++i)
        if (EqualText(ffields[i].Name, aName, CaseSensitive)) return static_cast<int>(i);
    return -1;
}

const TMysql_FieldDef* TMysqlResult::FieldDefByName(std::string_view aName,
                                                    bool CaseSensitive) const {
    return FieldDef(FieldIndexByName(aName, CaseSensitive));
}

const char* TMysqlResult::FieldValueByName(std::string_view aName, bool CaseSensitive) const {
    return FieldValue(FieldIndexByName(aName, CaseSensitive));
}

void TMysqlResult::FetchLengths() {
    if (fType == rtStored) {
        for (std::size_t i = 0; i < flengths.size(); ++i)
            flengths[i] = (fcurrent_row && i < fcurrent_row->size() && !fcurrent_row->is_null(i))
                              ? fcurrent_row->length(i)
                              : fnull_length;
    }
    flengthsread = true;
}

void TMysqlResult::SetHasLengths(bool value) {
    if (value && !flengthsread) FetchLengths();
}

void TMysqlResult::SortBy(const std::vector<int>& columns, const std::vector<bool>& descending) {
    if (fType != rtStored || fdata.size() < 2 || columns.empty()) return;
    struct Key {
        std::size_t column;
        CompareKind kind;
        bool descending;
    };
    std::vector<Key> keys;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i] < 0 || static_cast<std::size_t>(columns[i]) >= ffields.size()) continue;
        const auto column = static_cast<std::size_t>(columns[i]);
        keys.push_back(
            {column, KindOf(ffields[column].FieldType), i < descending.size() && descending[i]});
    }
    std::stable_sort(fdata.begin(), fdata.end(), [&](const TMysql_Row& a, const TMysql_Row& b) {
        for (const Key& key : keys) {
            int c = CompareValues(key.kind, a.view(key.column), b.view(key.column));
            if (key.descending) c = -c;
            if (c != 0) return c < 0;
        }
        return false;
    });
    if (fcurrent_row) MoveTo(fdata_cursor);
}

std::int64_t TMysqlResult::findrows(const std::vector<int>& columns,
                                    const std::vector<std::string>& values, bool CaseSensitive,
                                    bool PartialKey) const {
    if (fType != rtStored || columns.empty() || columns.size() != values.size()) return -1;
    for (const int column : columns)
        if (column < 0 || static_cast<std::size_t>(column) >= ffields.size()) return -1;
    for (std::size_t row = 0; row < fdata.size(); ++row) {
        bool match = true;
        for (std::size_t i = 0; i < columns.size() && match; ++i) {
            const auto value = fdata[row].view(static_cast<std::size_t>(columns[i]));
            if (!value) {
                match = false;
            } else if (PartialKey) {
                match = value->size() >= values[i].size() &&
                        EqualText(value->substr(0, values[i].size()), values[i], CaseSensitive);
            } else {
                match = EqualText(*value, values[i], CaseSensitive);
            }
        }
        if (match) return static_cast<std::int64_t>(row);
    }
    return -1;
}

}  // namespace dbclient
