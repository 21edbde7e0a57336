#include "dbclient/DbStrings.h"

#include <charconv>

namespace dbclient {

namespace {
char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}
}  // namespace

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i])) return false;
    return true;
}

bool StartsText(std::string_view prefix, std::string_view text) {
    return text.size() >= prefix.size() && SameText(prefix, text.substr(0, prefix.size()));
}

std::string UpperCase(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = Upper(c);
    return out;
}

std::string LowerCase(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = Lower(c);
    return out;
}

std::string_view TrimLeft(std::string_view s) {
    std::size_t b = 0;
    while (b < s.size() && IsBlank(s[b])) ++b;
    return s.substr(b);
}

std::string_view Trim(std::string_view s) {
    s = TrimLeft(s);
    std::size_t e = s.size();
    while (e > 0 && IsBlank(s[e - 1])) --e;
    return s.substr(0, e);
}

bool TryStrToInt64(std::string_view s, long long& value) {
    s = Trim(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size();
}

long long StrToIntDef(std::string_view s, long long fallback) {
    long long v = 0;
    return TryStrToInt64(s, v) ? v : fallback;
}

void TStringList::Changing() {
    if (OnChanging) OnChanging();
}

void TStringList::Changed() {
    if (OnChange) OnChange();
}

void TStringList::Add(std::string line) {
    Changing();
    FLines.push_back(std::move(line));
    Changed();
}

void TStringList::Delete(int index) {
    Changing();
    FLines.erase(FLines.begin() + index);
    Changed();
}

void TStringList::Clear() {
    if (FLines.empty()) return;
    Changing();
    FLines.clear();
    Changed();
}

void TStringList::Assign(std::vector<std::string> lines) {
    Changing();
    FLines = std::move(lines);
    Changed();
}

std::string TStringList::Text() const {
    std::string text;
    for (const auto& line : FLines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void TStringList::SetText(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t e = i;
        while (e < text.size() && text[e] != '\r' && text[e] != '\n') ++e;
        lines.emplace_back(text.substr(i, e - i));
        if (e < text.size() && text[e] == '\r') ++e;
        if (e < text.size() && text[e] == '\n') ++e;
        i = e;
    }
    Assign(std::move(lines));
}

int TStringList::IndexOfName(std::string_view name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string& line = FLines[static_cast<std::size_t>(i)];
        const auto eq = line.find('=');
        if (eq != std::string::npos && SameText(std::string_view(line).substr(0, eq), name))
            return i;
    }
    return -1;
}

std::string TStringList::Values(std::string_view name) const {
    const int i = IndexOfName(name);
    return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValues(std::string_view name, const std::string& value) {
    const int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0) Delete(i);
        return;
    }
    Changing();
    std::string line = std::string(name) + "=" + value;
    if (i >= 0)
        FLines[static_cast<std::size_t>(i)] = std::move(line);
    else
        FLines.push_back(std::move(line));
    Changed();
}

std::string TStringList::Names(int index) const {
    const std::string& line = (*this)[index];
    const auto eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int index) const {
    const std::string& line = (*this)[index];
    const auto eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

}  // namespace dbclient
