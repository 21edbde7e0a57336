#include "dbclient/DbSqlText.h"

#include "dbclient/DbErrors.h"
#include "dbclient/DbStrings.h"

namespace dbclient {

namespace {

bool IsWordChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || u >= 0x80;
}

bool IsParamNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// End of a literal quoted with `quote` that opens at `i`: the index after the closing
// quote (or the end of the text). A backslash escapes the next character in ' and "
// literals; a doubled quote stands for itself in all three.
std::size_t SkipQuoted(std::string_view s, std::size_t i) {
    const char quote = s[i++];
    while (i < s.size()) {
        const char c = s[i];
        if (c == '\\' && quote != '`') {
            i += 2;
            continue;
        }
        ++i;
        if (c == quote) {
            if (i < s.size() && s[i] == quote) {
                ++i;
                continue;
            }
            return i;
        }
    }
    return s.size();
}

// Deletes, in each line, everything from the first `marker` to the line's end.
void CutLines(std::string& text, std::string_view marker) {
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find_first_of("\r\n", lineStart);
        if (lineEnd == std::string::npos) lineEnd = text.size();
        const std::size_t at = text.find(marker, lineStart);
        if (at != std::string::npos && at < lineEnd) {
            text.erase(at, lineEnd - at);
            lineEnd = at;
        }
        lineStart = lineEnd;
        while (lineStart < text.size() && (text[lineStart] == '\r' || text[lineStart] == '\n'))
            ++lineStart;
    }
}

struct Token {
    enum Kind { End, Word, Quoted, Punct } kind = End;
    std::string text;  // a quoted token without its quotes
    char quote = 0;
};

// Splits SQL text into words, quoted names or literals and punctuation, skipping blanks
// and comments.
class SqlLexer {
  public:
    explicit SqlLexer(std::string_view s) : s_(s) {}

    Token Next() {
        SkipBlanksAndComments();
        Token t;
        if (i_ >= s_.size()) return t;
        const char c = s_[i_];
        if (c == '\'' || c == '"' || c == '`') {
            const std::size_t end = SkipQuoted(s_, i_);
            t.kind = Token::Quoted;
            t.quote = c;
            t.text = Unquote(s_.substr(i_, end - i_), c);
            i_ = end;
        } else if (IsWordChar(c)) {
            const std::size_t start = i_;
            while (i_ < s_.size() && IsWordChar(s_[i_])) ++i_;
            t.kind = Token::Word;
            t.text = s_.substr(start, i_ - start);
        } else {
            t.kind = Token::Punct;
            t.text = std::string(1, c);
            ++i_;
        }
        return t;
    }

  private:
    static std::string Unquote(std::string_view q, char quote) {
        std::string out;
        for (std::size_t k = 1; k < q.size(); ++k) {
            const char c = q[k];
            if (c == '\\' && quote != '`' && k + 1 < q.size()) {
                out += q[++k];
            } else if (c == quote) {
                if (k + 1 < q.size() && q[k + 1] == quote) out += q[++k];
            } else {
                out += c;
            }
        }
        return out;
    }

    void SkipBlanksAndComments() {
        while (i_ < s_.size()) {
            const char c = s_[i_];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
                ++i_;
            } else if (s_.substr(i_, 2) == "/*") {
                const auto end = s_.find("*/", i_ + 2);
                i_ = end == std::string_view::npos ? s_.size() : end + 2;
            } else if (c == '#' || (s_.substr(i_, 2) == "--" && i_ + 2 < s_.size() &&
                                    (s_[i_ + 2] == ' ' || s_[i_ + 2] == '\t'))) {
                const auto end = s_.find_first_of("\r\n", i_);
                i_ = end == std::string_view::npos ? s_.size() : end;
            } else {
                return;
            }
        }
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

bool IsName(const Token& t) {
    return t.kind == Token::Word || (t.kind == Token::Quoted && !t.text.empty());
}

}  // namespace

std::string StripSqlComments(std::string text, TQueryProcessComments process) {
    if (process.Contains(qpcSlashAsterisk)) {
        const auto start = text.find("/*");
        if (start != std::string::npos && (start + 2 >= text.size() || text[start + 2] != '!')) {
            const auto end = text.find("*/", start + 2);
            text.erase(start, end == std::string::npos ? std::string::npos : end + 2 - start);
        }
    }
    if (process.Contains(qpcMinusMinus)) CutLines(text, "-- ");
    if (process.Contains(qpcSharp)) CutLines(text, "#");
    return text;
}

std::vector<std::string> TParsedSql::Names() const {
    std::vector<std::string> names;
    names.reserve(markers.size());
    for (const auto& m : markers) names.push_back(m.name);
    return names;
}

TParsedSql ParseSqlParams(std::string_view text) {
    TParsedSql parsed;
    std::string& out = parsed.text;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\'' || c == '"' || c == '`') {
            const std::size_t end = SkipQuoted(text, i);
            out.append(text.substr(i, end - i));
            i = end;
        } else if (c == ':' && i + 1 < text.size() && text[i + 1] == ':') {
            out += "::";
            i += 2;
        } else if (c == ':' && i + 1 < text.size() && IsParamNameChar(text[i + 1])) {
            std::size_t end = i + 1;
            while (end < text.size() && IsParamNameChar(text[end])) ++end;
            parsed.markers.push_back({out.size(), std::string(text.substr(i + 1, end - i - 1))});
            out += '?';
            i = end;
        } else {
            out += c;
            ++i;
        }
    }
    return parsed;
}

std::string SubstituteParams(const TParsedSql& parsed, const TParams& params) {
    std::string out;
    std::size_t from = 0;
    for (const auto& m : parsed.markers) {
        out.append(parsed.text, from, m.offset - from);
        const TParam& param = params.ParamByName(m.name);
        // A parameter nobody gave a value is a mistake, not a NULL.
        if (!param.Bound()) throw EDatabaseError(FormatMsg("No value for parameter '%s'", m.name));
        out += param.SqlLiteral();
        from = m.offset + 1;
    }
    out.append(parsed.text, from, std::string::npos);
    return out;
}

std::optional<std::vector<std::string>> FindSelectTable(std::string_view text) {
    SqlLexer lex(text);
    Token t = lex.Next();
    while (t.kind == Token::Punct && t.text == "(") t = lex.Next();
    if (t.kind != Token::Word || !SameText(t.text, "SELECT")) return std::nullopt;
    int depth = 0;
    for (t = lex.Next(); t.kind != Token::End; t = lex.Next()) {
        if (t.kind == Token::Punct) {
            if (t.text == "(") ++depth;
            if (t.text == ")") --depth;
            continue;
        }
        if (depth != 0 || t.kind != Token::Word || !SameText(t.text, "FROM")) continue;
        Token name = lex.Next();
        if (!IsName(name) || (name.kind == Token::Word && SameText(name.text, "DUAL")))
            return std::nullopt;
        std::vector<std::string> parts{name.text};
        Token dot = lex.Next();
        if (dot.kind == Token::Punct && dot.text == ".") {
            Token table = lex.Next();
            if (!IsName(table)) return std::nullopt;
            parts.push_back(table.text);
        }
        return parts;
    }
    return std::nullopt;
}

std::string QuoteTableName(const std::vector<std::string>& parts, int serverVersion) {
    std::string out;
    for (const auto& part : parts) {
        if (!out.empty()) out += '.';
        if (serverVersion >= 32307) {
            out += '`';
            for (const char c : part) {
                if (c == '`') out += '`';
                out += c;
            }
            out += '`';
        } else {
            out += part;
        }
    }
    return out;
}

bool IsCharsetStatement(std::string_view text) {
    text = TrimLeft(text);
    if (!StartsText("SET", text)) return false;
    const std::string_view rest = TrimLeft(text.substr(3));
    if (rest.size() == text.size() - 3) return false;  // no blank after SET
    for (const std::string_view name :
         {"NAMES", "character_set_client", "character_set_results", "character_set_connection"})
        if (StartsText(name, rest)) return true;
    return false;
}

}  // namespace dbclient
