#include "dbclient/DbFields.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "dbclient/DbErrors.h"
#include "dbclient/DbStrings.h"

namespace dbclient {

namespace {

const TFieldValue kNull;

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

[[noreturn]] void ConvertError(const std::string& pattern, const std::string& value) {
    throw EConvertError(FormatMsg(pattern, value));
}

}  // namespace

std::string FloatToText(double value) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    return std::string(buf, r.ptr);
}

bool TextToFloat(std::string_view text, double& value) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

TField::TField(std::string fieldName, TFieldType dataType, int size, int fieldNo)
    : FFieldName(std::move(fieldName)), FDataType(dataType), FSize(size), FFieldNo(fieldNo) {}

const TFieldValue& TField::Value() const {
    if (FRecord == nullptr || FFieldNo < 0 || static_cast<std::size_t>(FFieldNo) >= FRecord->size())
        return kNull;
    return (*FRecord)[static_cast<std::size_t>(FFieldNo)];
}

bool TField::IsNull() const {
    return Value().IsNull();
}

std::string TField::AsString() const {
    return std::visit(Overloaded{
                          [](std::monostate) { return std::string(); },
                          [](std::int64_t v) { return std::to_string(v); },
                          [this](double v) {
                              switch (FDataType) {
                                  case ftDate:
                                      return DateToText(v);
                                  case ftTime:
                                      return TimeToText(v);
                                  case ftDateTime:
                                      return DateTimeToText(v);
                                  default:
                                      return FloatToText(v);
                              }
                          },
                          [](bool v) { return std::string(v ? "True" : "False"); },
                          [](const std::string& v) { return v; },
                      },
                      Value().data());
}

std::int64_t TField::AsLargeInt() const {
    return std::visit(Overloaded{
                          [](std::monostate) -> std::int64_t { return 0; },
                          [](std::int64_t v) { return v; },
                          [this](double v) -> std::int64_t {
                              if (!(std::fabs(v) < 9.2e18))
                                  ConvertError("'%s' is not a valid integer value", AsString());
                              return std::llround(v);
                          },
                          [](bool v) -> std::int64_t { return v ? 1 : 0; },
                          [](const std::string& v) -> std::int64_t {
                              long long n = 0;
                              if (!TryStrToInt64(v, n))
                                  ConvertError("'%s' is not a valid integer value", v);
                              return n;
                          },
                      },
                      Value().data());
}

std::int32_t TField::AsInteger() const {
    const std::int64_t v = AsLargeInt();
    if (v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max())
        ConvertError("'%s' is not a valid integer value", AsString());
    return static_cast<std::int32_t>(v);
}

double TField::AsFloat() const {
    return std::visit(Overloaded{
                          [](std::monostate) { return 0.0; },
                          [](std::int64_t v) { return static_cast<double>(v); },
                          [](double v) { return v; },
                          [](bool v) { return v ? 1.0 : 0.0; },
                          [](const std::string& v) {
                              double d = 0;
                              if (!TextToFloat(v, d))
                                  ConvertError("'%s' is not a valid floating point value", v);
                              return d;
                          },
                      },
                      Value().data());
}

TDateTime TField::AsDateTime() const {
    return std::visit(Overloaded{
                          [](std::monostate) { return 0.0; },
                          [](std::int64_t v) { return static_cast<double>(v); },
                          [](double v) { return v; },
                          [](bool v) -> double {
                              ConvertError("'%s' is not a valid date and time",
                                           v ? "True" : "False");
                          },
                          [](const std::string& v) {
                              const auto d = TextToDateTime(v);
                              if (!d) ConvertError("'%s' is not a valid date and time", v);
                              return *d;
                          },
                      },
                      Value().data());
}

bool TField::AsBoolean() const {
    return std::visit(Overloaded{
                          [](std::monostate) { return false; },
                          [](std::int64_t v) { return v != 0; },
                          [](double v) { return v != 0; },
                          [](bool v) { return v; },
                          [](const std::string& v) {
                              const char c = v.empty() ? '\0' : v[0];
                              if (c == 'T' || c == 't' || c == 'Y' || c == 'y') return true;
                              if (c == 'F' || c == 'f' || c == 'N' || c == 'n') return false;
                              ConvertError("'%s' is not a valid boolean value", v);
                          },
                      },
                      Value().data());
}

TField& TFields::Add(std::unique_ptr<TField> field) {
    FList.push_back(std::move(field));
    return *FList.back();
}

TField* TFields::FindField(std::string_view name) const {
    for (const auto& f : FList)
        if (SameText(f->FieldName(), name)) return f.get();
    return nullptr;
}

}  // namespace dbclient
