// How result columns become dataset fields: the field type and size from a column
// description, the conversion of the row's text value, the date and time rules, the
// text forms of the values and reading them back, and the values of ENUM and SET types.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "FuzzSupport.h"
#include "dbclient/DbDateTime.h"
#include "dbclient/DbFieldDesc.h"
#include "dbclient/DbFields.h"

using namespace dbclient;

namespace {

constexpr double kSecond = 1.0 / 86400;

// The kind of value each field type holds.
bool HoldsItsType(TFieldType type, const TFieldValue& value) {
    const auto& d = value.data();
    switch (type) {
        case ftFloat:
        case ftDate:
        case ftTime:
        case ftDateTime:
            return std::holds_alternative<double>(d);
        case ftSmallint:
        case ftWord:
        case ftInteger:
        case ftAutoInc:
        case ftLargeint:
            // An unsigned BIGINT above the signed range keeps its digits as text.
            return std::holds_alternative<std::int64_t>(d) ||
                   (std::holds_alternative<std::string>(d) &&
                    std::get<std::string>(d).find_first_not_of("0123456789") == std::string::npos);
        case ftBoolean:
            return std::holds_alternative<bool>(d);
        default:
            return std::holds_alternative<std::string>(d);
    }
}

// A date-time written as text reads back as itself, to the second.
void CheckDateTimeText(TDateTime v) {
    if (!(v > -693594.0 && v < 2958466.0)) return;  // years 1 to 9999
    const auto back = TextToDateTime(DateTimeToText(v));
    FUZZ_CHECK(back && std::fabs(*back - v) < 1.5 * kSecond);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider choices(data, size);
    TMysql_FieldDef column;
    column.Name = choices.ConsumeRandomLengthString(16);
    column.Table = choices.ConsumeRandomLengthString(16);
    column.org_name = choices.ConsumeRandomLengthString(16);
    column.FieldType = choices.ConsumeIntegral<std::uint8_t>();
    column.Length = choices.ConsumeIntegral<std::uint32_t>();
    column.Max_Length = choices.ConsumeIntegral<std::uint32_t>();
    column.Flags = choices.ConsumeIntegral<std::uint32_t>();
    column.Decimals = choices.ConsumeIntegral<std::uint8_t>();
    column.charsetnr = choices.ConsumeIntegral<std::uint16_t>();
    const bool utf8 = choices.ConsumeBool();
    const bool zeroDateAsNull = choices.ConsumeBool();
    const bool isNull = choices.ConsumeIntegralInRange(0, 15) == 0;
    const std::vector<std::string> enumValues =
        ParseEnumValues(choices.ConsumeRandomLengthString(64));
    const std::string text = choices.ConsumeRemainingBytesAsString();

    // The rules on any text: valid parts give a date of the calendar, a time of day, or a
    // duration with its sign.
    CheckDateTimeText(DateTimeRuleD(text));
    CheckDateTimeText(DateTimeRuleT(text));
    const TDateTime duration = TimeValue(text);
    FUZZ_CHECK(std::isfinite(duration));
    const std::string shown = TimeToText(duration);
    FUZZ_CHECK(!shown.empty() && shown.size() < 48);
    if (const auto parsed = TextToDateTime(text)) CheckDateTimeText(*parsed);

    const TDbFieldDesc desc = MapColumn(column, enumValues, utf8);
    FUZZ_CHECK(desc.Size >= 0 && desc.NativeLength >= 0);
    FUZZ_CHECK(desc.MysqlType == column.FieldType && desc.Name == column.Name);

    const bool dateLike = desc.FieldType == ftDate || desc.FieldType == ftDateTime;
    TFieldValue value;
    try {
        value = ConvertValue(desc, isNull ? nullptr : text.c_str(), text.size(), zeroDateAsNull);
    } catch (const EConvertError&) {
        // Only integer columns refuse a text: "'%s' is not a valid integer value".
        const TFieldValue zero{std::int64_t{0}};
        FUZZ_CHECK(HoldsItsType(desc.FieldType, zero) && desc.MysqlType != FIELD_TYPE_BIT);
        return 0;
    }
    if (isNull) FUZZ_CHECK(value.IsNull());
    if (!isNull && !(zeroDateAsNull && dateLike)) FUZZ_CHECK(!value.IsNull());
    if (!value.IsNull()) {
        FUZZ_CHECK(HoldsItsType(desc.FieldType, value));
        if (dateLike) CheckDateTimeText(std::get<double>(value.data()));
        const TRecord record{value};
        TField field(desc.Name, desc.FieldType, desc.Size, 0);
        field.Bind(&record);
        const std::string shown = field.AsString();
        if (desc.FieldType == ftFloat) FUZZ_CHECK(shown.find(',') == std::string::npos);
    }

    return 0;
}
