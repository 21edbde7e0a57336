// The ANSI code page on POSIX is the locale's, taken as UTF-8: nothing to convert.
#include "platform/text.h"

namespace platform::text {

std::string AnsiToUtf8(const std::string& ansi) {
    return ansi;
}
std::string Utf8ToAnsi(const std::string& utf8) {
    return utf8;
}

}  // namespace platform::text
