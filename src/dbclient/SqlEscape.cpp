#include "dbclient/SqlEscape.h"

#include <algorithm>

#include "platform/text.h"

namespace dbclient {

std::string EscapeStringLiteral(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8 + 2);
    for (const char c : text) {
        switch (c) {
            case '\0':
                out += "\\0";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\'':
                out += "\\'";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\x1a':
                out += "\\Z";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool KeepsLiteralBytes(std::string_view original, std::string_view converted) {
    for (const char c : {'\0', '\n', '\r', '\\', '\'', '"', '\x1a'}) {
        if (std::count(original.begin(), original.end(), c) !=
            std::count(converted.begin(), converted.end(), c))
            return false;
    }
    return true;
}

std::string AnsiStatementText(std::string_view text) {
    std::string ansi = platform::text::Utf8ToAnsi(std::string(text));
    if (!KeepsLiteralBytes(text, ansi)) {
        throw platform::text::EAnsiConversionError(
            "The statement text would change its quoted values in the ANSI code page (a "
            "character's byte reads as a backslash or quote there): \"" +
            std::string(text) + "\"");
    }
    return ansi;
}

}  // namespace dbclient
