// Escaping of text for a MySQL string literal.
#pragma once

#include <string>
#include <string_view>

namespace dbclient {

// The text with the characters that end or alter a quoted literal written as backslash
// escapes: NUL, line feed, carriage return, backslash, single and double quote and
// Ctrl+Z. The result may stand between single or double quotes and reads back as
// `text` on a server in its default SQL mode with a single-byte-safe character set
// (UTF-8, Latin-1). Every other byte is kept as it is.
std::string EscapeStringLiteral(std::string_view text);

// True when `converted`, an encoding of `original`, holds each of the bytes that
// EscapeStringLiteral writes as an escape exactly as often as `original` does: the
// conversion then kept every escape done on `original`. A double-byte code page whose
// trail byte is a backslash (Shift-JIS, GBK, Big5) does not.
bool KeepsLiteralBytes(std::string_view original, std::string_view converted);

// A statement text (UTF-8) in the system's ANSI code page, for a session whose statements
// are not UTF-8. Its literals were escaped before the conversion, so a conversion that
// does not keep them is refused like a character the page cannot hold:
// platform::text::EAnsiConversionError, naming the text.
std::string AnsiStatementText(std::string_view text);

}  // namespace dbclient
