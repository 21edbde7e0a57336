// A list of text lines with change notifications, used for the SQL lines of a query and
// for the name=value settings of a connection; and the text helpers the components share.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace dbclient {

// ASCII case-insensitive comparison and case mapping (identifiers, keywords, names).
bool SameText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view text);
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
std::string_view Trim(std::string_view s);
std::string_view TrimLeft(std::string_view s);
// Decimal integer of the whole text (leading and trailing blanks allowed); false when it is
// not one or does not fit.
bool TryStrToInt64(std::string_view s, long long& value);
// The integer of `s`, or `fallback` when it is not one.
long long StrToIntDef(std::string_view s, long long fallback);

class TStringList {
  public:
    // Called before and after every change of the lines.
    std::function<void()> OnChanging;
    std::function<void()> OnChange;

    int Count() const { return static_cast<int>(FLines.size()); }
    bool Empty() const { return FLines.empty(); }
    const std::string& operator[](int i) const { return FLines.at(static_cast<std::size_t>(i)); }
    const std::vector<std::string>& Lines() const { return FLines; }

    void Add(std::string line);
    void Delete(int index);
    void Clear();
    // Replaces all lines at once (one notification).
    void Assign(std::vector<std::string> lines);

    // Every line followed by CR LF.
    std::string Text() const;
    // Splits at CR LF, LF or CR.
    void SetText(std::string_view text);

    // name=value entries; names compare without regard to case.
    int IndexOfName(std::string_view name) const;
    std::string Values(std::string_view name) const;
    // Sets the value of the entry `name`, adding it when missing; an empty value removes it.
    void SetValues(std::string_view name, const std::string& value);
    std::string Names(int index) const;
    std::string ValueFromIndex(int index) const;

  private:
    void Changing();
    void Changed();

    std::vector<std::string> FLines;
};

}  // namespace dbclient
