// How a result column becomes a dataset field: its field type and size from the column
// description, and the conversion of the row's text value into the field's value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dbclient/DbFields.h"
#include "dbclient/MysqlFieldDef.h"

namespace dbclient {

struct TDbFieldDesc {
    std::string Name;  // the field name, made unique within the result
    TFieldType FieldType = ftUnknown;
    int Size = 0;          // characters of a string field
    int NativeLength = 0;  // bytes of the column's value area in the record
    std::uint8_t MysqlType = 0;
    std::uint32_t Flags = 0;
    bool Required = false;
    std::string Table, OrgTable, OrgName;
    std::vector<std::string> EnumValues;  // of ENUM and SET columns, when known
    bool Utf8 = false;                    // string values are UTF-8 (else the ANSI code page)

    // "org_table.org_name", or org_name alone for a computed column.
    std::string Origin() const;
};

// The field type, size and value area of a column (the larger of Length and Max_Length
// counts as its length). `enumValues` are the column's ENUM values when known; `utf8`
// tells whether the connection's results are UTF-8.
TDbFieldDesc MapColumn(const TMysql_FieldDef& column, const std::vector<std::string>& enumValues,
                       bool utf8);

// The value of one column of a row: `value` null for NULL. With `zeroDateAsNull` the zero
// date of DATE and the zero date-time of DATETIME and TIMESTAMP read as NULL.
TFieldValue ConvertValue(const TDbFieldDesc& desc, const char* value, std::size_t length,
                         bool zeroDateAsNull);

// Date and time texts by fixed character positions. Rule D: DATE, DATETIME and TIME
// ("2010-05-17", "2010-05-17 08:30:00", "08:30:00"); rule T: TIMESTAMP, with or without
// separators ("2010-05-17 08:30:00", "20100517083000"). Invalid parts give 0.
TDateTime DateTimeRuleD(std::string_view text);
TDateTime DateTimeRuleT(std::string_view text);
// A TIME value of any length of hours and with a sign ("-838:59:59"), as days.
TDateTime TimeValue(std::string_view text);

// The values listed in an ENUM or SET type text ("enum('Y','N')" gives Y and N).
std::vector<std::string> ParseEnumValues(std::string_view typeText);

}  // namespace dbclient
