// Fields of a dataset: the typed value of one column in the current record, read in the
// forms users of a dataset expect (AsString, AsInteger, ...), and the collection of them.
//
// Text forms: integers in decimal; floating-point values with up to 15 significant digits
// and "." as decimal separator ("12.5", "1e+20"); dates "yyyy-mm-dd", times "hh:nn:ss",
// date-times "yyyy-mm-dd hh:nn:ss"; booleans "True" and "False"; NULL the empty text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "dbclient/DbDateTime.h"
#include "platform/exception.h"

namespace dbclient {

enum class TFieldType {
    ftUnknown,
    ftString,
    ftSmallint,
    ftInteger,
    ftWord,
    ftBoolean,
    ftFloat,
    ftDate,
    ftTime,
    ftDateTime,
    ftAutoInc,
    ftLargeint,
    ftWideString,
    ftMemo,
    ftWideMemo,
    ftBlob,
};
using enum TFieldType;

// A value of one column of a record: NULL, or an integer, a double (also dates and
// times), a boolean or a text (UTF-8; bytes for blobs).
class TFieldValue {
  public:
    using Data = std::variant<std::monostate, std::int64_t, double, bool, std::string>;
    TFieldValue() = default;
    explicit TFieldValue(Data data) : FData(std::move(data)) {}
    bool IsNull() const { return std::holds_alternative<std::monostate>(FData); }
    const Data& data() const { return FData; }
    bool operator==(const TFieldValue&) const = default;

  private:
    Data FData;
};

using TRecord = std::vector<TFieldValue>;

// Raised when a value cannot be read in the form asked for.
class EConvertError : public platform::Exception {
  public:
    using platform::Exception::Exception;
};

class TField {
  public:
    TField(std::string fieldName, TFieldType dataType, int size, int fieldNo);

    const std::string& FieldName() const { return FFieldName; }
    TFieldType DataType() const { return FDataType; }
    int Size() const { return FSize; }
    // Position in the record, from 0.
    int FieldNo() const { return FFieldNo; }
    bool Required() const { return FRequired; }
    void SetRequired(bool v) { FRequired = v; }
    // "table.column" of the column's origin.
    const std::string& Origin() const { return FOrigin; }
    void SetOrigin(std::string v) { FOrigin = std::move(v); }

    // The record the field reads from; set by its dataset.
    void Bind(const TRecord* record) { FRecord = record; }

    bool IsNull() const;
    std::string AsString() const;
    std::int32_t AsInteger() const;
    std::int64_t AsLargeInt() const;
    double AsFloat() const;
    TDateTime AsDateTime() const;
    bool AsBoolean() const;
    const TFieldValue& Value() const;

  private:
    std::string FFieldName;
    TFieldType FDataType;
    int FSize;
    int FFieldNo;
    bool FRequired = false;
    std::string FOrigin;
    const TRecord* FRecord = nullptr;
};

class TFields {
  public:
    int Count() const { return static_cast<int>(FList.size()); }
    TField& operator[](int i) const { return *FList.at(static_cast<std::size_t>(i)); }
    TField& Add(std::unique_ptr<TField> field);
    void Clear() { FList.clear(); }
    // The field of that name, compared without regard to case; null when there is none.
    TField* FindField(std::string_view name) const;

  private:
    std::vector<std::unique_ptr<TField>> FList;
};

// The text form of a floating-point value.
std::string FloatToText(double value);
// Reads a number with "." as decimal separator, whatever the locale.
bool TextToFloat(std::string_view text, double& value);

}  // namespace dbclient
