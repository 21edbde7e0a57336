#include "agent/MessageText.h"

namespace agent {

std::string QuotedForMessage(const std::string& text) {
    constexpr std::size_t kLimit = 60;
    std::string shown;
    std::size_t characters = 0;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool startsCharacter = (c & 0xC0) != 0x80;  // not a UTF-8 continuation byte
        if (startsCharacter && characters++ == kLimit) break;
        shown += (c < 32 || c == 127) ? '?' : static_cast<char>(c);
    }
    return "\"" + shown + (i < text.size() ? "...\"" : "\"");
}

}  // namespace agent
