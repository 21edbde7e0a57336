// Untrusted text (arguments, database values, servers' answers) shown inside an error
// message.
#pragma once

#include <cstddef>
#include <string>

namespace agent {

// `text` with control characters shown as "?" and anything past `limit` characters cut
// off and marked with "...", so that a hostile value cannot garble or flood the message.
std::string ShownInMessage(const std::string& text, std::size_t limit);

// ShownInMessage(text, 60) between double quotes.
std::string QuotedForMessage(const std::string& text);

// The first `limit` characters of a UTF-8 text (never part of a character).
std::string FirstCharacters(const std::string& text, std::size_t limit);

}  // namespace agent
