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

}  // namespace dbclient
