#include "dbclient/DbFieldDesc.h"

#include <algorithm>
#include <cmath>

#include "dbclient/DbStrings.h"
#include "platform/text.h"

namespace dbclient {

namespace {

// Strings longer than this are memos.
constexpr std::uint32_t kMaxStringSize = 8191;

// The number at 1-based characters [from, from + count) of `text`; nothing when the part
// is missing or not a number.
bool PartAt(std::string_view text, std::size_t from, std::size_t count, int& out) {
    if (from - 1 + count > text.size()) return false;
    long long v = 0;
    const std::string_view part = text.substr(from - 1, count);
    if (part.find_first_of(" \t+") != std::string_view::npos || !TryStrToInt64(part, v))
        return false;
    out = static_cast<int>(v);
    return true;
}

int PartOr(std::string_view text, std::size_t from, std::size_t count, int fallback) {
    int v = 0;
    return PartAt(text, from, count, v) ? v : fallback;
}

bool IsBooleanEnum(const std::vector<std::string>& values) {
    if (values.size() != 2) return false;
    for (const auto& v : values) {
        const char c = v.empty() ? '\0' : static_cast<char>(v[0] | 0x20);
        if (c != 'f' && c != 'n' && c != 't' && c != 'y') return false;
    }
    return true;
}

bool IsZeroDate(const TDbFieldDesc& desc, std::string_view text) {
    switch (desc.MysqlType) {
        case FIELD_TYPE_DATE:
        case FIELD_TYPE_NEWDATE:
            return text == "0000-00-00";
        case FIELD_TYPE_DATETIME:
        case FIELD_TYPE_TIMESTAMP:
            return text == "0000-00-00 00:00:00";
        default:
            return false;
    }
}

TFieldValue Integer(std::string_view text) {
    long long v = 0;
    if (TryStrToInt64(text, v)) return TFieldValue(std::int64_t{v});
    // An unsigned BIGINT above the signed range keeps its exact digits as text.
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos &&
        text.size() <= 20)
        return TFieldValue(std::string(text));
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

}  // namespace

std::string TDbFieldDesc::Origin() const {
    return OrgTable.empty() ? OrgName : OrgTable + "." + OrgName;
}

TDbFieldDesc MapColumn(const TMysql_FieldDef& column, const std::vector<std::string>& enumValues,
                       bool utf8) {
    TDbFieldDesc d;
    d.Name = column.Name;
    d.MysqlType = column.FieldType;
    d.Flags = column.Flags;
    d.Table = column.Table;
    d.OrgTable = column.org_table;
    d.OrgName = column.org_name;
    d.EnumValues = enumValues;
    d.Utf8 = utf8;
    // Kept well inside int so that sizes computed from it cannot overflow.
    const std::uint32_t length =
        std::min<std::uint32_t>(std::max(column.Length, column.Max_Length), 0x7FFFFF00u);
    const bool isUnsigned = (column.Flags & UNSIGNED_FLAG) != 0;
    const auto asString = [&] {
        d.FieldType = ftString;
        d.Size = static_cast<int>(length);
        d.NativeLength = static_cast<int>(length) + 2;
    };
    const auto asMemo = [&] {
        d.FieldType = (column.Flags & BINARY_FLAG) ? ftBlob : ftMemo;
        d.NativeLength = 4;
    };
    switch (column.FieldType) {
        case FIELD_TYPE_DECIMAL:
        case FIELD_TYPE_NEWDECIMAL:
        case FIELD_TYPE_FLOAT:
        case FIELD_TYPE_DOUBLE:
            d.FieldType = ftFloat;
            d.NativeLength = 8;
            break;
        case FIELD_TYPE_TINY:
        case FIELD_TYPE_SHORT:
            d.FieldType = isUnsigned ? ftWord : ftSmallint;
            d.NativeLength = 2;
            break;
        case FIELD_TYPE_LONG:
            d.FieldType = isUnsigned ? ftLargeint : ftInteger;
            d.NativeLength = isUnsigned ? 8 : 4;
            break;
        case FIELD_TYPE_INT24:
        case FIELD_TYPE_YEAR:
            d.FieldType = ftInteger;
            d.NativeLength = 4;
            break;
        case FIELD_TYPE_LONGLONG:
        case FIELD_TYPE_BIT:
            d.FieldType = ftLargeint;
            d.NativeLength = 8;
            break;
        case FIELD_TYPE_TIMESTAMP:
        case FIELD_TYPE_DATETIME:
            d.FieldType = ftDateTime;
            d.NativeLength = 8;
            break;
        case FIELD_TYPE_DATE:
        case FIELD_TYPE_NEWDATE:
            d.FieldType = ftDate;
            d.NativeLength = 8;
            break;
        case FIELD_TYPE_TIME:
            d.FieldType = ftTime;
            d.NativeLength = 8;
            break;
        case FIELD_TYPE_VAR_STRING:
        case FIELD_TYPE_STRING:
            if (length > kMaxStringSize)
                asMemo();
            else
                asString();
            break;
        case FIELD_TYPE_SET:
        case FIELD_TYPE_NULL:
            asString();
            break;
        case FIELD_TYPE_ENUM:
            if (length == 1 && IsBooleanEnum(enumValues)) {
                d.FieldType = ftBoolean;
                d.NativeLength = 2;
            } else {
                asString();
            }
            break;
        case FIELD_TYPE_TINY_BLOB:
        case FIELD_TYPE_MEDIUM_BLOB:
        case FIELD_TYPE_LONG_BLOB:
        case FIELD_TYPE_BLOB:
            asMemo();
            break;
        default:
            d.FieldType = ftUnknown;
            break;
    }
    if (d.FieldType == ftInteger && (column.Flags & AUTO_INCREMENT_FLAG)) d.FieldType = ftAutoInc;
    if (utf8) {
        if (d.FieldType == ftString) {
            d.FieldType = ftWideString;
            d.Size = static_cast<int>(length / 3);
        } else if (d.FieldType == ftMemo) {
            d.FieldType = ftWideMemo;
        }
    }
    return d;
}

TFieldValue ConvertValue(const TDbFieldDesc& desc, const char* value, std::size_t length,
                         bool zeroDateAsNull) {
    if (value == nullptr) return TFieldValue();
    const std::string_view text(value, length);
    if (zeroDateAsNull && IsZeroDate(desc, text)) return TFieldValue();
    switch (desc.FieldType) {
        case ftFloat: {
            double v = 0;
            if (!TextToFloat(text, v)) v = 0;
            return TFieldValue(v);
        }
        case ftSmallint:
        case ftWord:
        case ftInteger:
        case ftAutoInc:
        case ftLargeint:
            if (desc.MysqlType == FIELD_TYPE_BIT) {
                std::uint64_t v = 0;
                for (const char c : text) v = (v << 8) | static_cast<unsigned char>(c);
                return TFieldValue(static_cast<std::int64_t>(v));
            }
            return Integer(text);
        case ftDateTime:
            return TFieldValue(desc.MysqlType == FIELD_TYPE_TIMESTAMP ? DateTimeRuleT(text)
                                                                      : DateTimeRuleD(text));
        case ftDate:
            return TFieldValue(DateTimeRuleD(text));
        case ftTime:
            return TFieldValue(TimeValue(text));
        case ftBoolean: {
            const char c = text.empty() ? '\0' : static_cast<char>(text[0] | 0x20);
            return TFieldValue(c == 't' || c == 'y');
        }
        case ftBlob:
        case ftUnknown:
            return TFieldValue(std::string(text));
        default:
            // Texts: UTF-8 as received, or from the system's ANSI code page.
            if (desc.Utf8 || (desc.Flags & BINARY_FLAG)) return TFieldValue(std::string(text));
            return TFieldValue(platform::text::AnsiToUtf8(std::string(text)));
    }
}

TDateTime DateTimeRuleD(std::string_view text) {
    TDateTime date = 0;
    std::string_view rest = text;
    if (text.size() > 9) {
        const int y = PartOr(text, 1, 4, 0), m = PartOr(text, 6, 2, 0), d = PartOr(text, 9, 2, 0);
        if (y > 0 && m > 0 && d > 0) date = EncodeDate(y, m, d).value_or(0);
        rest = text.size() > 11 ? text.substr(11, 8) : std::string_view();
    }
    if (rest.size() > 7) {
        const auto time =
            EncodeTime(PartOr(rest, 1, 2, 0), PartOr(rest, 4, 2, 0), PartOr(rest, 7, 2, 0));
        if (time) return CombineDateTime(date, *time);
    }
    return date;
}

TDateTime DateTimeRuleT(std::string_view text) {
    text = Trim(text);
    if (text.empty()) return 0;
    const bool separated = text.find('-') != std::string_view::npos;
    const auto datePart = [&](std::size_t from, std::size_t count) {
        const int v = PartOr(text, from, count, 1);
        return v <= 0 ? 1 : v;
    };
    int y, m, d, h, n, s;
    if (separated) {
        y = datePart(1, 4), m = datePart(6, 2), d = datePart(9, 2);
        h = PartOr(text, 12, 2, 0), n = PartOr(text, 15, 2, 0), s = PartOr(text, 18, 2, 0);
    } else {
        y = datePart(1, 4), m = datePart(5, 2), d = datePart(7, 2);
        h = PartOr(text, 9, 2, 0), n = PartOr(text, 11, 2, 0), s = PartOr(text, 13, 2, 0);
    }
    const auto date = EncodeDate(y, m, d);
    const auto time = EncodeTime(h, n, s);
    if (!date || !time) return 0;
    return CombineDateTime(*date, *time);
}

TDateTime TimeValue(std::string_view text) {
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    long long part[3] = {0, 0, 0};
    for (int i = 0; i < 3 && !text.empty(); ++i) {
        const auto colon = text.find(':');
        std::string_view digits = text.substr(0, colon);
        if (i == 2) digits = digits.substr(0, digits.find('.'));
        if (!TryStrToInt64(digits, part[i])) part[i] = 0;
        text = colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
    }
    const double days = ((part[0] * 60.0 + part[1]) * 60.0 + part[2]) / 86400.0;
    return negative ? -days : days;
}

std::vector<std::string> ParseEnumValues(std::string_view typeText) {
    std::vector<std::string> values;
    const auto open = typeText.find('(');
    const auto close = typeText.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return values;
    const std::string_view list = typeText.substr(open + 1, close - open - 1);
    std::size_t i = 0;
    while (i < list.size()) {
        if (list[i] != '\'') {
            ++i;
            continue;
        }
        std::string v;
        ++i;
        while (i < list.size()) {
            if (list[i] == '\'' && i + 1 < list.size() && list[i + 1] == '\'') {
                v += '\'';
                i += 2;
            } else if (list[i] == '\'') {
                ++i;
                break;
            } else {
                v += list[i++];
            }
        }
        values.push_back(std::move(v));
    }
    return values;
}

}  // namespace dbclient
