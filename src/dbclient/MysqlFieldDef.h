// One column description of a result set, with the column type codes and column flags
// the server sends in it.
#pragma once

#include <cstdint>
#include <string>

namespace dbclient {

// Column type codes (FieldType).
inline constexpr std::uint8_t FIELD_TYPE_DECIMAL = 0;
inline constexpr std::uint8_t FIELD_TYPE_TINY = 1;
inline constexpr std::uint8_t FIELD_TYPE_SHORT = 2;
inline constexpr std::uint8_t FIELD_TYPE_LONG = 3;
inline constexpr std::uint8_t FIELD_TYPE_FLOAT = 4;
inline constexpr std::uint8_t FIELD_TYPE_DOUBLE = 5;
inline constexpr std::uint8_t FIELD_TYPE_NULL = 6;
inline constexpr std::uint8_t FIELD_TYPE_TIMESTAMP = 7;
inline constexpr std::uint8_t FIELD_TYPE_LONGLONG = 8;
inline constexpr std::uint8_t FIELD_TYPE_INT24 = 9;
inline constexpr std::uint8_t FIELD_TYPE_DATE = 10;
inline constexpr std::uint8_t FIELD_TYPE_TIME = 11;
inline constexpr std::uint8_t FIELD_TYPE_DATETIME = 12;
inline constexpr std::uint8_t FIELD_TYPE_YEAR = 13;
inline constexpr std::uint8_t FIELD_TYPE_NEWDATE = 14;
inline constexpr std::uint8_t FIELD_TYPE_VARCHAR = 15;
inline constexpr std::uint8_t FIELD_TYPE_BIT = 16;
inline constexpr std::uint8_t FIELD_TYPE_NEWDECIMAL = 246;
inline constexpr std::uint8_t FIELD_TYPE_ENUM = 247;
inline constexpr std::uint8_t FIELD_TYPE_SET = 248;
inline constexpr std::uint8_t FIELD_TYPE_TINY_BLOB = 249;
inline constexpr std::uint8_t FIELD_TYPE_MEDIUM_BLOB = 250;
inline constexpr std::uint8_t FIELD_TYPE_LONG_BLOB = 251;
inline constexpr std::uint8_t FIELD_TYPE_BLOB = 252;
inline constexpr std::uint8_t FIELD_TYPE_VAR_STRING = 253;
inline constexpr std::uint8_t FIELD_TYPE_STRING = 254;
inline constexpr std::uint8_t FIELD_TYPE_GEOMETRY = 255;

// Column flags (Flags).
inline constexpr std::uint32_t NOT_NULL_FLAG = 0x1;
inline constexpr std::uint32_t PRI_KEY_FLAG = 0x2;
inline constexpr std::uint32_t UNIQUE_KEY_FLAG = 0x4;
inline constexpr std::uint32_t MULTIPLE_KEY_FLAG = 0x8;
inline constexpr std::uint32_t BLOB_FLAG = 0x10;
inline constexpr std::uint32_t UNSIGNED_FLAG = 0x20;
inline constexpr std::uint32_t ZEROFILL_FLAG = 0x40;
inline constexpr std::uint32_t BINARY_FLAG = 0x80;
inline constexpr std::uint32_t ENUM_FLAG = 0x100;
inline constexpr std::uint32_t AUTO_INCREMENT_FLAG = 0x200;
inline constexpr std::uint32_t TIMESTAMP_FLAG = 0x400;
inline constexpr std::uint32_t SET_FLAG = 0x800;
inline constexpr std::uint32_t NUM_FLAG = 0x8000;

struct TMysql_FieldDef {
    std::string Name;
    std::string Table;
    std::string Def;  // always empty for query results
    std::uint8_t FieldType = 0;
    std::uint32_t Length = 0;
    std::uint32_t Max_Length = 0;  // longest value in a stored result
    std::uint32_t Flags = 0;
    std::uint32_t Decimals = 0;
    std::string org_name;   // empty in the pre-4.1 form
    std::string org_table;  // empty in the pre-4.1 form
    std::string db;         // empty in the pre-4.1 form
    std::string catalog;    // empty in the pre-4.1 form
    std::uint32_t charsetnr = 0;

    bool operator==(const TMysql_FieldDef&) const = default;
};

}  // namespace dbclient
