// Text conversions at platform boundaries. Inside the program text is UTF-8; the
// "ANSI code page" is the system's 8-bit encoding (the locale's, taken as UTF-8 on POSIX).
#pragma once

#include <string>

#include "platform/exception.h"

namespace platform::text {

// A text that the ANSI code page cannot hold: the message names the first character the
// page lacks and the whole text.
class EAnsiConversionError : public Exception {
  public:
    using Exception::Exception;
};

std::string AnsiToUtf8(const std::string& ansi);
// Converts without "best fit": a character that the page cannot hold exactly is never
// replaced by a look-alike or by "?"; it raises EAnsiConversionError instead.
std::string Utf8ToAnsi(const std::string& utf8);
// ISO-8859-1 bytes to UTF-8 and back (characters outside Latin-1 become '?').
std::string Latin1ToUtf8(const std::string& latin1);
std::string Utf8ToLatin1(const std::string& utf8);
// UTF-8 to UTF-16 (little endian code units) and back; invalid bytes become U+FFFD.
std::u16string Utf8ToUtf16(const std::string& utf8);
std::string Utf16ToUtf8(const std::u16string& utf16);

}  // namespace platform::text
