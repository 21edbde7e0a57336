#include "agent/MessageText.h"

namespace agent {

namespace {

bool StartsCharacter(unsigned char c) {
    return (c & 0xC0) != 0x80;  // not a UTF-8 continuation byte
}

}  // namespace

std::string ShownInMessage(const std::string& text, std::size_t limit) {
    std::string shown;
    std::size_t characters = 0;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (StartsCharacter(c) && characters++ == limit) break;
        shown += (c < 32 || c == 127) ? '?' : static_cast<char>(c);
    }
    return i < text.size() ? shown + "..." : shown;
}

std::string QuotedForMessage(const std::string& text) {
    return "\"" + ShownInMessage(text, 60) + "\"";
}

std::string FirstCharacters(const std::string& text, std::size_t limit) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (StartsCharacter(static_cast<unsigned char>(text[i])) && characters++ == limit)
            return text.substr(0, i);
    return text;
}

}  // namespace agent
