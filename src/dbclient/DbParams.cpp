#include "dbclient/DbParams.h"

#include <algorithm>
#include <cmath>
#include <variant>

#include "dbclient/DbErrors.h"
#include "dbclient/DbStrings.h"
#include "dbclient/SqlEscape.h"

namespace dbclient {

void TParam::Clear() {
    if (FDataType == ftUnknown) FDataType = ftString;
    FValue = TFieldValue();
}

void TParam::SetAsString(std::string v) {
    Assign(ftString, TFieldValue(std::move(v)));
}

void TParam::SetAsInteger(std::int32_t v) {
    Assign(ftInteger, TFieldValue(std::int64_t{v}));
}

void TParam::SetAsLargeInt(std::int64_t v) {
    Assign(ftLargeint, TFieldValue(v));
}

void TParam::SetAsFloat(double v) {
    Assign(ftFloat, TFieldValue(v));
}

void TParam::SetAsBoolean(bool v) {
    Assign(ftBoolean, TFieldValue(v));
}

void TParam::SetAsDate(TDateTime v) {
    Assign(ftDate, TFieldValue(v));
}

void TParam::SetAsTime(TDateTime v) {
    Assign(ftTime, TFieldValue(v));
}

void TParam::SetAsDateTime(TDateTime v) {
    Assign(ftDateTime, TFieldValue(v));
}

std::string TParam::AsString() const {
    // A field over the parameter's own value gives the same text forms.
    TRecord record{FValue};
    TField view(FName, FDataType, 0, 0);
    view.Bind(&record);
    return view.AsString();
}

std::string TParam::SqlLiteral() const {
    if (IsNull()) return "NULL";
    switch (FDataType) {
        case ftBoolean:
            return std::get<bool>(FValue.data()) ? "1" : "0";
        case ftFloat:
            // "nan" or "inf" in the statement would be read as a column name.
            if (!std::isfinite(std::get<double>(FValue.data())))
                throw EDatabaseError(FormatMsg("Parameter '%s' is not a finite number", FName));
            return AsString();
        case ftInteger:
        case ftLargeint:
            return AsString();
        default:
            return QuoteSqlString(AsString());
    }
}

std::string QuoteSqlString(std::string_view text) {
    return "'" + EscapeStringLiteral(text) + "'";
}

TParam* TParams::FindParam(std::string_view name) const {
    for (const auto& p : FList)
        if (SameText(p->Name(), name)) return p.get();
    return nullptr;
}

TParam& TParams::ParamByName(std::string_view name) const {
    TParam* p = FindParam(name);
    if (p == nullptr) throw EDatabaseError(FormatMsg("Parameter '%s' not found", name));
    return *p;
}

void TParams::Rebuild(const std::vector<std::string>& names) {
    std::vector<std::unique_ptr<TParam>> list;
    for (const auto& name : names) {
        const bool seen = std::any_of(list.begin(), list.end(),
                                      [&](const auto& p) { return SameText(p->Name(), name); });
        if (seen) continue;
        std::unique_ptr<TParam> param;
        for (auto& old : FList)
            if (old && SameText(old->Name(), name)) param = std::move(old);
        list.push_back(param ? std::move(param) : std::make_unique<TParam>(name));
    }
    FList = std::move(list);
}

}  // namespace dbclient
