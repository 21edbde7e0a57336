// Parameters of a query: the values of the ":name" markers found in its SQL text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbclient/DbFields.h"

namespace dbclient {

class TParam {
  public:
    explicit TParam(std::string name) : FName(std::move(name)) {}

    const std::string& Name() const { return FName; }
    TFieldType DataType() const { return FDataType; }
    bool IsNull() const { return FValue.IsNull(); }
    // A value (possibly NULL through Clear) has been given.
    bool Bound() const { return FDataType != ftUnknown; }
    const TFieldValue& Value() const { return FValue; }

    // NULL; the parameter stays bound.
    void Clear();
    void SetAsString(std::string v);
    void SetAsInteger(std::int32_t v);
    void SetAsLargeInt(std::int64_t v);
    void SetAsFloat(double v);
    void SetAsBoolean(bool v);
    void SetAsDate(TDateTime v);
    void SetAsTime(TDateTime v);
    void SetAsDateTime(TDateTime v);
    std::string AsString() const;

    // The value written as an SQL literal: NULL, a bare number, 1 or 0 for a boolean, a
    // quoted and escaped text for texts, dates and times. A floating-point value that is
    // not a finite number has no literal: "Parameter '%s' is not a finite number".
    std::string SqlLiteral() const;

  private:
    void Assign(TFieldType type, TFieldValue value) {
        FDataType = type;
        FValue = std::move(value);
    }

    std::string FName;
    TFieldType FDataType = ftUnknown;
    TFieldValue FValue;
};

class TParams {
  public:
    int Count() const { return static_cast<int>(FList.size()); }
    TParam& operator[](int i) const { return *FList.at(static_cast<std::size_t>(i)); }
    // Compared without regard to case; null when there is none.
    TParam* FindParam(std::string_view name) const;
    // "Parameter '%s' not found" when there is none.
    TParam& ParamByName(std::string_view name) const;
    // Rebuilds the list from the names found in the text, in order of first appearance;
    // a parameter whose name survives keeps its value.
    void Rebuild(const std::vector<std::string>& names);
    void Clear() { FList.clear(); }

  private:
    std::vector<std::unique_ptr<TParam>> FList;
};

// A text as a MySQL string literal: in single quotes, with the characters that end or
// alter a literal escaped by a backslash (\0 \n \r \Z \\ \' \").
std::string QuoteSqlString(std::string_view text);

}  // namespace dbclient
